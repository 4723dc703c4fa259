// What the measurement stream's conversions cost per period at the highest rate: one 192 kHz
// period (AlsaStreamPeriodFrames, 16384 stereo frames, 85.3 ms) decoded from the card's bytes
// and encoded back, for each encoding, as a share of the period it lasts.

#include "audio/stream/alsa_stream.h"
#include "audio/stream/stream_format.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <vector>

static void BM_StreamConversionPerPeriod(benchmark::State& state, SampleEncoding encoding) {
    constexpr int kRateHz = 192000;
    const int frames = AlsaStreamPeriodFrames(kRateHz);
    const size_t samples = 2 * size_t(frames);
    std::vector<float> in(samples), out(samples);
    for (size_t i = 0; i < samples; ++i) {
        in[i] = float(0.9 * std::sin(0.01 * double(i)));
    }
    std::vector<uint8_t> bytes(samples * size_t(EncodingBytes(encoding)));
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        EncodeSamples(encoding, in.data(), bytes.data(), samples, nullptr);
        DecodeSamples(encoding, bytes.data(), out.data(), samples);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    const double perPeriod =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() /
        double(state.iterations());
    state.counters["pct_of_period"] = 100.0 * perPeriod * kRateHz / frames;
}
BENCHMARK_CAPTURE(BM_StreamConversionPerPeriod, S16, SampleEncoding::S16)->UseRealTime();
BENCHMARK_CAPTURE(BM_StreamConversionPerPeriod, S24In4, SampleEncoding::S24In4)->UseRealTime();
BENCHMARK_CAPTURE(BM_StreamConversionPerPeriod, S24In3, SampleEncoding::S24In3)->UseRealTime();
BENCHMARK_CAPTURE(BM_StreamConversionPerPeriod, S32, SampleEncoding::S32)->UseRealTime();
BENCHMARK_CAPTURE(BM_StreamConversionPerPeriod, Float, SampleEncoding::Float)->UseRealTime();
