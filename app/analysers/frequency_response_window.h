#pragma once
// CFrequencyResponseWindow: the frequency-response analyser, opened from the panel's context
// menu ("频率响应…"). Non-modal, one at a time. A run plays a synchronized sweep on the line
// output, once the engine's capture tap has begun to feed the measurement; when the sweep has come
// back the window tears the run down, analyses it and shows magnitude, phase, harmonics and the
// impulse response, or says in words why it could not. Between runs it costs the capture path
// nothing. Curves can be kept or loaded as overlays, and the result saved as CSV, FRD, a float WAV
// of the impulse response, or a picture of the plots.
//
// At a rate or sample format of its own a run borrows the card from the panel for the run alone,
// fed on the measurement stream's I/O thread.
//
// Threads: GUI thread only. The measurement's Tap runs on the capture worker while a run is on;
// the window sets the tap before the sweep plays and removes it (which waits out a call in
// progress) before the measurement goes to a thread of the window's own to be analysed.

#include "analysis/sweep/sweep_measurement.h"
#include "app/analysers/analyser_stream.h"
#include "app/analysers/frequency_response_charts.h"
#include "engine/test_signal_user.h"

#include <QDialog>
#include <QElapsedTimer>

#include <functional>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

class CSoundDevice;
class CStreamFormatChoice;
class CStreamSignalSource;
class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QListWidget;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QTimer;

inline constexpr const char* kFrequencyResponseItemText =
    QT_TRANSLATE_NOOP("CInstrumentDlg", "频率响应…");

class CFrequencyResponseWindow : public QDialog, private TestSignalUser {
    Q_OBJECT
public:
    CFrequencyResponseWindow(CSoundDevice& engine, QWidget* owner);
    ~CFrequencyResponseWindow() override;

    void Start();
    void Stop();
    // From Start until the outcome (or failure) is shown, analysis included.
    bool Running() const { return m_run != nullptr || m_analysing; }
    // The last run's outcome, shown in the window (a failure shows no curve).
    const std::optional<SweepOutcome>& Outcome() const { return m_outcome; }
    // The status line under the controls: the latency, or why the run failed.
    QString StatusText() const;

    // The shown measurement to a file; false with the reason in *error.
    bool ExportCsv(const QString& path, QString* error) const;
    bool ExportFrd(const QString& path, QString* error) const;
    bool ExportImpulse(const QString& path, QString* error) const;
    bool ExportPlot(const QString& path, QString* error);
    // Keeps the shown measurement as an overlay; loads an FRD or our CSV file as one.
    void KeepOverlay();
    bool LoadOverlay(const QString& path, QString* error);
    const CFrequencyResponseCharts& Charts() const { return *m_charts; }

    void done(int result) override;

private:
    QWidget* MakeSettings();
    QWidget* MakeOverlayList();
    QWidget* MakeExportButtons();
    SweepMeasurementSettings Settings() const;
    bool Begin(const SweepMeasurementSettings& settings);
    void Poll();
    // The run's tap, each buffer with its capture time. Capture worker.
    static void Tap(const int16_t* interleaved, int frames, uint64_t gapCount, void* self);
    // Likewise on a measurement stream. The stream's I/O thread.
    static void StreamTap(const float* interleaved, int frames, uint64_t gapCount, ClockStamp stamp,
                          void* self);
    // The controls whose range follows the chosen rate: the top frequency, the sweep lengths.
    void FollowRate();
    void Finish(bool stopped);
    // Another tone took the line output: a run in progress ends as stopped.
    void TestSignalTaken() override;
    void Conclude(const SweepMeasurementSettings& settings, SweepOutcome outcome);
    void Teardown();
    void ShowFailure(SweepFailure failure);
    void ShowOverlays();
    void SaveWithDialog(const QString& title, const QString& name, const QString& filter,
                        const std::function<bool(const QString&, QString*)>& save);
    QString FrdComment() const;

    CSoundDevice& m_engine;
    std::unique_ptr<CSweepMeasurement> m_run; // while the sweep plays and comes back
    // A run at a format of the window's own borrows the card for itself alone: the sweep plays
    // through the stream's source, declared before the stream, which plays it.
    StreamFormat m_runFormat;
    std::unique_ptr<CStreamSignalSource> m_streamSignal;
    CAnalyserStream m_stream;
    bool m_sweepPlaying = false; // else the output is silent, waiting for capture
    bool m_analysing = false;    // then m_analysis has it
    std::jthread m_analysis;
    bool m_retried = false; // the run now on is the one automatic retry after a gap
    double m_lastProgress = 0;
    QElapsedTimer m_sinceProgress; // since the capture last brought a buffer
    std::optional<SweepOutcome> m_outcome;
    SweepMeasurementSettings m_outcomeSettings; // what m_outcome was measured with
    std::vector<FrequencyResponseOverlay> m_overlays;

    QDoubleSpinBox* m_fromHz = nullptr;
    QDoubleSpinBox* m_toHz = nullptr;
    QComboBox* m_length = nullptr;
    QDoubleSpinBox* m_level = nullptr;
    QComboBox* m_output = nullptr;
    QComboBox* m_reference = nullptr;
    QSpinBox* m_averages = nullptr;
    QComboBox* m_smoothing = nullptr;
    CStreamFormatChoice* m_formatChoice = nullptr;
    QSpinBox* m_pointsPerOctave = nullptr;
    QCheckBox* m_gate = nullptr; // the time window on the impulse response, off by default
    QDoubleSpinBox* m_gateLeftMs = nullptr;
    QDoubleSpinBox* m_gateRightMs = nullptr;
    QPushButton* m_start = nullptr;
    QPushButton* m_stop = nullptr;
    QProgressBar* m_progress = nullptr;
    QLabel* m_status = nullptr;
    QCheckBox* m_harmonics = nullptr;
    QListWidget* m_overlayList = nullptr;
    QTimer* m_poll = nullptr;
    CFrequencyResponseCharts* m_charts = nullptr;
};
