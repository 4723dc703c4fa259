#include "device_choice.h"

#include "sound_device.h"

#include <QSettings>

namespace {

constexpr const char* kOrganization = "tavrin";
constexpr const char* kApplication = "tavrin";
constexpr const char* kInputKey = "devices/input";
constexpr const char* kOutputKey = "devices/output";

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
        if (engine.ReopenCapture()) {
            inUse.input = chosen.input;
        } else {
            SetWaveDevice(WaveDirection::In, inUse.input);
            engine.ReopenCapture();
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
