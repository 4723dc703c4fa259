// The click handlers of the panel. Each writes one field (or asks a question whose answer goes
// into one); the capture worker picks the new value up at its next buffer.
#include "instrument_dlg.h"

#include "digit_display.h"

#include <QAbstractButton>
#include <QSlider>

namespace {

using Field = std::atomic<int32_t> CInstrumentDlg::*;

struct RadioBinding {
    int id;
    Field field;
    int32_t value;
};

// Every dB step halves the amplitude, so the steps are power-of-two divisors.
const RadioBinding kRadioBindings[] = {
    {1006, &CInstrumentDlg::m_scopeMode, 1},  {1007, &CInstrumentDlg::m_scopeMode, 2},
    {1008, &CInstrumentDlg::m_scopeMode, 3},  {1009, &CInstrumentDlg::m_scopeMode, 4},
    {1024, &CInstrumentDlg::m_scopeMode, 5},  {1055, &CInstrumentDlg::m_gainDivX1, 1},
    {1056, &CInstrumentDlg::m_gainDivX1, 2},  {1057, &CInstrumentDlg::m_gainDivX1, 4},
    {1058, &CInstrumentDlg::m_gainDivX1, 8},  {1059, &CInstrumentDlg::m_gainDivX1, 16},
    {1060, &CInstrumentDlg::m_gainDivX1, 32}, {1061, &CInstrumentDlg::m_gainDivX2, 1},
    {1062, &CInstrumentDlg::m_gainDivX2, 2},  {1063, &CInstrumentDlg::m_gainDivX2, 4},
    {1064, &CInstrumentDlg::m_gainDivX2, 8},  {1065, &CInstrumentDlg::m_gainDivX2, 16},
    {1066, &CInstrumentDlg::m_gainDivX2, 32}, {1067, &CInstrumentDlg::m_attenL, 1},
    {1068, &CInstrumentDlg::m_attenL, 2},     {1069, &CInstrumentDlg::m_attenL, 4},
    {1070, &CInstrumentDlg::m_attenL, 8},     {1071, &CInstrumentDlg::m_attenL, 16},
    {1048, &CInstrumentDlg::m_attenR, 1},     {1049, &CInstrumentDlg::m_attenR, 2},
    {1050, &CInstrumentDlg::m_attenR, 4},     {1051, &CInstrumentDlg::m_attenR, 8},
    {1052, &CInstrumentDlg::m_attenR, 16},    {1072, &CInstrumentDlg::m_waveL, 0},
    {1073, &CInstrumentDlg::m_waveL, 1},      {1074, &CInstrumentDlg::m_waveL, 2},
    {1075, &CInstrumentDlg::m_waveR, 0},      {1076, &CInstrumentDlg::m_waveR, 1},
    {1077, &CInstrumentDlg::m_waveR, 2},      {1037, &CInstrumentDlg::m_meterMode, 1},
    {1038, &CInstrumentDlg::m_meterMode, 2},  {1039, &CInstrumentDlg::m_meterMode, 3},
    {1040, &CInstrumentDlg::m_meterMode, 4},
};

} // namespace

void CInstrumentDlg::ConnectHandlers() {
    for (const RadioBinding& binding : kRadioBindings) {
        const int id = binding.id;
        connect(m_widgets.Button(id), &QAbstractButton::clicked, this, [this, id] { OnRadio(id); });
    }
    const auto onClick = [this](int id, auto handler) {
        connect(m_widgets.Button(id), &QAbstractButton::clicked, this, handler);
    };
    onClick(ctl::kColorX1, [this] { OnColor(m_colorX1); });
    onClick(ctl::kColorX2, [this] { OnColor(m_colorX2); });
    onClick(ctl::kColorGrid, [this] { OnColor(m_colorGrid); });
    onClick(ctl::kColorBack, [this] { OnColor(m_colorBack); });
    onClick(ctl::kFreqL, [this] { OnFreq(true); });
    onClick(ctl::kFreqR, [this] { OnFreq(false); });
    onClick(ctl::kSourceSwitch, [this] { OnSourceSwitch(); });
    onClick(ctl::kRecord, [this] { OnRecord(); });
    onClick(ctl::kPause, [this] { OnPause(); });
    onClick(ctl::kSetReference, [this] { OnSetReference(); });
}

void CInstrumentDlg::OnRadio(int id) {
    if (!m_widgets.Button(id)->isChecked()) {
        return;
    }
    for (const RadioBinding& binding : kRadioBindings) {
        if (binding.id == id) {
            (this->*binding.field).store(binding.value);
        }
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
        record->setText(QStringLiteral("Record"));
        StopRecording();
        return;
    }
    const auto path =
        m_prompts.chooseSavePath(this, {QStringLiteral("wav"), QStringLiteral("WAV文件 (*.wav)")});
    if (!path) {
        record->setChecked(false); // springs back up
        return;
    }
    // The whole path is passed on, however long: a shortened one would name another file.
    record->setText(QStringLiteral("Recording"));
    m_recording = 1;
    StartRecording(path->c_str());
}

void CInstrumentDlg::OnPause() {
    m_paused = m_paused.load() == 0 ? 1 : 0;
}

void CInstrumentDlg::OnSetReference() {
    if (const auto value = m_prompts.askReference(this)) {
        m_refValue = *value;
    }
}

void CInstrumentDlg::OnSoundCard() {
    const DeviceNames current{WaveDeviceName(WaveDirection::In),
                              WaveDeviceName(WaveDirection::Out)};
    const auto chosen = m_prompts.chooseDevices(this, current);
    if (chosen && *chosen != current) {
        RememberDevices(SwitchDevices(*this, *chosen));
    }
}
