// What one sweep analysis costs: a 2^18-frame capture (5.94 s at 44.1 kHz) deconvolved, its
// linear response and H2..H5 read at 48 points an octave, with and without a reference channel,
// in milliseconds of this thread's CPU. Budget: 200 ms, once per sweep.
#include "analysis/sweep/sweep_analyser.h"

#include <benchmark/benchmark.h>

#include <ctime>
#include <vector>

namespace {

double ThreadSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

// A loop-back 20 frames late with a little second and third harmonic.
std::vector<double> Capture(const std::vector<double>& sweep) {
    std::vector<double> y(sweep.size(), 0.0);
    for (size_t n = 20; n < y.size(); ++n) {
        const double v = sweep[n - 20];
        y[n] = v + 0.01 * v * v + 0.005 * v * v * v;
    }
    return y;
}

void BM_SweepAnalysis(benchmark::State& state) {
    CSweepAnalyser analyser{SweepSettings{}};
    const std::vector<double> capture = Capture(analyser.Sweep());
    const bool withReference = state.range(0) != 0;
    SweepAnalysisSettings settings;
    settings.smoothing = state.range(1) ? SweepSmoothing::Octave6 : SweepSmoothing::None;
    const double start = ThreadSeconds();
    for (auto _ : state) {
        const SweepResult& r = analyser.Analyse(
            capture.data(), 1, withReference ? analyser.Sweep().data() : nullptr, settings);
        benchmark::DoNotOptimize(r.thd_db.data());
    }
    state.counters["ms_per_sweep"] = 1e3 * (ThreadSeconds() - start) / double(state.iterations());
}
BENCHMARK(BM_SweepAnalysis)
    ->Args({0, 0})
    ->Args({1, 0})
    ->Args({0, 1})
    ->ArgNames({"reference", "smoothed"})
    ->Unit(benchmark::kMillisecond);

// Making the analyser: the sweep, its spectrum and inverse, the transforms' plans.
void BM_SweepAnalyserSetUp(benchmark::State& state) {
    for (auto _ : state) {
        CSweepAnalyser analyser{SweepSettings{}};
        benchmark::DoNotOptimize(analyser.Shape().l_s);
    }
}
BENCHMARK(BM_SweepAnalyserSetUp)->Unit(benchmark::kMillisecond);

} // namespace
