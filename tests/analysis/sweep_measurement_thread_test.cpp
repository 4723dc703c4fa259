// The measurement fed by a capture thread while another polls it, as the window and the headless
// run do: the poller sees progress rise to completion and then analyses what the feeder wrote
// (also run under ThreadSanitizer).
#include "analysis/sweep/sweep_measurement.h"

#include <gtest/gtest.h>

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

} // namespace
