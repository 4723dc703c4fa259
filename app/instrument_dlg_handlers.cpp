// The click handlers of the panel. Each writes one field (or asks a question whose answer goes
// into one); the capture worker picks the new value up at its next buffer.
#include "app/instrument_dlg.h"

#include "app/status_line.h"
#include "app/translation.h"
#include "audio/wave/wave_api.h"
#include "base/format_and_alert.h"
#include "controls/digit_display.h"

#include <QAbstractButton>
#include <QSlider>

namespace {

// An analyser window comes to the front whether it was just made or already open.
void Present(QWidget* window) {
    window->show();
    window->raise();
    window->activateWindow();
}

} // namespace

void CInstrumentDlg::ConnectHandlers() {
    for (const ControlSpec& control : PanelControls()) {
        if (control.kind == ControlKind::Radio) {
            const int id = control.id;
            connect(m_widgets.Button(id), &QAbstractButton::clicked, this,
                    [this, id] { OnRadio(id); });
        }
    }
    const auto onClick = [this](int id, auto handler) {
        connect(m_widgets.Button(id), &QAbstractButton::clicked, this, handler);
    };
    onClick(ctl::kColorX1, [this] { OnColor(m_state.m_colorX1); });
    onClick(ctl::kColorX2, [this] { OnColor(m_state.m_colorX2); });
    onClick(ctl::kColorGrid, [this] { OnColor(m_state.m_colorGrid); });
    onClick(ctl::kColorBack, [this] { OnColor(m_state.m_colorBack); });
    onClick(ctl::kFreqL, [this] { OnFreq(true); });
    onClick(ctl::kFreqR, [this] { OnFreq(false); });
    onClick(ctl::kSourceSwitch, [this] { OnSourceSwitch(); });
    onClick(ctl::kRecord, [this] { OnRecord(); });
    onClick(ctl::kPause, [this] { OnPause(); });
    onClick(ctl::kSetReference, [this] { OnSetReference(); });
}

void CInstrumentDlg::OnRadio(int id) {
    const ControlSpec* control = FindPanelControl(id);
    if (control == nullptr || control->kind != ControlKind::Radio ||
        !m_widgets.Button(id)->isChecked()) {
        return;
    }
    RadioTarget(control->radioGroup).store(control->radioValue);
}

std::atomic<int32_t>& CInstrumentDlg::RadioTarget(int group) {
    switch (group) {
    case kGroupScopeMode:
        return m_state.m_scopeMode;
    case kGroupGainX1:
        return m_state.m_gainDivX1;
    case kGroupGainX2:
        return m_state.m_gainDivX2;
    case kGroupAttenL:
        return m_attenL;
    case kGroupAttenR:
        return m_attenR;
    case kGroupWaveL:
        return m_waveL;
    case kGroupWaveR:
        return m_waveR;
    case kGroupMeterMode:
    default:
        return m_state.m_meterMode;
    }
}

void CInstrumentDlg::OnColor(std::atomic<uint32_t>& field) {
    if (const auto color = m_prompts.chooseColor(this)) {
        field = *color;
    }
}

void CInstrumentDlg::OnFreq(bool left) {
    // Without the signal source there is nothing to set: no dialog, no message.
    if (!m_widgets.Button(ctl::kSourceSwitch)->isChecked()) {
        return;
    }
    const auto value = m_prompts.askFrequency(this);
    if (!value) {
        return;
    }
    (left ? m_freqL : m_freqR) = int32_t(*value);
    // The slider is the lasting setting: every buffer copies its position into the field.
    QSlider* slider = m_widgets.Slider(left ? ctl::kSliderFreqL : ctl::kSliderFreqR);
    slider->setValue(int(*value));
    slider->repaint();
}

void CInstrumentDlg::OnSourceSwitch() {
    if (m_widgets.Button(ctl::kSourceSwitch)->isChecked()) {
        // Set first: the buffers primed while starting already carry the signal.
        m_generatorOn = true;
        // Blanked directly when the source went off: the next reading must be shown anew.
        m_readoutL.Forget();
        m_readoutR.Forget();
        StartPlayback();
    } else {
        StopPlayback();
        m_generatorOn = false;
        Display(ctl::kReadoutL)->SetValue(-1, true);
        Display(ctl::kReadoutR)->SetValue(-1, true);
    }
}

void CInstrumentDlg::OnRecord() {
    QAbstractButton* record = m_widgets.Button(ctl::kRecord);
    if (m_recording != 0) {
        // Cleared before the file is finished, so the worker stops appending first.
        m_recording = 0;
        record->setText(tr("Record"));
        StopRecording();
        return;
    }
    const auto path =
        m_prompts.chooseSavePath(this, {QStringLiteral("wav"), tr("WAV文件 (*.wav)")});
    if (!path) {
        record->setChecked(false); // springs back up
        return;
    }
    // The whole path is passed on, however long: a shortened one would name another file.
    // Checked again: a recording that a gap ended may have released the button meanwhile.
    record->setChecked(true);
    record->setText(tr("Recording"));
    m_recording = 1;
    StartRecording(path->c_str());
}

void CInstrumentDlg::OnPause() {
    m_state.m_paused = m_state.m_paused.load() == 0 ? 1 : 0;
}

void CInstrumentDlg::OnSetReference() {
    if (const auto value = m_prompts.askReference(this)) {
        m_state.m_refValue = *value;
    }
}

void CInstrumentDlg::OnSoundCard() {
    const DeviceNames current{WaveDeviceName(WaveDirection::In),
                              WaveDeviceName(WaveDirection::Out)};
    const auto chosen = m_prompts.chooseDevices(this, current);
    if (chosen && *chosen != current) {
        RememberDevices(SwitchDevices(*this, *chosen));
        ApplyCalibration(); // the other device's figures, or none
    }
}

void CInstrumentDlg::CloseAnalysersBut(const QWidget* keep) {
    // The analysers share the capture tap and the test signal: one open at a time.
    for (QWidget* window : {static_cast<QWidget*>(m_distortionWindow),
                            static_cast<QWidget*>(m_frequencyWindow),
                            static_cast<QWidget*>(m_impedanceWindow),
                            static_cast<QWidget*>(m_reportWindow)}) {
        if (window != nullptr && window != keep) {
            window->close();
        }
    }
}

void CInstrumentDlg::OnDistortion() {
    CloseAnalysersBut(m_distortionWindow);
    if (m_distortionWindow == nullptr) {
        m_distortionWindow = new CDistortionWindow(*this, this);
        m_distortionWindow->setAttribute(Qt::WA_DeleteOnClose);
        ApplyCalibration();
    }
    Present(m_distortionWindow);
}

void CInstrumentDlg::OnFrequencyResponse() {
    CloseAnalysersBut(m_frequencyWindow);
    if (m_frequencyWindow == nullptr) {
        m_frequencyWindow = new CFrequencyResponseWindow(*this, this);
        m_frequencyWindow->setAttribute(Qt::WA_DeleteOnClose);
    }
    Present(m_frequencyWindow);
}

void CInstrumentDlg::OnImpedance() {
    CloseAnalysersBut(m_impedanceWindow);
    if (m_impedanceWindow == nullptr) {
        m_impedanceWindow = new CImpedanceWindow(*this, this);
        m_impedanceWindow->setAttribute(Qt::WA_DeleteOnClose);
    }
    Present(m_impedanceWindow);
}

void CInstrumentDlg::OnCardLoan(const std::optional<StreamFormat>& lentAt) {
    if (!lentAt) {
        m_statusLine->ShowCardLent(QString());
        return;
    }
    const bool chinese = SelectedLanguage() == Language::Chinese;
    m_statusLine->ShowCardLent(
        tr("分析仪正在使用声卡 %1")
            .arg(QString::fromStdString(DescribeStreamFormat(*lentAt, chinese))));
}

void CInstrumentDlg::OnReport() {
    CloseAnalysersBut(m_reportWindow);
    if (m_reportWindow == nullptr) {
        m_reportWindow = new CReportWindow(*this, this);
        m_reportWindow->setAttribute(Qt::WA_DeleteOnClose);
    }
    Present(m_reportWindow);
}

void CInstrumentDlg::OnCalibration() {
    if (m_calibrationDlg == nullptr) {
        m_calibrationDlg = new CCalibrationDlg(
            *this, *m_statusLine, m_calibration, CCalibrationStore::DefaultPath(),
            [this] { ApplyCalibration(); }, this);
        m_calibrationDlg->setAttribute(Qt::WA_DeleteOnClose);
    }
    m_calibrationDlg->show();
    m_calibrationDlg->raise();
    m_calibrationDlg->activateWindow();
}

void CInstrumentDlg::LoadCalibration() {
    std::string message;
    if (!m_calibration.Load(CCalibrationStore::DefaultPath(), &message)) {
        // Said once, without holding up the start; the panel runs on with what was whole.
        Alert alert{tr("校准文件有误，电压不予显示：").toStdString() + message, std::string(),
                    AlertIcon::Warning};
        alert.waits = false;
        ShowAlert(alert);
    }
    ApplyCalibration();
}

void CInstrumentDlg::ApplyCalibration() {
    m_statusLine->SetCalibration(m_calibration);
    if (m_calibrationDlg != nullptr) {
        m_calibrationDlg->Refresh();
    }
    if (m_distortionWindow != nullptr) {
        const std::string device = WaveDeviceName(WaveDirection::In);
        std::array<std::optional<double>, kChannels> vrmsAt0Dbfs;
        for (int c = 0; c < kChannels; ++c) {
            if (const auto entry = m_calibration.Find(device, CalibrationSide::Input, c)) {
                vrmsAt0Dbfs[size_t(c)] = entry->vrms_at_0dbfs;
            }
        }
        m_distortionWindow->SetCalibration(vrmsAt0Dbfs);
    }
}
