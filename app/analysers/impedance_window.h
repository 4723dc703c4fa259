#pragma once
// CImpedanceWindow: the impedance analyser, opened from the panel's context menu ("阻抗…").
// Non-modal, one at a time. While open it plays its test tone and reads the part wired between
// the line output and the reference resistor (X1 at the top, X2 across R_ref): live readings at
// one frequency, or a stepped sweep drawn as |Z| and phase over frequency. Closed, it leaves
// nothing on the capture path and gives the line output back. The card's corrections (input
// impedance, channel match, open and short) are kept per card in the impedance calibration file.
//
// The window owns the run and the tone; its readout (impedance_readout.h) and the card's
// corrections (impedance_corrections_box.h) are classes of their own, and its sweep and exports
// are in impedance_window_sweep.cpp and impedance_window_export.cpp.
//
// At a rate or sample format of its own the window borrows the card from the panel for as long as
// it is open at it; the run is then fed on the measurement stream's I/O thread, as below.
//
// Threads: GUI thread only. The run is fed on the capture worker, which allocates nothing there:
// it leaves its reading in a mailbox and its sweep's news in atomics, and wakes the window
// through CWorkerWake. The run is only replaced while the tap is removed.

#include "analysis/impedance/impedance_live.h"
#include "analysis/impedance/impedance_readings.h"
#include "app/analysers/analyser_stream.h"
#include "app/analysers/impedance_corrections_box.h"
#include "app/analysers/impedance_readout.h"
#include "app/analysers/worker_wake.h"
#include "base/latest_value.h"
#include "engine/test_signal_user.h"

#include <QDialog>

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

class CImpedanceChart;
class CSoundDevice;
class CStreamFormatChoice;
class CStreamSignalSource;
class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QSpinBox;

inline constexpr const char* kImpedanceItemText = QT_TRANSLATE_NOOP("CInstrumentDlg", "阻抗…");

class CImpedanceWindow : public QDialog, private TestSignalUser {
    Q_OBJECT
public:
    CImpedanceWindow(CSoundDevice& engine, QWidget* owner);
    ~CImpedanceWindow() override;

    // The curve the plot shows (the last sweep's measured points), and its exports.
    const std::vector<ImpedanceCurvePoint>& Curve() const { return m_curve; }
    bool ExportCsv(const QString& path, QString* error) const;
    bool ExportZma(const QString& path, QString* error) const;
    bool ExportPlot(const QString& path, QString* error);
    // Live readings shown since the window opened, and the latest (for tests).
    int ReadingsShown() const { return m_readingsShown; }
    const std::optional<ImpedanceLiveReading>& LastReading() const { return m_last; }
    bool Sweeping() const { return m_sweeping; }
    void StartSweep();

    void done(int result) override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    // On the capture worker's wake: whatever it left.
    void OnWorkerWake();
    void TakeReading();
    void PlayNextTone();
    void SweepFinished();

    QWidget* MakeMeasureControls();
    QWidget* MakeSweepControls();
    QWidget* MakeExportButtons();
    static void Tap(const int16_t* interleaved, int frames, uint64_t gapCount, void* self);
    // The run's feed on a measurement stream, while SetRunTap has it on. The stream's I/O thread.
    static void StreamTap(const float* interleaved, int frames, uint64_t gapCount, ClockStamp,
                          void* self);
    template <class Sample> void FeedRun(const Sample* interleaved, int frames, uint64_t gapCount);
    // Feeds the run from the panel's tap or the stream's; off waits out a call in progress, so
    // the run may then be replaced.
    void SetRunTap(bool on);
    // The user's rate and sample format: the card is lent (or given back) and the run made
    // again at it; a refusal is said under the controls and the panel's format taken.
    void OnFormatChosen(const StreamFormat& format);
    // Opens the measurement stream at m_format; on a refusal, the panel's format instead.
    void OpenStream();
    void CloseStream();
    // Removes the tap, makes a new run (live, or the sweep when `sweep`) and starts its tone.
    void Restart(bool sweep);
    void StopListening();
    // Another tone took the line output, which this window needs all the time it is open:
    // it closes, as the analysers close each other.
    void TestSignalTaken() override;
    void Play(double freq_hz);
    // The capture device's name now, and its stored corrections when it changed.
    void FollowDevice();
    void ShowReading(const ImpedanceLiveReading& reading);
    // At the live reading's frequency, or over the sweep's frequencies when so chosen.
    void Calibrate(ImpedanceCalKind kind);
    // A calibration sweep's points stored when it finished (sweep: nothing when stopped before
    // it started); what was refused said; then back to live readings.
    void FinishCalibrationSweep(const CImpedanceSweep* sweep);
    void ClearCalibration();
    void EndSweep(); // shows what the sweep measured, then goes back to live readings
    // The curve's resonance and a driver's figures (with the Re given, if any) under the plot.
    void ShowFigures();
    ImpedanceCorrections Corrections() const;
    void SaveFile(const QString& title, const QString& name, const QString& filter, int kind);

    // The frequencies the window plays, live and swept.
    static constexpr double kLowestHz = 10.0;
    static constexpr double kHighestHz = 20000.0;

    CSoundDevice& m_engine;
    // From the capture worker to the GUI thread; declared before the run, which fills them.
    CLatestValue<ImpedanceLiveReading> m_latest;
    std::atomic<double> m_nextToneHz{0.0};
    std::atomic<double> m_progress{0.0};
    std::atomic<bool> m_sweepDone{false};
    CWorkerWake* m_wake = nullptr;
    std::unique_ptr<CImpedanceRun> m_run;
    // At a format of the window's own: the tone's source (declared before the stream, which
    // plays it) and the stream, its tap gated by the mutex, held across each call.
    StreamFormat m_format;
    std::unique_ptr<CStreamSignalSource> m_streamSignal;
    std::mutex m_streamTapMutex;
    bool m_streamTapOn = false; // guarded by m_streamTapMutex
    CAnalyserStream m_stream;
    bool m_listening = false;
    bool m_sweeping = false;
    std::optional<ImpedanceCalKind> m_calibrating; // the sweep under way stores this correction
    std::optional<std::pair<double, double>> m_playing; // hertz and dBFS
    int64_t m_loopFrames = 0; // the first tone's arrival after the window opened
    int m_readingsShown = 0;
    std::optional<ImpedanceLiveReading> m_last;
    std::vector<ImpedanceCurvePoint> m_curve;
    int m_uncalibrated = 0; // points of m_curve read outside the stored corrections
    CImpedanceReadout m_readout;
    CImpedanceCorrectionsBox m_corrections{this};

    QDoubleSpinBox* m_frequency = nullptr;
    QDoubleSpinBox* m_level = nullptr;
    QDoubleSpinBox* m_rRef = nullptr;
    QDoubleSpinBox* m_inputImpedance = nullptr;
    QComboBox* m_model = nullptr;
    CStreamFormatChoice* m_formatChoice = nullptr;
    QLabel* m_streamStatus = nullptr; // a refusal's line
    QDoubleSpinBox* m_sweepFrom = nullptr;
    QDoubleSpinBox* m_sweepTo = nullptr;
    QSpinBox* m_perOctave = nullptr;
    QDoubleSpinBox* m_re = nullptr; // a driver's DC resistance; 0: the fit's
    QPushButton* m_startSweep = nullptr;
    QPushButton* m_stopSweep = nullptr;
    QProgressBar* m_progressBar = nullptr;
    QLabel* m_speakerLabel = nullptr;
    CImpedanceChart* m_chart = nullptr;
};
