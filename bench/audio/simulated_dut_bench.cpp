// What the simulated card's device under test costs per 4096-frame period, as a share of the
// 92.9 ms the period lasts: the card runs it on its clock thread under its lock, in real time.
// The heaviest chains have two FIR stages (each two 65536-point transforms per channel).

#include "audio/sim/simulated_dut_chain.h"
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
