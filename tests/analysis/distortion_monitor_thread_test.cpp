// The monitor's settings changed on one thread while another feeds it, as the analyser window's
// controls do while the capture worker runs (also run under ThreadSanitizer).
#include "analysis/distortion/distortion_monitor.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <numbers>
#include <thread>
#include <vector>

namespace {

TEST(DistortionMonitorThreads, SettingsChangedWhileFeedingGiveWholeBlocksOfEitherSize) {
    std::vector<DistortionRow> rows;
    CDistortionMonitor monitor([&rows](const DistortionRow& row) { rows.push_back(row); }, false);
    DistortionMonitorSettings small, large;
    small.block_frames = 8192;
    large.block_frames = 16384;
    monitor.SetSettings(small);

    std::atomic<bool> changing{true};
    std::thread controls([&] {
        for (int i = 0; i < 40; ++i) {
            monitor.SetSettings(i % 2 == 0 ? large : small);
            std::this_thread::sleep_for(std::chrono::microseconds(500));
        }
        changing = false;
    });
    std::vector<int16_t> buffer(2 * 4096);
    int64_t frame = 0;
    // On until the changes are over, then 16 buffers more: whole blocks of the last size.
    for (int after = 0; after < 16; frame += 4096) {
        after += changing.load() ? 0 : 1;
        for (int n = 0; n < 4096; ++n) {
            const double w =
                2.0 * std::numbers::pi * std::fmod(997.0 * (frame + n), 44100.0) / 44100.0;
            buffer[2 * n] = buffer[2 * n + 1] = int16_t(std::lround(16000 * std::sin(w)));
        }
        monitor.Append(buffer.data(), 4096, 0);
    }
    controls.join();

    ASSERT_GE(rows.size(), 2u);
    double lastEnd = 0;
    for (const DistortionRow& row : rows) {
        const double frames = std::round(44100.0 / row.bin_hz);
        ASSERT_TRUE(frames == 8192 || frames == 16384) << frames;
        // Blocks start at buffer edges, one after the other, never overlapping.
        const double start = row.time_s * 44100.0;
        EXPECT_NEAR(start / 4096, std::round(start / 4096), 1e-9);
        EXPECT_GE(start, lastEnd - 1e-6);
        lastEnd = start + frames;
        EXPECT_EQ(row.channels[0].refusal, DistortionRefusal::None);
    }
}

} // namespace
