// The analyser window's path from the capture worker: the monitor (with residual spectra) feeding
// a triple buffer that another thread polls. The feeding thread allocates nothing, from its first
// buffer on, whatever the block size and with the two-tone figures; the reader sees whole rows
// and, once the feeding stops, the newest (also run under ThreadSanitizer).
#include "analysis/distortion/distortion_monitor.h"
#include "base/triple_buffer.h"
#include "tests/support/allocation_counter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <numbers>
#include <thread>
#include <vector>

namespace {

constexpr int kBufferFrames = 4096;

struct HandoverCase {
    const char* name;
    int block_frames;
    std::optional<ImdKind> imd;
    double rate_hz = 44100;
    bool floats = false; // a measurement stream's float samples instead of int16
};

class DistortionHandover : public testing::TestWithParam<HandoverCase> {};

TEST_P(DistortionHandover, TheFeedingThreadAllocatesNothing) {
    if (!tavrin::test::kAllocationsCounted) {
        GTEST_SKIP() << "a sanitizer keeps its own allocator; the release build counts";
    }
    const HandoverCase& c = GetParam();
    CTripleBuffer<DistortionRow> rows(DistortionRowWithRoom());
    CDistortionMonitor monitor([&rows](const DistortionRow& row) { rows.Publish(row); }, true);
    DistortionMonitorSettings settings;
    settings.block_frames = c.block_frames;
    settings.sample_rate_hz = c.rate_hz;
    if (c.imd) {
        settings.imd = ImdPreset(*c.imd);
    }
    monitor.SetSettings(settings);

    // Made beforehand: the 997 Hz tone, or the two tones at 4:1.
    const int buffers = 2 + 3 * c.block_frames / kBufferFrames;
    std::vector<int16_t> stream(size_t(2) * kBufferFrames * buffers);
    std::vector<float> floats(c.floats ? stream.size() : 0);
    for (size_t n = 0; n < stream.size() / 2; ++n) {
        const auto at = [n, &c](double hz) {
            return std::sin(2.0 * std::numbers::pi * std::fmod(hz * double(n), c.rate_hz) /
                            c.rate_hz);
        };
        const double x = c.imd ? 12000 * at(60.0) + 3000 * at(7000.0) : 16000 * at(997.0);
        stream[2 * n] = stream[2 * n + 1] = int16_t(std::lround(x));
        if (c.floats) {
            floats[2 * n] = floats[2 * n + 1] = float(x / 32768);
        }
    }

    std::atomic<bool> feeding{true};
    uint64_t allocations = 0;
    std::thread worker([&] {
        tavrin::test::ResetAllocationCount();
        tavrin::test::ArmAllocationCountOnThisThread();
        for (int b = 0; b < buffers; ++b) {
            const size_t at = size_t(2) * kBufferFrames * b;
            if (c.floats) {
                monitor.Append(floats.data() + at, kBufferFrames, 0);
            } else {
                monitor.Append(stream.data() + at, kBufferFrames, 0);
            }
        }
        tavrin::test::DisarmAllocationCountOnThisThread();
        allocations = tavrin::test::AllocationsOnArmedThreads();
        feeding = false;
    });
    int taken = 0;
    double lastTime = -1;
    while (feeding.load()) {
        if (const DistortionRow* row = rows.Take()) {
            ++taken;
            EXPECT_GT(row->time_s, lastTime);
            lastTime = row->time_s;
        }
        std::this_thread::yield();
    }
    worker.join();

    EXPECT_EQ(allocations, 0u);
    const DistortionRow* last = rows.Take();
    if (last == nullptr) {
        ASSERT_GT(taken, 0);
        return; // the reader had already taken the newest
    }
    const int blocks = buffers * kBufferFrames / c.block_frames;
    EXPECT_DOUBLE_EQ(last->time_s, double((blocks - 1) * c.block_frames) / c.rate_hz);
    EXPECT_EQ(last->channels[0].refusal, DistortionRefusal::None);
    EXPECT_EQ(last->residual_dbfs[1].size(), size_t(c.block_frames / 2 + 1));
    if (c.imd) {
        ASSERT_TRUE(last->imd[0].has_value());
        EXPECT_EQ(last->imd[0]->refusal, DistortionRefusal::None);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Blocks, DistortionHandover,
    testing::Values(HandoverCase{"Smallest", 8192, std::nullopt},
                    HandoverCase{"Largest", 262144, std::nullopt},
                    HandoverCase{"OddWithSmpte", 12289, ImdKind::Smpte},
                    HandoverCase{"Float192k", 262144, ImdKind::Smpte, 192000, true}),
    [](const testing::TestParamInfo<HandoverCase>& info) { return info.param.name; });

} // namespace
