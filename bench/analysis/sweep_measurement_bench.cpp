// What a whole measurement's analysis costs once the capture is in: the analyser made, the sweep
// found by cross-correlation, the averages cut and summed, the 2^18-frame sweep deconvolved and
// read with H2..H5 at 48 points an octave. Milliseconds of this thread's CPU per measurement;
// budget 200 ms, once per run.
#include "analysis/sweep/sweep_measurement.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <ctime>
#include <vector>

namespace {

double ThreadSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

// Fed as the capture worker would: the playback 5000 frames late with a little second and
// third harmonic, in 4096-frame buffers.
void Feed(CSweepMeasurement& m) {
    const std::vector<int16_t>& play = *m.Playback();
    constexpr int kBuffer = 4096;
    constexpr int kDelay = 5000;
    std::vector<int16_t> buffer(2 * kBuffer);
    for (int64_t at = 0; !m.Complete(); at += kBuffer) {
        for (int i = 0; i < 2 * kBuffer; ++i) {
            const int64_t source = 2 * (at - kDelay) + i;
            const double v =
                source >= 0 && source < int64_t(play.size()) ? play[size_t(source)] / 32768.0 : 0.0;
            buffer[size_t(i)] =
                int16_t(std::lround(32768.0 * (v + 0.01 * v * v + 0.005 * v * v * v)));
        }
        CSweepMeasurement::Tap(buffer.data(), kBuffer, 0, &m);
    }
}

void BM_SweepMeasurementAnalyse(benchmark::State& state) {
    SweepMeasurementSettings settings;
    settings.averages = int(state.range(0));
    double seconds = 0;
    for (auto _ : state) {
        state.PauseTiming();
        CSweepMeasurement m(settings);
        Feed(m);
        state.ResumeTiming();
        const double start = ThreadSeconds();
        const SweepOutcome out = m.Analyse();
        seconds += ThreadSeconds() - start;
        benchmark::DoNotOptimize(out.result.thd_db.data());
    }
    state.counters["ms_per_measurement"] = 1e3 * seconds / double(state.iterations());
}
BENCHMARK(BM_SweepMeasurementAnalyse)
    ->Arg(1)
    ->Arg(4)
    ->ArgName("averages")
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);

} // namespace
