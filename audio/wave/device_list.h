#pragma once
// The sound devices ALSA offers, as a user would pick them: the names its configuration and the
// cards' hints give (snd_device_name_hint), with their descriptions. No Qt; any thread.

#include "audio/wave/wave_api.h"

#include <string>
#include <vector>

struct AudioDeviceInfo {
    std::string name;        // what to open, e.g. "default", "hw:CARD=Device,DEV=0"
    std::string description; // one line, e.g. "USB Audio Device, USB Audio"

    bool operator==(const AudioDeviceInfo&) const = default;
};

// The devices that can capture (In) or play (Out), "default" first, each name once. Empty when
// ALSA knows none.
std::vector<AudioDeviceInfo> ListAlsaDevices(WaveDirection direction);

// The hints' own rules, apart from alsa-lib so they can be checked on any machine: a device with
// no IOID does both directions; "default" goes first (with kPlainDefaultDescription when no hint
// names it), the rest keep ALSA's order; a description's lines are joined with ", ".
inline constexpr const char* kPlainDefaultDescription = "ALSA's default device";
struct AlsaHint {
    std::string name;
    std::string description; // as ALSA gives it, possibly over several lines
    std::string ioid;        // "Input", "Output" or empty
};
std::vector<AudioDeviceInfo> DevicesFromHints(const std::vector<AlsaHint>& hints,
                                              WaveDirection direction);
