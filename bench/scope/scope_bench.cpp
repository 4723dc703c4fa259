// Cost of one oscilloscope frame per mode, with inputs that keep every line long and busy, and
// of the start-up state's frame with a test tone.
#include "base/pcm_format.h"
#include "scope/scope.h"

#include <benchmark/benchmark.h>

#include <QGuiApplication>

#include <cmath>
#include <cstdlib>
#include <ctime>
#include <random>
#include <vector>

namespace {

constexpr int kW = 560;
constexpr int kH = 381;
constexpr double kBufferPeriodMs = kBufferSeconds * 1000.0;

double ThreadCpuMs() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

// Labels need fonts, and fonts need an application object.
void EnsureGuiApplication() {
    static int argc = 1;
    static char name[] = "tavrin_scope_bench";
    static char* argv[] = {name, nullptr};
    if (QGuiApplication::instance() == nullptr) {
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
        static QGuiApplication app(argc, argv);
    }
}

std::vector<int16_t> FullScaleNoise() {
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> full(-32768, 32767);
    std::vector<int16_t> v(2 * kScopeFrames);
    for (int16_t& s : v) {
        s = int16_t(full(rng));
    }
    return v;
}

// Three tones per channel near full scale, so the trigger finds a crossing.
std::vector<int16_t> MultiTone() {
    std::vector<int16_t> v(2 * kScopeFrames);
    for (int k = 0; k < kScopeFrames; ++k) {
        const double t = k / double(kSampleRate);
        v[2 * k] = int16_t(12000 *
                           (std::sin(2 * M_PI * 440 * t) + std::sin(2 * M_PI * 3100 * t) +
                            std::sin(2 * M_PI * 9000 * t)) *
                           0.9);
        v[2 * k + 1] = int16_t(12000 *
                               (std::sin(2 * M_PI * 1000 * t) + std::sin(2 * M_PI * 5500 * t) +
                                std::sin(2 * M_PI * 15000 * t)) *
                               0.9);
    }
    return v;
}

// A 1 kHz tone at half scale on both channels, as a test tone played into the card gives.
std::vector<int16_t> HalfScaleTone() {
    std::vector<int16_t> v(2 * kScopeFrames);
    for (int k = 0; k < kScopeFrames; ++k) {
        v[2 * k] = v[2 * k + 1] = int16_t(16384 * std::sin(2 * M_PI * 1000 * k / kSampleRate));
    }
    return v;
}

void ComposeFrames(benchmark::State& state, const std::vector<int16_t>& samples,
                   const ScopeSettings& settings) {
    CCanvas canvas;
    ComposeScopeFrame(canvas, kW, kH, samples.data(), settings, nullptr); // settle size, fonts
    // The worker's own CPU time: on a shared machine, wall time mostly measures the neighbours.
    const double cpuStart = ThreadCpuMs();
    for (auto _ : state) {
        ScopeDerived d = ComposeScopeFrame(canvas, kW, kH, samples.data(), settings, nullptr);
        benchmark::DoNotOptimize(d);
        benchmark::ClobberMemory();
    }
    const double msPerFrame = (ThreadCpuMs() - cpuStart) / double(state.iterations());
    state.counters["pct_of_buffer_period"] = 100.0 * msPerFrame / kBufferPeriodMs;
}

void BM_ScopeFrame(benchmark::State& state, int mode, bool noise) {
    EnsureGuiApplication();
    ScopeSettings settings;
    settings.scopeMode = mode;
    settings.sliders.timeX1 = 1; // 1120 points: the longest trace
    settings.sliders.timeX2 = 1;
    settings.syncX1 = settings.syncX2 = true;
    settings.sliders.gridColumns = settings.sliders.gridRows = 40;
    ComposeFrames(state, noise ? FullScaleNoise() : MultiTone(), settings);
}

// The start-up settings: mode X, no trigger, the sliders where they start.
void BM_ScopeFrameStartUp(benchmark::State& state) {
    EnsureGuiApplication();
    ComposeFrames(state, HalfScaleTone(), ScopeSettings{});
}

} // namespace

BENCHMARK(BM_ScopeFrameStartUp)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_ScopeFrame, x_noise, kScopeModeX, true)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_ScopeFrame, x1x2_noise, kScopeModeX1X2, true)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_ScopeFrame, sum_noise, kScopeModeSum, true)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_ScopeFrame, xy_noise, kScopeModeXY, true)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_ScopeFrame, spectrum_noise, kScopeModeSpectrum, true)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_ScopeFrame, x1x2_tones, kScopeModeX1X2, false)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_ScopeFrame, spectrum_tones, kScopeModeSpectrum, false)
    ->Unit(benchmark::kMicrosecond);
