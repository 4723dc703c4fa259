#pragma once
// The signal generator's arithmetic: one channel's waveform from its waveform code, frequency
// and amplitude divisor at absolute frame positions. No threads, no state of its own beyond the
// running frame counter, so every sample can be checked on its own.

#include "base/pcm_format.h"

#include <atomic>
#include <cstdint>

enum GeneratorWaveform : int32_t { kWaveSine = 0, kWaveTriangle = 1, kWaveSquare = 2 };

// 2 x 3.1415926 / 44100: the sine's phase step per hertz and frame. The short pi is part of the
// generator's output (its samples are compared bit for bit), so it is not "improved" here.
inline constexpr double kSinePhaseStep = 2.0 * 3.1415926 / kSampleRate;
// The generator's full-scale amplitude: each divisor divides it.
inline constexpr int32_t kGeneratorPeak = 32767;

struct GeneratorChannel {
    int32_t waveform = kWaveSine;
    int32_t frequency = 0; // whole hertz
    int32_t divisor = 1;   // 1, 2, 4, 8, 16 for 0 .. -24 dB
};

// Frame position of the first frame of the next generated buffer; shared by both channels and
// by every buffer so the output stays continuous across buffers and across output restarts.
// 64-bit: a 32-bit position would turn negative after about 13.5 hours and break the waveforms.
extern std::atomic<int64_t> g_generatorSampleCount;

// Writes `frames` samples of one channel, for frame positions firstFrame, firstFrame + 1, ...,
// into out[0], out[stride], out[2 * stride], ... Silence for an unknown waveform, for a
// triangle or square at 0 Hz or below, and for a divisor below 1.
void SynthesizeChannel(const GeneratorChannel& channel, int64_t firstFrame, int16_t* out,
                       int stride, int frames);

// One device buffer of interleaved frames (L first) starting at frame position firstFrame.
void SynthesizeBuffer(const GeneratorChannel& left, const GeneratorChannel& right,
                      int64_t firstFrame, int16_t (&block)[kFramesPerBuffer * kChannels]);
