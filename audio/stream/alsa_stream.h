#pragma once
// The measurement stream on ALSA: one capture and one playback PCM opened at the format asked,
// read/write access as the wave layer's, driven by one I/O thread that rests in poll() on both.
// Nothing is converted behind the user's back: the PCMs are opened so that alsa-lib's plug
// layer may change the sample encoding (s24 in 3 or 4 bytes) but never the rate or the depth;
// a device that does not offer the format is refused, naming what it does offer.

#include "audio/stream/measure_stream.h"

#include <memory>
#include <string>

// What ALSA device `name` offers in both directions among kStreamRates and the sample formats.
// Empty when it cannot be opened at all.
StreamOffer QueryAlsaOffer(const std::string& name);

// ALSA device `name` at `format`, both directions; nullptr with one line in *error: the refusal
// (RefusalLine) when the format is not offered, else what failed.
std::unique_ptr<CMeasureStream> OpenAlsaStream(const std::string& name, StreamFormat format,
                                               std::string* error);
