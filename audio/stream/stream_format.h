#pragma once
// A measurement stream's format: the rate and the sample format the analysers open the card at,
// beside the panel's own 16-bit 44100 Hz buffers (base/pcm_format.h), which never change.
// Samples always reach an analyser as float, +-1.0 at full scale, whatever the card carries;
// full scale is the same as the panel's (a full-scale sine reads 0 dBFS on AES17's scale).
// Plain data and pure functions; any thread.

#include "base/fast_random.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// What the user asks for: --format s16|s24|s32|float.
enum class SampleFormat { S16, S24, S32, Float };

// How one sample sits in memory on the device, little-endian. s24 comes in 4 bytes (the value in
// the low three) or packed in 3; a device offering either serves s24.
enum class SampleEncoding { S16, S24In4, S24In3, S32, Float };

inline constexpr std::array<int, 6> kStreamRates = {44100, 48000, 88200, 96000, 176400, 192000};

struct StreamFormat {
    int rate_hz = 44100;
    SampleFormat format = SampleFormat::S16;

    // The panel's own format: a measurement at it needs no stream of its own.
    bool IsPanelFormat() const { return rate_hz == 44100 && format == SampleFormat::S16; }
    bool operator==(const StreamFormat&) const = default;
};

// "s16", "s24", "s32", "float"; nullopt for anything else.
std::optional<SampleFormat> ParseSampleFormat(std::string_view text);
const char* SampleFormatName(SampleFormat format);
// Whether `rate_hz` is one of kStreamRates.
bool IsStreamRate(int rate_hz);

// Bits of resolution: 16, 24, 32; float's 24-bit mantissa counts as 24.
int SampleBits(SampleFormat format);
int EncodingBytes(SampleEncoding encoding);
SampleFormat FormatOf(SampleEncoding encoding);

// "96 kHz/24 位" (Chinese) or "96 kHz/24-bit" (English); "44.1 kHz/16 位", "192 kHz/32 位浮点"
// / "192 kHz/32-bit float": the rate in kHz as people write it (no ".0"), then the sample's
// width on the card (float is told by its 32-bit container, not its 24-bit mantissa).
std::string DescribeStreamFormat(const StreamFormat& format, bool chinese);

// `count` samples of `encoding` at `bytes` to floats on the +-1.0 scale: an integer sample is
// divided by 2^(bits-1), so the most negative code reads exactly -1.0; float is taken as it is.
void DecodeSamples(SampleEncoding encoding, const uint8_t* bytes, float* out, size_t count);

// `count` floats to `encoding`: an integer format is rounded to the nearest code and clipped to
// its range, with TPDF dither of +-1 LSB at its depth first when `dither` is given; float is
// written as it is (no dither: it has no fixed step).
void EncodeSamples(SampleEncoding encoding, const float* in, uint8_t* bytes, size_t count,
                   CFastRandom* dither);

// One value quantised as a converter of `bits` would: rounded to a step of 2^-(bits-1), clipped
// to [-1, 1 - step], with TPDF of +-1 step first when `dither` is given. The simulated card's
// converter, and the oracle for EncodeSamples.
double QuantiseToBits(double x, int bits, CFastRandom* dither);
