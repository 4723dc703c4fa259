#pragma once
// Which sound devices the panel uses: the command line's names first, then the choice remembered
// from the sound-card dialog (the user's configuration, ~/.config/tavrin/tavrin.conf), then the
// wave layer's own default (TAVRIN_AUDIO, else ALSA "default"). Only the devices are kept: the
// panel's own settings always start from their start-up values.

#include "app/command_line.h"
#include "audio/wave/device_list.h"

class CSoundDevice;

#include <functional>
#include <string>
#include <vector>

struct DeviceNames {
    std::string input; // empty: no choice
    std::string output;

    bool operator==(const DeviceNames&) const = default;
};

// The devices one direction can offer, "default" first; replaceable so tests give a fixed list.
using DeviceListSource = std::function<std::vector<AudioDeviceInfo>(WaveDirection direction)>;

// Any thread that may use QSettings (one at a time).
DeviceNames RememberedDevices();
void RememberDevices(const DeviceNames& names);

// Per direction, the command line's name, else the remembered one, else none.
DeviceNames StartDevices(const CommandLine& commandLine, const DeviceNames& remembered);
// Hands StartDevices(commandLine, RememberedDevices()) to the wave layer; before any device opens.
void UseStartDevices(const CommandLine& commandLine);

// Moves the engine to the `chosen` devices, each direction that changed: capture restarts,
// playback too while the generator runs. A device that cannot be opened has already shown its
// box; the previous one is opened again. While the capture worker waits on the user in a box,
// capture stays on its device and a box says why. Returns the devices in use afterwards. GUI
// thread.
DeviceNames SwitchDevices(CSoundDevice& engine, const DeviceNames& chosen);

// What --list-devices prints: the capture devices, an empty line, the playback devices; one a
// line, name and description separated by a tab.
std::string DeviceListText(const DeviceListSource& source);
