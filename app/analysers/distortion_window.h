#pragma once
// CDistortionWindow: the distortion and noise analyser, opened from the panel's context menu
// ("失真与噪声…"). Non-modal, one at a time. While it is open it listens to every captured
// buffer through the engine's capture tap and, when asked, plays the analyser's own test
// signal; closed, it leaves nothing behind on the capture path and gives the line output back.
// The live table, the plots and the exports all show the same block's figures.
//
// At a rate or sample format of its own (CStreamFormatChoice) the window borrows the card from
// the panel (CAnalyserStream) for as long as it listens at it: the monitor is fed the measurement
// stream's floats and the tone plays through the stream's own source.
//
// Threads: GUI thread only. The monitor's rows are made on the capture worker (or the stream's
// I/O thread) and handed over in a triple buffer made beforehand, the GUI thread woken through a
// CWorkerWake made with the window: the feeding thread allocates nothing and posts no event.
// Closing the window removes the tap (or stops the stream) first, so no row is made after.

#include "analysis/distortion/distortion_monitor.h"
#include "app/analysers/analyser_stream.h"
#include "app/analysers/distortion_table.h"
#include "base/triple_buffer.h"
#include "engine/test_signal_user.h"

#include <QDialog>

#include <array>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

class CDistortionCharts;
class CStreamSignalSource;
class CSoundDevice;
class CStreamFormatChoice;
class QLabel;
class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class CWorkerWake;
class QTableWidget;

inline constexpr const char* kDistortionItemText =
    QT_TRANSLATE_NOOP("CInstrumentDlg", "失真与噪声…");

class CDistortionWindow : public QDialog, private TestSignalUser {
    Q_OBJECT
public:
    CDistortionWindow(CSoundDevice& engine, QWidget* owner);
    ~CDistortionWindow() override;

    // What the table shows, as CSV; and written to a file (false with the reason in *error).
    QString TableCsv() const;
    bool ExportTableCsv(const QString& path, QString* error) const;
    bool ExportPlots(const QString& path, QString* error);
    // Each input channel's volts at 0 dBFS for the device in use, nothing where it is
    // uncalibrated; the fundamental's level in volts follows from the next block on.
    void SetCalibration(const std::array<std::optional<double>, kChannels>& vrmsAt0Dbfs) {
        m_vrmsAt0Dbfs = vrmsAt0Dbfs;
    }
    // Blocks shown since the window opened (for tests).
    int BlocksShown() const { return m_blocksShown; }
    // The format the analysis runs at now: the panel's stream, or the card lent at another.
    const StreamFormat& RunningFormat() const { return m_format; }

    void done(int result) override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    // Shows the newest row the capture worker left, if it left one since.
    void TakeRow();
    QWidget* MakeSignalControls();
    QWidget* MakeAnalysisControls();
    QWidget* MakeExportButtons();
    void Listen();
    void StopListening();
    // The monitor fed from the panel's stream (its tap) at the panel's format, else from a
    // measurement stream; a refusal is said in the window and the panel's format taken instead
    // (false).
    bool StartInput();
    void StopInput();
    // The user's choice of rate and sample format, while listening or not.
    void OnFormatChosen(const StreamFormat& format);
    // The controls whose range follows the rate: the tone's, the band's Nyquist, block lengths.
    void FollowRate();
    static void StreamTap(const float* interleaved, int frames, uint64_t gapCount, ClockStamp stamp,
                          void* monitor);
    // The calibration's tone took the line output: the box shows it no longer plays.
    void TestSignalTaken() override;
    void ApplySettings();
    void ApplySignal();
    // The two-tone signal the measurement asks for; nothing for the harmonic distortion.
    std::optional<ImdTones> ChosenImd() const;
    void ShowRow(const DistortionRow& row);
    void ShowTable(const QVector<DistortionTableRow>& table);
    void CopyCsv();
    void SaveCsv();
    void SavePlots();

    CSoundDevice& m_engine;
    // From the capture worker to the GUI thread; declared before the monitor, whose rows it takes.
    CTripleBuffer<DistortionRow> m_rows{DistortionRowWithRoom()};
    CWorkerWake* m_wake = nullptr; // the capture worker's rows wake the GUI thread through it
    std::unique_ptr<CDistortionMonitor> m_monitor;
    // The test signal on a measurement stream; declared before the stream, which plays it.
    std::unique_ptr<CStreamSignalSource> m_streamSignal;
    CAnalyserStream m_stream;
    StreamFormat m_format; // what the monitor is fed at
    bool m_listening = false;
    bool m_playing = false;
    int m_blocksShown = 0;
    QVector<DistortionTableRow> m_table;
    std::array<std::optional<double>, kChannels> m_vrmsAt0Dbfs;

    QCheckBox* m_play = nullptr;
    QComboBox* m_measurement = nullptr;
    QDoubleSpinBox* m_frequency = nullptr;
    QDoubleSpinBox* m_level = nullptr;
    QCheckBox* m_dither = nullptr;
    QDoubleSpinBox* m_imdF1 = nullptr;
    QDoubleSpinBox* m_imdF2 = nullptr;
    QDoubleSpinBox* m_imdRatio = nullptr;
    QComboBox* m_blockSize = nullptr;
    QComboBox* m_band = nullptr;
    QComboBox* m_weighting = nullptr;
    CStreamFormatChoice* m_formatChoice = nullptr;
    QLabel* m_streamStatus = nullptr; // a refusal's line
    QTableWidget* m_tableWidget = nullptr;
    CDistortionCharts* m_charts = nullptr;
};
