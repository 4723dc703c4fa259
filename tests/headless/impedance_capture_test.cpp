// `tavrin impedance`'s per-buffer work on the real capture worker of the simulated card: counting
// armed around each call of the tap, a run of live readings and a whole stepped sweep allocate
// nothing there (the sweep, its detector and its transform are made before the capture starts).
#include "audio/sim/simulated_bench.h"
#include "audio/test_signal.h"
#include "base/pcm_format.h"
#include "headless/headless_run.h"
#include "headless/impedance_capture.h"
#include "headless/stop_signal.h"
#include "tests/support/allocation_counter.h"

#include <gtest/gtest.h>

#include <chrono>

namespace {

void ArmedTap(const int16_t* interleaved, int frames, uint64_t gapCount, void* self) {
    tavrin::test::ArmAllocationCountOnThisThread();
    CImpedanceCapture::Tap(interleaved, frames, gapCount, self);
    tavrin::test::DisarmAllocationCountOnThisThread();
}

class ImpedanceCaptureWorker : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override { CSimulatedBench::Instance().Reset(); }
    void TearDown() override { CSimulatedBench::Instance().Reset(); }
};

TEST_P(ImpedanceCaptureWorker, AllocatesNothingPerBuffer) {
    if (!tavrin::test::kAllocationsCounted) {
        GTEST_SKIP() << "a sanitizer keeps its own allocator; the release build counts";
    }
    const bool sweep = GetParam();
    ASSERT_TRUE(BeginRun(std::string("sim:dut=divider:10:R2+C1e-3")));
    ImpedanceSweepSettings settings;
    settings.f1_hz = 250;
    settings.f2_hz = 1000;
    settings.per_octave = 1;
    settings.r_ref_ohm = 10;
    settings.sample_rate_hz = kSampleRate;
    std::string error;
    const auto plan = PlanPlayedSweep(settings, &error);
    ASSERT_TRUE(plan) << error;
    ImpedanceLiveSettings live;
    live.r_ref_ohm = settings.r_ref_ohm;
    live.sample_rate_hz = kSampleRate;
    live.freq_hz = plan->front().freq_hz;
    ImpedanceCorrections corrections;
    corrections.shorted.Set(100, 0.01); // a correction applied on the worker too
    corrections.shorted.Set(2000, 0.01);
    CImpedanceCapture capture(live, corrections, settings,
                              sweep ? *plan : std::vector<ImpedanceStep>{}, 0);
    CSoundDevice engine;
    CAlertLines alerts;
    tavrin::test::ResetAllocationCount();
    engine.SetCaptureTap(&ArmedTap, &capture);
    ASSERT_TRUE(StartCaptureOrSay(engine, alerts));
    TestSignal signal;
    signal.freq_hz = *live.freq_hz;
    signal.level_dbfs = -6;
    engine.StartTestSignal(signal);
    std::vector<ImpedanceLiveReading> readings;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < until && !capture.Finished() &&
           (sweep || readings.size() < 4)) {
        WaitForWake(200);
        capture.TakeReadings(readings);
        if (const double tone = capture.TakeNextTone(); tone > 0) {
            signal.freq_hz = tone;
            engine.StartTestSignal(signal);
        }
    }
    engine.SetCaptureTap(nullptr, nullptr);
    engine.StopCapture();
    engine.StopTestSignal();
    if (sweep) {
        ASSERT_TRUE(capture.Finished());
        ASSERT_NE(capture.Sweep(), nullptr);
        EXPECT_EQ(capture.Sweep()->Points().size(), plan->size());
    } else {
        ASSERT_GE(readings.size(), 4u);
        EXPECT_EQ(readings.back().refusal, ImpedanceRefusal::None);
    }
    EXPECT_GT(capture.FramesIn(), 0);
    EXPECT_EQ(tavrin::test::AllocationsOnArmedThreads(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Runs, ImpedanceCaptureWorker, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "sweep" : "live"; });

} // namespace
