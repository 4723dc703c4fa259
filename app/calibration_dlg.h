#pragma once
// CCalibrationDlg: volts for the sound card, opened from the panel's context menu. Non-modal,
// one at a time. For the capture device in use it takes a voltmeter's reading of the live
// input level of X1 or X2; for the playback device it plays a 1 kHz tone at a chosen level and
// takes the reading of L or R. Each "Set" stores volts at 0 dBFS for (device, side, channel)
// in the panel's store and saves the file at once; a reading that cannot calibrate, or a file
// that cannot be written, is said in a box and changes nothing on disk.
//
// Threads: GUI thread only. The live level is the status line's own reading, shown when the
// status line shows it; the dialog measures nothing itself.

#include "analysis/calibration/calibration.h"
#include "engine/test_signal_user.h"

#include <QDialog>

#include <array>
#include <functional>
#include <string>

class CSoundDevice;
class CStatusLine;
class QComboBox;
class QDoubleSpinBox;
class QGroupBox;
class QLabel;
class QPushButton;

inline constexpr const char* kCalibrationItemText = QT_TRANSLATE_NOOP("CInstrumentDlg", "校准…");

class CCalibrationDlg : public QDialog, private TestSignalUser {
    Q_OBJECT
public:
    // store: the panel's, written here and saved to `path`; stored() runs after each change
    // so the panel's readings pick it up. The tone plays through the engine's test signal.
    CCalibrationDlg(CSoundDevice& engine, const CStatusLine& statusLine, CCalibrationStore& store,
                    std::string path, std::function<void()> stored, QWidget* owner);

    // "Set" of each side, as its button does; false when nothing was stored.
    bool SetInput();
    bool SetOutput();
    // "Play" of the output side: on plays the tone at the chosen level, off stops it.
    void Play(bool on);
    // The devices in use and their stored figures shown anew: after a change of sound card.
    void Refresh();

    void done(int result) override;

private:
    QWidget* MakeInputSide();
    QWidget* MakeOutputSide();
    // The input channel's level: the power mean of the status line's last readings, so that a
    // single buffer's share of a cycle more or less does not go into the calibration.
    double InputLevelDbfs() const;
    void TakeReading();
    void ShowLevel();
    void ShowStored();
    bool Store(CalibrationSide side, int channel, double vrms, double dbfs);
    // An analyser took the line output: "Play" shows it no longer plays.
    void TestSignalTaken() override;

    CSoundDevice& m_engine;
    const CStatusLine& m_statusLine;
    CCalibrationStore& m_store;
    std::string m_path;
    std::function<void()> m_stored;
    bool m_playing = false;
    static constexpr int kAveragedReadings = 8; // 0.74 s
    std::array<double, kAveragedReadings> m_powers{};
    int m_powerCount = 0;
    int m_powerNext = 0;

    QGroupBox* m_inSide = nullptr;
    QGroupBox* m_outSide = nullptr;
    QComboBox* m_inChannel = nullptr;
    QLabel* m_inLevel = nullptr;
    QDoubleSpinBox* m_inVolts = nullptr;
    QLabel* m_inStored = nullptr;
    QComboBox* m_outChannel = nullptr;
    QDoubleSpinBox* m_outLevel = nullptr;
    QPushButton* m_play = nullptr;
    QDoubleSpinBox* m_outVolts = nullptr;
    QLabel* m_outStored = nullptr;
};
