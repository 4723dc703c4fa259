#include "audio/generator.h"

#include <cmath>

std::atomic<int64_t> g_generatorSampleCount{0};

namespace {

void Silence(int16_t* out, int stride, int frames) {
    for (int i = 0; i < frames; ++i) {
        out[i * stride] = 0;
    }
}

// The phase index is a 64-bit product, so it never wraps; up to 2^31 it equals the 32-bit
// product exactly, and so does every sample computed from it.
void Sine(int32_t frequency, int32_t divisor, int64_t firstFrame, int16_t* out, int stride,
          int frames) {
    const int32_t amplitude = kGeneratorPeak / divisor;
    int64_t phaseIndex = int64_t(frequency) * firstFrame;
    for (int i = 0; i < frames; ++i) {
        out[i * stride] =
            int16_t(double(amplitude) * std::sin(double(phaseIndex) * kSinePhaseStep));
        phaseIndex += frequency;
    }
}

// Triangle and square share the period arithmetic: the period boundaries fall at
// trunc(k x P), so a non-integer period alternates between its floor and its ceiling, and the
// half period is taken from the truncated period so both waveforms turn at the same frame.
template <typename Shape>
void Periodic(int32_t frequency, int64_t firstFrame, int16_t* out, int stride, int frames,
              Shape shape) {
    const double period = double(kSampleRate) / frequency;
    const double half = std::trunc(period) * 0.5;
    for (int i = 0; i < frames; ++i) {
        const int64_t n = firstFrame + i;
        const double k = std::trunc(double(n) / period);
        const double m = double(n) - std::trunc(k * period);
        out[i * stride] = shape(m, period, half);
    }
}

} // namespace

void SynthesizeChannel(const GeneratorChannel& channel, int64_t firstFrame, int16_t* out,
                       int stride, int frames) {
    const int32_t d = channel.divisor;
    if (d < 1) {
        Silence(out, stride, frames);
        return;
    }
    switch (channel.waveform) {
    case kWaveSine:
        Sine(channel.frequency, d, firstFrame, out, stride, frames);
        return;
    case kWaveTriangle:
        if (channel.frequency <= 0) {
            break;
        }
        Periodic(channel.frequency, firstFrame, out, stride, frames,
                 [d](double m, double period, double half) -> int16_t {
                     if (m <= half) {
                         return int16_t(32767.0 * (1.0 - 4.0 * m / period) / d);
                     }
                     if (m < period) {
                         return int16_t(32767.0 * (4.0 * m / period - 3.0) / d);
                     }
                     return int16_t(kGeneratorPeak / d);
                 });
        return;
    case kWaveSquare:
        if (channel.frequency <= 0) {
            break;
        }
        // Low half first: each period starts at the negative peak.
        Periodic(channel.frequency, firstFrame, out, stride, frames,
                 [d](double m, double, double half) -> int16_t {
                     return int16_t(m <= half ? -kGeneratorPeak / d : kGeneratorPeak / d);
                 });
        return;
    default:
        break;
    }
    Silence(out, stride, frames);
}

void SynthesizeBuffer(const GeneratorChannel& left, const GeneratorChannel& right,
                      int64_t firstFrame, int16_t (&block)[kFramesPerBuffer * kChannels]) {
    SynthesizeChannel(left, firstFrame, block, kChannels, kFramesPerBuffer);
    SynthesizeChannel(right, firstFrame, block + 1, kChannels, kFramesPerBuffer);
}
