// What one buffer's impedance reading costs: both channels of 4096 frames (92.9 ms at 44.1 kHz)
// fitted at the generator's frequency, and with the frequency found on X1 first (an external
// generator), in milliseconds of this thread's CPU and as a share of the buffer period. Budget:
// 1 % of the period, so the reading never competes with the scope for the capture worker.
#include "analysis/impedance/impedance_detector.h"
#include "base/pcm_format.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <complex>
#include <ctime>
#include <vector>

namespace {

constexpr double kRate = 44100.0;

// 1 kHz at -6 dBFS across 1 uF against 100 ohm, 16-bit.
std::vector<double> Block(double freq_hz) {
    const double w = 2 * M_PI * freq_hz;
    const std::complex<double> z(0, -1 / (w * 1e-6));
    const std::complex<double> h = 100.0 / (z + 100.0);
    std::vector<double> block(2 * size_t(kFramesPerBuffer));
    for (int k = 0; k < kFramesPerBuffer; ++k) {
        const double t = k / kRate;
        block[2 * size_t(k)] = std::round(0.5 * std::sin(w * t) * 32768) / 32768;
        block[2 * size_t(k) + 1] =
            std::round(0.5 * std::abs(h) * std::sin(w * t + std::arg(h)) * 32768) / 32768;
    }
    return block;
}

double ThreadSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

void BM_ImpedanceBlock(benchmark::State& state) {
    const bool external = state.range(0) != 0;
    const std::vector<double> block = Block(1000);
    CImpedanceDetector detector(kFramesPerBuffer, kRate);
    const double start = ThreadSeconds();
    for (auto _ : state) {
        benchmark::DoNotOptimize(external
                                     ? detector.DetectExternal(block.data(), 100)
                                     : detector.Detect(block.data(), kFramesPerBuffer, 1000, 100));
    }
    const double perBlock = (ThreadSeconds() - start) / double(state.iterations());
    state.counters["ms_per_block"] = 1e3 * perBlock;
    state.counters["pct_of_buffer_period"] = 100 * perBlock / kBufferSeconds;
}

} // namespace

BENCHMARK(BM_ImpedanceBlock)->ArgName("external")->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
