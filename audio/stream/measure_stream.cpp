#include "audio/stream/measure_stream.h"

namespace {

template <typename T, typename Name> std::string JoinList(const std::vector<T>& items, Name name) {
    std::string text;
    for (const T& item : items) {
        text += (text.empty() ? "" : ", ") + name(item);
    }
    return text;
}

} // namespace

std::string RefusalLine(const std::string& device, const StreamFormat& asked,
                        const StreamOffer& offer) {
    std::string line = "'" + device + "' does not offer " + std::to_string(asked.rate_hz) + " Hz " +
                       SampleFormatName(asked.format) + "; ";
    if (offer.rates_hz.empty() && offer.formats.empty()) {
        return line + "it could not be opened";
    }
    const std::string rates =
        offer.rates_hz.empty()
            ? "no rate of 44100-192000 Hz"
            : JoinList(offer.rates_hz, [](int r) { return std::to_string(r); }) + " Hz";
    const std::string formats =
        offer.formats.empty() ? "no sample format" : JoinList(offer.formats, [](SampleFormat f) {
            return std::string(SampleFormatName(f));
        });
    return line + "it offers " + rates + " and " + formats;
}
