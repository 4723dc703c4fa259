// What the analysers cost at 192 kHz: one stereo distortion block of 262144 frames (1.37 s, the
// largest block; budget 20 ms), and a 2^20-frame sweep's whole analysis once captured (the
// analyser and its transforms made, the sweep found, deconvolved and read with H2..H9; budget
// 800 ms). Milliseconds of this thread's CPU, and as a share of the 92.9 ms buffer period.
#include "analysis/distortion/distortion.h"
#include "analysis/sweep/sweep_measurement.h"
#include "base/pcm_format.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <ctime>
#include <numbers>
#include <vector>

namespace {

constexpr double kRate = 192000.0;

double ThreadSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

void Report(benchmark::State& state, double seconds, const char* name) {
    const double each = seconds / double(state.iterations());
    state.counters[name] = 1e3 * each;
    state.counters["pct_of_buffer_period"] = 100 * each / kBufferSeconds;
}

// A 24-bit stereo capture: 997 Hz at -1 dBFS with H2 and H3 on X1, 9 kHz at -20 dBFS on X2.
std::vector<double> StereoBlock(int frames) {
    std::vector<double> block(2 * size_t(frames));
    const auto at = [](double hz, int k) {
        return std::sin(2 * std::numbers::pi * hz * k / kRate);
    };
    for (int k = 0; k < frames; ++k) {
        const double x1 = 0.89 * at(997, k) + 1e-6 * at(1994, k) + 3e-7 * at(2991, k);
        block[2 * size_t(k)] = std::round(x1 * 8388608) / 8388608;
        block[2 * size_t(k) + 1] = std::round(0.1 * at(9000, k) * 8388608) / 8388608;
    }
    return block;
}

void BM_Distortion192kLargestBlock(benchmark::State& state) {
    constexpr int kFrames = 262144;
    const std::vector<double> block = StereoBlock(kFrames);
    CDistortionAnalyser x1(kFrames, kRate);
    CDistortionAnalyser x2(kFrames, kRate);
    DistortionSettings settings;
    settings.band_hi_hz = kRate / 2;
    const double start = ThreadSeconds();
    for (auto _ : state) {
        benchmark::DoNotOptimize(x1.Analyse(block.data(), 2, settings));
        benchmark::DoNotOptimize(x2.Analyse(block.data() + 1, 2, settings));
    }
    Report(state, ThreadSeconds() - start, "ms_per_block");
}
BENCHMARK(BM_Distortion192kLargestBlock)->Unit(benchmark::kMillisecond);

// Fed as float buffers from the capture worker: the playback 9000 frames late with a little
// second and third harmonic.
void Feed(CSweepMeasurement& m) {
    const auto playback = m.PlaybackFloat();
    const std::vector<float>& play = *playback;
    constexpr int kBuffer = 4096;
    constexpr int kDelay = 9000;
    std::vector<float> buffer(2 * kBuffer);
    for (int64_t at = 0; !m.Complete(); at += kBuffer) {
        for (int i = 0; i < 2 * kBuffer; ++i) {
            const int64_t source = 2 * (at - kDelay) + i;
            const double v =
                source >= 0 && source < int64_t(play.size()) ? play[size_t(source)] : 0.0;
            buffer[size_t(i)] = float(v + 0.01 * v * v + 0.005 * v * v * v);
        }
        CSweepMeasurement::TapFloat(buffer.data(), kBuffer, 0, &m);
    }
}

void BM_Sweep192kLongest(benchmark::State& state) {
    SweepMeasurementSettings settings;
    settings.sweep.rate_hz = kRate;
    settings.sweep.frames = 1 << 20;
    settings.analysis.hi_hz = 90000;
    SweepForBand(settings);
    double seconds = 0;
    for (auto _ : state) {
        state.PauseTiming();
        CSweepMeasurement m(settings);
        Feed(m);
        state.ResumeTiming();
        const double start = ThreadSeconds();
        const SweepOutcome out = m.Analyse();
        seconds += ThreadSeconds() - start;
        benchmark::DoNotOptimize(out.result.thd9_db.data());
    }
    Report(state, seconds, "ms_per_measurement");
}
BENCHMARK(BM_Sweep192kLongest)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace
