// The measurement fed by a capture thread while another polls it, as the window and the headless
// run do: the poller sees progress rise to completion and then analyses what the feeder wrote
// (also run under ThreadSanitizer).
#include "analysis/sweep/sweep_measurement.h"
#include "tests/support/allocation_counter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

namespace {

TEST(SweepMeasurementThreads, FedOnOneThreadPolledAndAnalysedOnAnother) {
    SweepMeasurementSettings settings;
    settings.sweep.frames = 1 << 16;
    settings.analysis.harmonics = false;
    CSweepMeasurement m(settings);
    const std::vector<int16_t>& play = *m.Playback();
    constexpr int kBuffer = 4096;
    constexpr int kDelay = 700;
    std::thread capture([&] {
        std::vector<int16_t> buffer(2 * kBuffer);
        for (int64_t at = 0; !m.Complete(); at += kBuffer) {
            for (int i = 0; i < 2 * kBuffer; ++i) {
                const int64_t source = 2 * (at - kDelay) + i;
                buffer[size_t(i)] =
                    source >= 0 && source < int64_t(play.size()) ? play[size_t(source)] : 0;
            }
            CSweepMeasurement::Tap(buffer.data(), kBuffer, 3, &m);
            std::this_thread::yield();
        }
    });
    double last = 0;
    bool fell = false;
    while (!m.Complete()) {
        const double now = m.Progress();
        fell = fell || now < last;
        last = now;
        EXPECT_FALSE(m.Damaged());
        std::this_thread::yield();
    }
    capture.join();
    EXPECT_FALSE(fell);
    EXPECT_DOUBLE_EQ(m.Progress(), 1.0);
    const SweepOutcome out = m.Analyse();
    ASSERT_EQ(out.failure, SweepFailure::None);
    EXPECT_NEAR(out.latency_samples, kDelay, 0.01);
}

// A measurement stream's float buffers at 192 kHz: the feeding thread allocates nothing, and what
// it fed is the sweep that comes back.
TEST(SweepMeasurementThreads, FloatFeedAt192kAllocatesNothing) {
    if (!tavrin::test::kAllocationsCounted) {
        GTEST_SKIP() << "ThreadSanitizer keeps its own allocator; the other builds count";
    }
    SweepMeasurementSettings settings;
    settings.sweep.rate_hz = 192000;
    settings.sweep.frames = 1 << 18;
    settings.analysis.hi_hz = 90000;
    settings.analysis.harmonics = false;
    SweepForBand(settings);
    CSweepMeasurement m(settings);
    const auto playback = m.PlaybackFloat();
    const std::vector<float>& play = *playback;
    constexpr int kBuffer = 4096;
    constexpr int kDelay = 1500;
    std::vector<float> stream(size_t(2) * (size_t(m.CaptureFrames()) + kBuffer), 0.0f);
    std::copy(play.begin(), play.end(), stream.begin() + 2 * kDelay);
    uint64_t allocations = 0;
    std::thread capture([&] {
        tavrin::test::ResetAllocationCount();
        tavrin::test::ArmAllocationCountOnThisThread();
        for (size_t at = 0; !m.Complete(); at += kBuffer) {
            CSweepMeasurement::TapFloat(stream.data() + 2 * at, kBuffer, 0, &m);
        }
        tavrin::test::DisarmAllocationCountOnThisThread();
        allocations = tavrin::test::AllocationsOnArmedThreads();
    });
    capture.join();
    EXPECT_EQ(allocations, 0u);
    const SweepOutcome out = m.Analyse();
    ASSERT_EQ(out.failure, SweepFailure::None);
    EXPECT_NEAR(out.latency_samples, kDelay, 0.01);
    EXPECT_NEAR(out.latency_ms, kDelay / 192.0, 1e-4);
}

} // namespace
