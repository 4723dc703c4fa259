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
    if (c.imd) {
        settings.imd = ImdPreset(*c.imd);
    }
    monitor.SetSettings(settings);

    // Made beforehand: the 997 Hz tone, or the two tones at 4:1.
    const int buffers = 2 + 3 * c.block_frames / kBufferFrames;
    std::vector<int16_t> stream(size_t(2) * kBufferFrames * buffers);
    for (size_t n = 0; n < stream.size() / 2; ++n) {
        const auto at = [n](double hz) {
            return std::sin(2.0 * std::numbers::pi * std::fmod(hz * double(n), 44100.0) / 44100.0);
        };
        const double x = c.imd ? 12000 * at(60.0) + 3000 * at(7000.0) : 16000 * at(997.0);
        stream[2 * n] = stream[2 * n + 1] = int16_t(std::lround(x));
    }

    std::atomic<bool> feeding{true};
    uint64_t allocations = 0;
    std::thread worker([&] {
        tavrin::test::ResetAllocationCount();
        tavrin::test::ArmAllocationCountOnThisThread();
        for (int b = 0; b < buffers; ++b) {
            monitor.Append(stream.data() + size_t(2) * kBufferFrames * b, kBufferFrames, 0);
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
    EXPECT_DOUBLE_EQ(last->time_s, double((blocks - 1) * c.block_frames) / 44100.0);
    EXPECT_EQ(last->channels[0].refusal, DistortionRefusal::None);
    EXPECT_EQ(last->residual_dbfs[1].size(), size_t(c.block_frames / 2 + 1));
    if (c.imd) {
        ASSERT_TRUE(last->imd[0].has_value());
        EXPECT_EQ(last->imd[0]->refusal, DistortionRefusal::None);
    }
}

INSTANTIATE_TEST_SUITE_P(Blocks, DistortionHandover,
                         testing::Values(HandoverCase{"Smallest", 8192, std::nullopt},
                                         HandoverCase{"Largest", 262144, std::nullopt},
                                         HandoverCase{"OddWithSmpte", 12289, ImdKind::Smpte}),
                         [](const testing::TestParamInfo<HandoverCase>& info) {
                             return info.param.name;
                         });

} // namespace
