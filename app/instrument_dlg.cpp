#include "app/instrument_dlg.h"

#include "app/app_resources.h"
#include "app/device_dlg.h"
#include "app/scope_screen.h"
#include "app/status_line.h"
#include "base/trace.h"
#include "base/ui_font.h"
#include "controls/digit_display.h"
#include "controls/hand_cursor.h"
#include "controls/link_label.h"

#include <QAbstractButton>
#include <QAction>
#include <QContextMenuEvent>
#include <QIcon>
#include <QKeyEvent>
#include <QMenu>
#include <QPushButton>
#include <QSlider>

#include <string_view>

namespace {

// The scope draws its labels' units as given; they are marked for translation here.
constexpr const char* kTimeBaseUnitText = QT_TRANSLATE_NOOP("CInstrumentDlg", "微秒每格");
constexpr const char* kSpectrumUnitText = QT_TRANSLATE_NOOP("CInstrumentDlg", "HZ每格");
static_assert(std::string_view(kTimeBaseUnitText) == kTimeBaseUnit);
static_assert(std::string_view(kSpectrumUnitText) == kSpectrumUnit);

QIcon ProgramIcon() {
    QIcon icon;
    icon.addFile(QStringLiteral(":/res/tavrin-32.png"));
    icon.addFile(QStringLiteral(":/res/tavrin-48.png"));
    icon.addFile(QStringLiteral(":/res/tavrin.png"));
    return icon;
}

} // namespace

CInstrumentDlg::CInstrumentDlg(QWidget* parent, CPanelPrompts prompts)
    : QDialog(parent), m_prompts(std::move(prompts)) {
    InitAppResources();
    setWindowTitle(QString::fromUtf8(kPanelCaption));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setFont(QFont(QString::fromUtf8(kUiFontFamily), kPanelFontPointSize));
    const PixelRect client = DialogUnitsToPixels({0, 0, kPanelWidthDlu, kPanelHeightDlu});
    // The window is the panel's client area and the status line under it.
    setFixedSize(client.width, client.height + kStatusLineHeightPx);
    setWindowIcon(ProgramIcon());
    m_timeBaseUnit = tr(kTimeBaseUnitText).toUtf8();
    m_spectrumUnit = tr(kSpectrumUnitText).toUtf8();

    m_widgets.Build(this, [this](const ControlSpec& control, QWidget* parent) {
        return MakeCustomWidget(control, parent);
    });
    m_statusLine = new CStatusLine(this, client);
    m_statusLine->SetScopeScaleSource([this] { return CurrentScopeScale(); });
    connect(m_statusLine, &CStatusLine::HeightChanged, this, [this, client](int heightPx) {
        setFixedSize(client.width, client.height + heightPx);
    });
    m_readoutX1.Attach(Display(ctl::kReadoutX1));
    m_readoutX2.Attach(Display(ctl::kReadoutX2));
    m_readoutMeter.Attach(Display(ctl::kReadoutMeter));
    // A generator readout arriving after the source was switched off stays blank.
    auto sourceOn = [this] { return m_widgets.Button(ctl::kSourceSwitch)->isChecked(); };
    m_readoutL.Attach(Display(ctl::kReadoutL), sourceOn);
    m_readoutR.Attach(Display(ctl::kReadoutR), sourceOn);
    ConnectMirrors();
    ConnectHandlers();
}

CInstrumentDlg::~CInstrumentDlg() {
    DestroyWindow();
}

QWidget* CInstrumentDlg::MakeCustomWidget(const ControlSpec& control, QWidget* parent) {
    switch (control.kind) {
    case ControlKind::Screen:
        m_screen = new CScopeScreen(parent);
        return m_screen;
    case ControlKind::Readout:
        return new CDigitDisplay(parent);
    case ControlKind::Link:
        m_linkLabel = new CLinkLabel(QString::fromUtf8(control.caption), parent);
        return m_linkLabel;
    default:
        return nullptr;
    }
}

CDigitDisplay* CInstrumentDlg::Display(int id) const {
    return dynamic_cast<CDigitDisplay*>(m_widgets.Widget(id));
}

void CInstrumentDlg::ConnectMirrors() {
    for (int index = 0; index < kMirrorCount; ++index) {
        const int id = kMirroredIds[index];
        std::atomic<int32_t>* value = &m_state.m_mirrored[index];
        if (QSlider* slider = m_widgets.Slider(id)) {
            value->store(slider->value());
            connect(slider, &QSlider::valueChanged, this, [value](int v) { value->store(v); });
        } else if (QAbstractButton* button = m_widgets.Button(id)) {
            value->store(button->isChecked() ? 1 : 0);
            // toggled comes before clicked, so a handler already sees the new state mirrored.
            connect(button, &QAbstractButton::toggled, this,
                    [value](bool on) { value->store(on ? 1 : 0); });
        }
    }
}

void CInstrumentDlg::OnInitDialog() {
    if (m_initialised) {
        return;
    }
    m_initialised = true;

    m_systemMenu = new QMenu(this);
    const QString aboutText = tr(kAboutItemText);
    if (!aboutText.isEmpty()) {
        QAction* about = m_systemMenu->addAction(aboutText);
        about->setData(IDM_ABOUTBOX);
        connect(about, &QAction::triggered, this, [this] { OnSysCommand(IDM_ABOUTBOX); });
    }
    connect(m_systemMenu->addAction(tr(kSoundCardItemText)), &QAction::triggered, this,
            [this] { OnSoundCard(); });
    connect(m_systemMenu->addAction(tr(kDistortionItemText)), &QAction::triggered, this,
            [this] { OnDistortion(); });
    connect(m_systemMenu->addAction(tr(kFrequencyResponseItemText)), &QAction::triggered, this,
            [this] { OnFrequencyResponse(); });
    connect(m_systemMenu->addAction(tr(kCalibrationItemText)), &QAction::triggered, this,
            [this] { OnCalibration(); });
    connect(m_systemMenu->addAction(tr(kImpedanceItemText)), &QAction::triggered, this,
            [this] { OnImpedance(); });
    connect(m_systemMenu->addAction(tr(kReportItemText)), &QAction::triggered, this,
            [this] { OnReport(); });
    LoadCalibration();

    // Sliders already hold their start positions; the start-up radios are checked here.
    for (int id : InitiallyCheckedRadios()) {
        m_widgets.Button(id)->setChecked(true);
    }
    m_state.m_scopeMode = 1;
    m_state.m_gainDivX1 = 1;
    m_state.m_gainDivX2 = 1;
    m_recording = 0;
    m_freqL = 0;
    m_freqR = 0;

    StartCapture();

    Display(ctl::kReadoutL)->SetValue(-1, false);
    Display(ctl::kReadoutR)->SetValue(-1, false);
    m_waveL = 0;
    m_waveR = 0;

    m_linkLabel->PreSubclassWindow();
    m_linkLabel->SetAddress(QString::fromUtf8(kSponsorAddress));
    m_linkLabel->m_cursor = HandCursor();
}

int CInstrumentDlg::DoModal() {
    OnInitDialog();
    return exec();
}

void CInstrumentDlg::showEvent(QShowEvent* event) {
    Trace("window shown");
    OnInitDialog();
    QDialog::showEvent(event);
}

void CInstrumentDlg::DestroyWindow() {
    if (m_destroyed) {
        return;
    }
    m_destroyed = true;
    m_closing = true;
    // A recording still open is finished first, as RECORD would finish it: at the last buffer
    // written, with every frame before it, while the generator and the devices still run.
    // Stopping capture hands the queued buffers back part-filled. This waits out a write in
    // progress, never a box.
    m_recording = 0;
    StopRecording();
    // Then release a worker waiting on the user and close what it waits on; only then can
    // stopping the engine wait for the worker without waiting forever.
    m_bridge.Shutdown();
    for (QDialog* dialog : findChildren<QDialog*>()) {
        if (dialog->isVisible()) {
            dialog->reject();
        }
    }
    StopCapture();
    StopPlayback();
    { std::lock_guard wait(m_captureMutex); }
}

void CInstrumentDlg::done(int result) {
    DestroyWindow();
    QDialog::done(result);
}

void CInstrumentDlg::keyPressEvent(QKeyEvent* event) {
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    // The keypad's Enter is the same key to the user; only its modifier tells it apart.
    if (enter && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        // Enter presses the push button that has the focus, and otherwise ends the panel.
        // Radios and toggles are drawn as push buttons but are not ones: Enter leaves them be.
        auto* button = qobject_cast<QPushButton*>(focusWidget());
        if (button != nullptr && !button->isCheckable()) {
            button->click();
        } else {
            accept();
        }
        return;
    }
    QDialog::keyPressEvent(event);
}

void CInstrumentDlg::contextMenuEvent(QContextMenuEvent* event) {
    if (m_systemMenu != nullptr && !m_systemMenu->isEmpty()) {
        m_systemMenu->popup(event->globalPos());
    }
}

void CInstrumentDlg::OnSysCommand(int id) {
    if ((id & 0xFFF0) == IDM_ABOUTBOX) {
        m_prompts.showAbout(this);
    }
}
