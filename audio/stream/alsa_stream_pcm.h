#pragma once
// The ALSA measurement stream's PCMs: opened without the plug layer's automatic resampling and
// format conversion, and configured at the format asked or refused. The library's own; any
// thread (alsa-lib's configuration is shared, and reread at each open).

#include "audio/stream/stream_format.h"

#include <alsa/asoundlib.h>

#include <string>

inline constexpr int kStreamChannels = 2;

inline const char* DirectionName(bool capture) {
    return capture ? "capture" : "playback";
}

struct StreamPcm {
    snd_pcm_t* pcm = nullptr;
    SampleEncoding encoding = SampleEncoding::S16; // what the device carries `format` in
};

// Opens one direction of `name` at `format`, interleaved stereo, with periods of
// AlsaStreamPeriodFrames: 0, or the error with one line in *error, *refused when the device does
// not offer the rate or the format (the caller then names what it does offer).
int OpenStreamPcm(const std::string& name, bool capture, StreamFormat format, StreamPcm* out,
                  std::string* error, bool* refused);
