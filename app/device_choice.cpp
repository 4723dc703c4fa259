#include "app/device_choice.h"

#include "base/format_and_alert.h"
#include "engine/sound_device.h"

#include <QCoreApplication>
#include <QSettings>

namespace {

constexpr const char* kOrganization = "tavrin";
constexpr const char* kApplication = "tavrin";
constexpr const char* kInputKey = "devices/input";
constexpr const char* kOutputKey = "devices/output";

constexpr const char* kCaptureBusyText = QT_TRANSLATE_NOOP(
    "DeviceChoice", "采集正在等待提示框的回答，暂时不能更换输入设备。请先关闭提示框，再重新选择。");

QSettings UserSettings() {
    return QSettings(QSettings::NativeFormat, QSettings::UserScope,
                     QString::fromUtf8(kOrganization), QString::fromUtf8(kApplication));
}

} // namespace

DeviceNames RememberedDevices() {
    const QSettings settings = UserSettings();
    return {settings.value(QString::fromUtf8(kInputKey)).toString().toStdString(),
            settings.value(QString::fromUtf8(kOutputKey)).toString().toStdString()};
}

void RememberDevices(const DeviceNames& names) {
    QSettings settings = UserSettings();
    settings.setValue(QString::fromUtf8(kInputKey), QString::fromStdString(names.input));
    settings.setValue(QString::fromUtf8(kOutputKey), QString::fromStdString(names.output));
}

DeviceNames StartDevices(const CommandLine& commandLine, const DeviceNames& remembered) {
    return {commandLine.input.empty() ? remembered.input : commandLine.input,
            commandLine.output.empty() ? remembered.output : commandLine.output};
}

void UseStartDevices(const CommandLine& commandLine) {
    const DeviceNames names = StartDevices(commandLine, RememberedDevices());
    SetWaveDevices(names.input, names.output);
}

DeviceNames SwitchDevices(CSoundDevice& engine, const DeviceNames& chosen) {
    DeviceNames inUse{WaveDeviceName(WaveDirection::In), WaveDeviceName(WaveDirection::Out)};
    if (!chosen.input.empty() && chosen.input != inUse.input) {
        SetWaveDevice(WaveDirection::In, chosen.input);
        const CaptureReopen reopened = engine.ReopenCapture();
        if (reopened == CaptureReopen::Reopened) {
            inUse.input = chosen.input;
        } else {
            SetWaveDevice(WaveDirection::In, inUse.input);
        }
        if (reopened == CaptureReopen::Failed) {
            engine.ReopenCapture();
        } else if (reopened == CaptureReopen::KeptOld) {
            // Said at once, not waited on: the worker's box is still up, and the user may
            // answer the two in either order.
            Alert busy{QCoreApplication::translate("DeviceChoice", kCaptureBusyText).toStdString(),
                       std::string(), AlertIcon::Warning};
            busy.waits = false;
            ShowAlert(busy);
        }
    }
    if (!chosen.output.empty() && chosen.output != inUse.output) {
        SetWaveDevice(WaveDirection::Out, chosen.output);
        // With neither the generator nor an analyser's test signal on nothing plays: the device
        // opens when one of them starts.
        const bool playing = engine.m_generatorOn.load() || engine.TestSignalOn();
        if (!playing || engine.ReopenPlayback()) {
            inUse.output = chosen.output;
        } else {
            SetWaveDevice(WaveDirection::Out, inUse.output);
            engine.ReopenPlayback();
        }
    }
    return inUse;
}

std::string DeviceListText(const DeviceListSource& source) {
    std::string text;
    for (WaveDirection direction : {WaveDirection::In, WaveDirection::Out}) {
        if (direction == WaveDirection::Out) {
            text += '\n';
        }
        for (const AudioDeviceInfo& device : source(direction)) {
            text += device.name + '\t' + device.description + '\n';
        }
    }
    return text;
}
