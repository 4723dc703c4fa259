// What one stereo block of the distortion analyser costs: both channels of 65536 frames (1.49 s
// at 44.1 kHz), reported in milliseconds of this thread's CPU and as a percentage of the block's
// duration. Budget: 5 ms a block. The residual spectrum's conversion to dB, which only a display
// asks for, is timed on its own.
#include "analysis/distortion/distortion.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <ctime>
#include <random>
#include <vector>

namespace {

constexpr int kFrames = 65536;
constexpr double kRate = 44100.0;
constexpr double kBlockSeconds = kFrames / kRate;

// A 16-bit stereo capture: 997 Hz at -1 dBFS with harmonics on X1, 1 kHz at -20 dBFS on X2.
std::vector<double> StereoBlock() {
    std::mt19937 rng(3);
    std::uniform_real_distribution<double> dither(-0.5, 0.5);
    std::vector<double> block(2 * kFrames);
    for (int k = 0; k < kFrames; ++k) {
        const double t = k / kRate;
        const double x1 = 0.89 * std::sin(2 * M_PI * 997 * t) +
                          1e-3 * std::sin(2 * M_PI * 1994 * t) +
                          3e-4 * std::sin(2 * M_PI * 2991 * t);
        const double x2 = 0.1 * std::sin(2 * M_PI * 1000 * t);
        block[2 * size_t(k)] = std::round(x1 * 32768 + dither(rng) + dither(rng)) / 32768;
        block[2 * size_t(k) + 1] = std::round(x2 * 32768 + dither(rng) + dither(rng)) / 32768;
    }
    return block;
}

double ThreadSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

void Report(benchmark::State& state, double startSeconds) {
    const double perBlock = (ThreadSeconds() - startSeconds) / double(state.iterations());
    state.counters["ms_per_block"] = 1e3 * perBlock;
    state.counters["pct_of_block"] = 100 * perBlock / kBlockSeconds;
}

void BM_DistortionBothChannels(benchmark::State& state) {
    const std::vector<double> block = StereoBlock();
    CDistortionAnalyser x1(kFrames, kRate);
    CDistortionAnalyser x2(kFrames, kRate);
    DistortionSettings settings;
    settings.weighting = state.range(0) ? Weighting::A : Weighting::None;
    const double start = ThreadSeconds();
    for (auto _ : state) {
        benchmark::DoNotOptimize(x1.Analyse(block.data(), 2, settings));
        benchmark::DoNotOptimize(x2.Analyse(block.data() + 1, 2, settings));
    }
    Report(state, start);
}
BENCHMARK(BM_DistortionBothChannels)
    ->Arg(0)
    ->Arg(1)
    ->ArgName("a_weighted")
    ->Unit(benchmark::kMillisecond);

void BM_ImdBothChannels(benchmark::State& state) {
    std::vector<double> block(2 * kFrames);
    for (int k = 0; k < kFrames; ++k) {
        const double t = k / kRate;
        block[2 * size_t(k)] = block[2 * size_t(k) + 1] =
            0.4 * std::sin(2 * M_PI * 60 * t) + 0.1 * std::sin(2 * M_PI * 7000 * t);
    }
    CDistortionAnalyser x1(kFrames, kRate);
    CDistortionAnalyser x2(kFrames, kRate);
    const double start = ThreadSeconds();
    for (auto _ : state) {
        benchmark::DoNotOptimize(x1.AnalyseImd(block.data(), 2, ImdKind::Smpte));
        benchmark::DoNotOptimize(x2.AnalyseImd(block.data() + 1, 2, ImdKind::Smpte));
    }
    Report(state, start);
}
BENCHMARK(BM_ImdBothChannels)->Unit(benchmark::kMillisecond);

// The dB conversion a display pays the first time it asks after a new block (benchmark's own
// clock, with the Analyse before it paused out).
void BM_ResidualSpectrumDbfs(benchmark::State& state) {
    const std::vector<double> block = StereoBlock();
    CDistortionAnalyser x1(kFrames, kRate);
    for (auto _ : state) {
        state.PauseTiming();
        x1.Analyse(block.data(), 2, {});
        state.ResumeTiming();
        benchmark::DoNotOptimize(x1.ResidualSpectrumDbfs().data());
    }
}
BENCHMARK(BM_ResidualSpectrumDbfs)->Unit(benchmark::kMillisecond);

} // namespace
