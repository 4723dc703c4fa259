#include "audio/wave/device_list.h"

#include <alsa/asoundlib.h>

#include <algorithm>
#include <memory>

namespace {

// The hint's value for `id`, or empty; alsa-lib hands back a malloc'd copy.
std::string HintValue(const void* hint, const char* id) {
    std::unique_ptr<char, decltype(&std::free)> value(snd_device_name_get_hint(hint, id),
                                                      std::free);
    return value ? std::string(value.get()) : std::string();
}

std::string OneLine(const std::string& text) {
    std::string line;
    size_t start = 0;
    while (start <= text.size()) {
        const size_t end = std::min(text.find('\n', start), text.size());
        if (end > start) {
            line += (line.empty() ? "" : ", ") + text.substr(start, end - start);
        }
        start = end + 1;
    }
    return line;
}

} // namespace

std::vector<AudioDeviceInfo> DevicesFromHints(const std::vector<AlsaHint>& hints,
                                              WaveDirection direction) {
    const char* wanted = direction == WaveDirection::In ? "Input" : "Output";
    std::vector<AudioDeviceInfo> devices;
    for (const AlsaHint& hint : hints) {
        const bool seen =
            std::any_of(devices.begin(), devices.end(),
                        [&](const AudioDeviceInfo& d) { return d.name == hint.name; });
        if (hint.name.empty() || seen || (!hint.ioid.empty() && hint.ioid != wanted)) {
            continue;
        }
        devices.push_back({hint.name, OneLine(hint.description)});
    }
    // ALSA's configuration always defines "default", though it only gives it a hint when a
    // sound server's plugin takes it over; it is what the program opens unless told otherwise.
    const auto isDefault = [](const AudioDeviceInfo& d) { return d.name == "default"; };
    if (std::none_of(devices.begin(), devices.end(), isDefault)) {
        devices.insert(devices.begin(), {"default", kPlainDefaultDescription});
    }
    std::stable_partition(devices.begin(), devices.end(), isDefault);
    return devices;
}

std::vector<AudioDeviceInfo> ListAlsaDevices(WaveDirection direction) {
    void** hints = nullptr;
    if (snd_device_name_hint(-1, "pcm", &hints) < 0 || hints == nullptr) {
        return {};
    }
    std::vector<AlsaHint> found;
    for (void** hint = hints; *hint != nullptr; ++hint) {
        found.push_back(
            {HintValue(*hint, "NAME"), HintValue(*hint, "DESC"), HintValue(*hint, "IOID")});
    }
    snd_device_name_free_hint(hints);
    return DevicesFromHints(found, direction);
}
