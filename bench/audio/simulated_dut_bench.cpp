// What the simulated card's device under test costs per 4096-frame period, as a share of the
// 92.9 ms the period lasts: the card runs it on its clock thread under its lock, in real time.
// The heaviest chains have two FIR stages (each two 65536-point transforms per channel).
// At 192 kHz a measurement stream runs the chains unrounded on periods of 16384 frames (85.3 ms)
// on its own thread, in real time unless a test runs it stepped.

#include "audio/sim/simulated_dut_chain.h"
#include "audio/stream/alsa_stream.h"
#include "base/pcm_format.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <string>
#include <vector>

static void BM_SimulatedDutPerPeriod(benchmark::State& state, const char* stages) {
    std::string error;
    auto chain = ParseSimulatedDut(stages, error);
    if (!chain) {
        state.SkipWithError(error.c_str());
        return;
    }
    std::vector<int16_t> line(size_t(kFramesPerBuffer) * kChannels);
    for (size_t i = 0; i < line.size(); ++i) {
        line[i] = int16_t((i * 7919) % 20000) - 10000;
    }
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        chain->Process(line.data(), kFramesPerBuffer);
        benchmark::DoNotOptimize(line.data());
    }
    const double perPeriod =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() /
        double(state.iterations());
    state.counters["pct_of_buffer_period"] = 100.0 * perPeriod / kBufferSeconds;
}
BENCHMARK_CAPTURE(BM_SimulatedDutPerPeriod, Biquads,
                  "lowpass:1000:0.707+peak:3000:2:-6+poly:2e-4:1.6e-4+noise:-110+dither");
BENCHMARK_CAPTURE(BM_SimulatedDutPerPeriod, BandLimitedPoly, "poly:0.25:0.125");
BENCHMARK_CAPTURE(BM_SimulatedDutPerPeriod, FractionalDelay, "delay:12.25");
BENCHMARK_CAPTURE(BM_SimulatedDutPerPeriod, DividerAndMismatch,
                  "divider:8:R6+L0.3e-3+(L0.02|C3e-4|R30)+zin:1e5+mismatch:0.06:0.6+noise:-90");

static void BM_SimulatedDutPerPeriodAt192k(benchmark::State& state, const char* stages) {
    constexpr int rate = 192000;
    std::string error;
    auto chain = ParseSimulatedDut(stages, error, rate);
    if (!chain) {
        state.SkipWithError(error.c_str());
        return;
    }
    const int frames = AlsaStreamPeriodFrames(rate);
    std::vector<double> x1(static_cast<size_t>(frames)), x2(static_cast<size_t>(frames));
    for (size_t i = 0; i < x1.size(); ++i) {
        x1[i] = x2[i] = double((i * 7919) % 20000) / 20000 - 0.5;
    }
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        chain->ProcessAnalog(x1.data(), x2.data(), frames);
        benchmark::DoNotOptimize(x1.data());
        benchmark::DoNotOptimize(x2.data());
    }
    const double perPeriod =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() /
        double(state.iterations());
    state.counters["pct_of_stream_period"] = 100.0 * perPeriod * rate / frames;
}
BENCHMARK_CAPTURE(BM_SimulatedDutPerPeriodAt192k, Lowpass, "lowpass:40000:0.707+dither");
BENCHMARK_CAPTURE(BM_SimulatedDutPerPeriodAt192k, BandLimitedPoly, "poly:0.25:0.125");
BENCHMARK_CAPTURE(BM_SimulatedDutPerPeriodAt192k, FractionalDelay, "delay:12.25");
