// The sweep's capture as the run drives it, on the engine's own capture worker on the simulated
// card: every buffer the tap hands over is fed to the measurement, with its capture time, with
// allocation counting armed on that thread, from before the sweep plays until the measurement is
// complete; the engine's word on when the sweep left then gives the wire's round trip.
#include "analysis/sweep/sweep_measurement.h"
#include "audio/sim/simulated_bench.h"
#include "audio/test_signal.h"
#include "engine/sound_device.h"
#include "tests/support/allocation_counter.h"
#include "tests/support/wait_until.h"

#include <gtest/gtest.h>

#include <atomic>

namespace {

struct CountedFeed {
    CSweepMeasurement* measurement = nullptr;
    const CSoundDevice* engine = nullptr;
    std::atomic<int> buffers{0};
};

// Capture worker: each buffer with its capture time, as the run feeds it.
void CountedTap(const int16_t* interleaved, int frames, uint64_t gapCount, void* context) {
    auto* feed = static_cast<CountedFeed*>(context);
    tavrin::test::ArmAllocationCountOnThisThread();
    feed->measurement->Feed(interleaved, frames, gapCount, feed->engine->TappedStamp());
    tavrin::test::DisarmAllocationCountOnThisThread();
    ++feed->buffers;
}

TEST(SweepCaptureWorker, FeedsTheMeasurementWithoutAllocating) {
    if (!tavrin::test::kAllocationsCounted) {
        GTEST_SKIP() << "a sanitizer keeps its own allocator; the release build counts";
    }
    SelectWaveBackend("sim");
    CSimulatedBench::Instance().Reset();
    SweepMeasurementSettings settings;
    settings.sweep.frames = 1 << 16;
    settings.analysis.points_per_octave = 3;
    CSweepMeasurement measurement(settings);
    CountedFeed feed;
    feed.measurement = &measurement;
    tavrin::test::ResetAllocationCount();
    {
        CSoundDevice engine;
        feed.engine = &engine;
        engine.SetCaptureTap(&CountedTap, &feed);
        TestSignal signal;
        signal.kind = TestSignalKind::Samples;
        ASSERT_TRUE(engine.StartTestSignal(signal)); // silence until the capture runs
        engine.StartCapture();
        ASSERT_TRUE(WaitUntil([&] { return measurement.Progress() > 0; }));
        signal.samples = measurement.Playback();
        engine.StartTestSignal(signal);
        EXPECT_TRUE(WaitUntil([&] { return measurement.Complete(); }, std::chrono::seconds(30)));
        engine.SetCaptureTap(nullptr, nullptr);
        measurement.SetDeparture(engine.TestSignalDeparture());
        engine.StopCapture();
        engine.StopTestSignal();
    }
    SelectWaveBackend(nullptr);
    // 65536 frames and the 0.7 s budget are 24 buffers of 4096.
    EXPECT_GE(feed.buffers, 24);
    EXPECT_EQ(tavrin::test::AllocationsOnArmedThreads(), 0u);
    const SweepOutcome outcome = measurement.Analyse();
    EXPECT_EQ(outcome.failure, SweepFailure::None);
    // The card's wire, played and captured over the same frames of its clock, takes no time.
    EXPECT_TRUE(outcome.round_trip);
    EXPECT_NEAR(outcome.latency_samples, 0.0, 0.01);
}

} // namespace
