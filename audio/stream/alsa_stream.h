#pragma once
// The measurement stream on ALSA: one capture and one playback PCM opened at the format asked,
// read/write access as the wave layer's, driven by one I/O thread that rests in poll() on both.
// Nothing is converted behind the user's back: the PCMs are opened so that alsa-lib's plug
// layer may change the sample encoding (s24 in 3 or 4 bytes) but never the rate or the depth;
// a device that does not offer the format is refused, naming what it does offer.
//
// One I/O thread serves both PCMs, so the tap and the source are never called at once. It reads
// and writes whole periods of AlsaStreamPeriodFrames, converts them to and from float in buffers
// made at Start, counts an xrun in either direction in Xruns() and a capture recovery in the
// tap's gapCount, and stamps each captured period on CLOCK_MONOTONIC from snd_pcm_delay. A device
// that cannot be recovered (gone) is retried every 100 ms and delivers nothing meanwhile; it is
// not reopened. Stop drops both PCMs and keeps them open for the next Start.

#include "audio/stream/measure_stream.h"

#include <memory>
#include <string>

// Frames per period, about the panel's 92.9 ms buffer at each rate: 4096 at 44100 and 48000 Hz,
// 8192 at 88200 and 96000 Hz, 16384 at 176400 and 192000 Hz (85-93 ms). Whole powers of two, so
// an analyser's FFT blocks fall on period edges. The tap gets exactly this many frames a call,
// whatever period the device itself settles on.
int AlsaStreamPeriodFrames(int rate_hz);

// What ALSA device `name` offers in both directions among kStreamRates and the sample formats.
// Empty when it cannot be opened at all.
StreamOffer QueryAlsaOffer(const std::string& name);

// ALSA device `name` at `format`, both directions; nullptr with one line in *error: the refusal
// (RefusalLine) when the format is not offered, else what failed.
std::unique_ptr<CMeasureStream> OpenAlsaStream(const std::string& name, StreamFormat format,
                                               std::string* error);
