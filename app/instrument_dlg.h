#pragma once
// CInstrumentDlg: the instrument panel. It is the audio engine too (second base), so every
// captured buffer lands in its OnCaptureBuffer.
//
// Threads. The GUI thread builds the panel, runs every handler and dialog, starts and stops the
// engine. The capture worker runs OnCaptureBuffer: it never touches a widget. It reads the
// settings from CPanelState (the handlers write them; slider positions and check states are
// mirrored into it by the GUI thread as they change) and hands its results back with
// queued calls: the finished frame, the readout values, the release of "保存屏幕". When it must
// wait for the user (the screen-save file dialog, a box) it waits through the bridge, which the
// closing sequence shuts down first, so closing never waits on a dialog.

#include "analysis/calibration/calibration.h"
#include "app/analysers/distortion_window.h"
#include "app/analysers/frequency_response_window.h"
#include "app/analysers/impedance_window.h"
#include "app/analysers/report_window.h"
#include "app/calibration_dlg.h"
#include "app/gui_bridge.h"
#include "app/panel_prompts.h"
#include "app/panel_state.h"
#include "app/panel_widgets.h"
#include "app/queued_readout.h"
#include "engine/sound_device.h"

#include "gfx/canvas.h"
#include "measure/scope_math.h"

#include <QDialog>
#include <QPointer>

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

class CDigitDisplay;
class CLinkLabel;
class CScopeScreen;
class CStatusLine;
struct ScopeScale;
class QMenu;

// Command id of the About item.
inline constexpr int IDM_ABOUTBOX = 0x0010;
inline constexpr const char* kAboutItemText =
    QT_TRANSLATE_NOOP("CInstrumentDlg", "关于 Tavrin(&A)...");
// The web address behind the sponsor caption.
inline constexpr const char* kSponsorAddress = "https://brenmark.example/";

class CInstrumentDlg : public QDialog, public CSoundDevice {
    Q_OBJECT
public:
    // GUI thread. Builds the controls; the engine's workers exist, capture is not started.
    explicit CInstrumentDlg(QWidget* parent = nullptr,
                            CPanelPrompts prompts = DefaultPanelPrompts());
    // Runs the closing sequence if it has not run yet.
    ~CInstrumentDlg() override;

    // GUI thread. Window set-up and capture start; runs once (also on the first show).
    void OnInitDialog();
    // OnInitDialog, then the modal run; the closing sequence runs before it returns.
    int DoModal();
    // GUI thread. The closing sequence: finish a recording still open, release waiting
    // workers, stop capture and playback, wait out a buffer in progress. Runs once.
    void DestroyWindow();
    // Any command id whose low four bits are ignored; IDM_ABOUTBOX opens the About box.
    void OnSysCommand(int id);
    // The panel's context menu with the About item (window managers offer no system menu).
    QMenu* SystemMenu() const { return m_systemMenu; }

    // The handlers; GUI thread.
    // A checked radio stores its value into the field of its group; other ids do nothing.
    void OnRadio(int id);
    void OnColor(std::atomic<uint32_t>& field);
    void OnFreq(bool left);
    void OnSourceSwitch();
    void OnRecord();
    void OnPause();
    void OnSetReference();
    // The sound-card item: the devices chosen in its dialog take over at once and are
    // remembered for the next start.
    void OnSoundCard();
    // The distortion item: opens the distortion and noise analyser, or raises the one open.
    void OnDistortion();
    // The frequency-response and impedance items, likewise. Opening one analyser closes the
    // others: they share the capture tap and the test signal.
    void OnFrequencyResponse();
    void OnImpedance();
    // The sound card report item: opens the report window, or raises the one open; it closes
    // the other analysers and they close it, as it plays through the same tap and signal.
    void OnReport();
    // The calibration item: opens the calibration dialog, or raises the one open.
    void OnCalibration();
    // The calibrations read at start (and changed by the dialog since); GUI thread.
    const CCalibrationStore& Calibration() const { return m_calibration; }

    // Capture worker.
    void OnCaptureBuffer(const uint8_t* samples) override;
    void OnRecordingEndedAtGap() override;
    // GUI thread. The status strip says who has the card; the scope keeps its last picture, as
    // no buffer arrives to draw another.
    void OnCardLoan(const std::optional<StreamFormat>& lentAt) override;

    CGuiBridge& Bridge() { return m_bridge; }
    const CPanelWidgets& Widgets() const { return m_widgets; }
    CScopeScreen* Screen() const { return m_screen; }
    CDigitDisplay* Display(int id) const;
    CLinkLabel* LinkLabel() const { return m_linkLabel; }
    CStatusLine* StatusLine() const { return m_statusLine; }
    // Buffers OnCaptureBuffer has finished; any thread.
    int64_t BuffersProcessed() const { return m_buffersProcessed.load(); }

    // The state the capture worker reads and refreshes; see CPanelState for who writes what.
    CPanelState& State() { return m_state; }
    const CPanelState& State() const { return m_state; }

    int16_t m_samples[kBlockFrames * 2] = {}; // capture worker only

protected:
    void done(int result) override;
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void CloseAnalysersBut(const QWidget* keep);
    QWidget* MakeCustomWidget(const ControlSpec& control, QWidget* parent);
    void ConnectHandlers();
    void ConnectMirrors();
    // The field a radio of this group writes its value into.
    std::atomic<int32_t>& RadioTarget(int group);
    void DrawScope();
    void OnFrameDone(const CCanvas& frame);
    void SaveScreen(const CCanvas& frame);
    // GUI thread. Reads the calibration file once; a damaged one is said once and leaves the
    // program uncalibrated.
    void LoadCalibration();
    // GUI thread. Hands the store's figures to the status line and an open distortion window.
    void ApplyCalibration();
    // GUI thread. What the scope draws now, for the status line's volts a division.
    ScopeScale CurrentScopeScale() const;

    CPanelPrompts m_prompts;
    CGuiBridge m_bridge;
    CPanelWidgets m_widgets;
    CScopeScreen* m_screen = nullptr;
    CLinkLabel* m_linkLabel = nullptr;
    CStatusLine* m_statusLine = nullptr; // fed by the capture worker, shown by the GUI thread
    QMenu* m_systemMenu = nullptr;
    QPointer<CDistortionWindow> m_distortionWindow;       // deletes itself when closed
    QPointer<CFrequencyResponseWindow> m_frequencyWindow; // likewise
    QPointer<CImpedanceWindow> m_impedanceWindow;         // likewise
    QPointer<CReportWindow> m_reportWindow;               // likewise
    QPointer<CCalibrationDlg> m_calibrationDlg;           // deletes itself when closed
    CCalibrationStore m_calibration;                      // GUI thread only
    CQueuedReadout m_readoutX1, m_readoutX2, m_readoutMeter, m_readoutL, m_readoutR;
    CPanelState m_state;

    // Capture worker only. Two rasters taken in turn: the GUI shows one frame while the next is
    // drawn into the other, so a finished frame is handed over without copying it.
    std::array<CCanvas, 2> m_canvases;
    int m_canvasIndex = 0;
    // The screen labels' units in the program's language, UTF-8; fixed at construction, read
    // by the capture worker.
    QByteArray m_timeBaseUnit;
    QByteArray m_spectrumUnit;

    bool m_initialised = false;
    bool m_destroyed = false;
    std::atomic<bool> m_closing{false};
    // Held by OnCaptureBuffer; the closing sequence takes it to wait out a buffer in progress.
    std::mutex m_captureMutex;
    std::atomic<int64_t> m_buffersProcessed{0};
};
