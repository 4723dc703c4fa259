// What the capture worker spends on measuring, per captured buffer: the frequency meter (two
// 2048-sample transforms), the multimeter (two levels) and, for one spectrum frame, two
// 1024-sample transforms. Each is reported as a percentage of the buffer period; together they
// should stay well under 2 %. The tone estimator, over both channels of a whole 4096-frame
// buffer, has a budget of its own: 0.2 %, with a tone held (the usual case), with a new tone in
// every buffer and with noise alone.
#include "base/pcm_format.h"
#include "measure/fft.h"
#include "measure/frequency_meter.h"
#include "measure/multimeter.h"
#include "measure/readout.h"
#include "measure/tone_estimator.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <ctime>
#include <memory>
#include <random>
#include <vector>

namespace {

class CDiscardingReadout : public IReadout {
public:
    void SetValue(int value) override { benchmark::DoNotOptimize(value); }
};

// A tone on each channel with some noise, so no path of the peak search is taken for free.
// toneHertz 0: the noise alone.
std::vector<int16_t> CapturedBlock(int frames = kBlockFrames, double toneHertz = 1000) {
    std::mt19937 rng(3);
    std::normal_distribution<double> noise(0.0, 200.0);
    std::vector<int16_t> block(2 * frames);
    for (int t = 0; t < frames; ++t) {
        const double phase = 2 * 3.141592653589793 * t / kSampleRate;
        block[2 * t] = int16_t(std::lround(12000 * std::sin(toneHertz * phase) + noise(rng)));
        block[2 * t + 1] = int16_t(std::lround(6000 * std::sin(toneHertz * phase) + noise(rng)));
    }
    return block;
}

void SpectrumFrame(const std::vector<int16_t>& block, float* x1, float* x2, float* out) {
    for (int k = 0; k < 1024; ++k) {
        x1[k] = block[2 * k];
        x2[k] = block[2 * k + 1];
    }
    CFftCalc fft;
    fft.SpectrumMagnitudes(x1, out);
    fft.SpectrumMagnitudes(x2, out + 512);
    benchmark::DoNotOptimize(out);
}

// CPU time of this thread: the machine may be shared, and the worker's own cost is what matters.
double ThreadSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

void ReportShareOfBufferPeriod(benchmark::State& state, double startSeconds) {
    const double perIteration = (ThreadSeconds() - startSeconds) / double(state.iterations());
    state.counters["pct_of_buffer_period"] = 100 * perIteration / kBufferSeconds;
}

void BM_FrequencyMeterPerBuffer(benchmark::State& state) {
    const std::vector<int16_t> block = CapturedBlock();
    CDiscardingReadout x1;
    CDiscardingReadout x2;
    const double start = ThreadSeconds();
    for (auto _ : state) {
        MeasureFrequencies(block.data(), x1, x2);
    }
    ReportShareOfBufferPeriod(state, start);
}

void BM_MultimeterPerBuffer(benchmark::State& state) {
    const std::vector<int16_t> block = CapturedBlock();
    CDiscardingReadout readout;
    const double start = ThreadSeconds();
    for (auto _ : state) {
        MeasureMeter(block.data(), kMeterModeR, 1000.0, readout);
    }
    ReportShareOfBufferPeriod(state, start);
}

void BM_SpectrumPerFrame(benchmark::State& state) {
    const std::vector<int16_t> block = CapturedBlock();
    std::vector<float> x1(1024), x2(1024), out(1024);
    const double start = ThreadSeconds();
    for (auto _ : state) {
        SpectrumFrame(block, x1.data(), x2.data(), out.data());
    }
    ReportShareOfBufferPeriod(state, start);
}

void BM_ToneEstimatorPerBuffer(benchmark::State& state) {
    const std::vector<int16_t> buffer = CapturedBlock(kFramesPerBuffer, double(state.range(0)));
    auto estimator = std::make_unique<CToneEstimator>();
    const double start = ThreadSeconds();
    for (auto _ : state) {
        benchmark::DoNotOptimize(estimator->Measure(buffer.data()));
    }
    ReportShareOfBufferPeriod(state, start);
}

// The first buffer of a tone: nothing to refit, so every buffer runs the transform search too.
void BM_ToneEstimatorNewTonePerBuffer(benchmark::State& state) {
    const std::vector<int16_t> buffer = CapturedBlock(kFramesPerBuffer, double(state.range(0)));
    auto estimator = std::make_unique<CToneEstimator>();
    const double start = ThreadSeconds();
    for (auto _ : state) {
        estimator->Reset();
        benchmark::DoNotOptimize(estimator->Measure(buffer.data()));
    }
    ReportShareOfBufferPeriod(state, start);
}

void BM_AllMeasurementPerBuffer(benchmark::State& state) {
    const std::vector<int16_t> block = CapturedBlock();
    std::vector<float> x1(1024), x2(1024), out(1024);
    CDiscardingReadout a;
    CDiscardingReadout b;
    CDiscardingReadout c;
    const double start = ThreadSeconds();
    for (auto _ : state) {
        MeasureFrequencies(block.data(), a, b);
        MeasureMeter(block.data(), kMeterModeR, 1000.0, c);
        SpectrumFrame(block, x1.data(), x2.data(), out.data());
    }
    ReportShareOfBufferPeriod(state, start);
}

} // namespace

BENCHMARK(BM_FrequencyMeterPerBuffer);
BENCHMARK(BM_MultimeterPerBuffer);
BENCHMARK(BM_SpectrumPerFrame);
BENCHMARK(BM_ToneEstimatorPerBuffer)->ArgName("tone_hz")->Arg(1000)->Arg(20)->Arg(12345)->Arg(0);
BENCHMARK(BM_ToneEstimatorNewTonePerBuffer)->ArgName("tone_hz")->Arg(1000)->Arg(20)->Arg(12345);
BENCHMARK(BM_AllMeasurementPerBuffer);
