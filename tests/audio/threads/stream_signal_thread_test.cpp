// The measurement stream's test signal between two real threads: the owner sets new signals
// while the I/O thread fills, as a run's sweep follows its silence. Every period is filled from
// one signal whole, and the filling thread allocates nothing.
#include "audio/stream_signal.h"
#include "tests/support/allocation_counter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

namespace {

TEST(StreamSignalThreads, EachPeriodComesFromOneSignalAndFillingAllocatesNothing) {
    CStreamSignalSource source({96000, SampleFormat::S16});
    std::atomic<bool> stop{false};
    std::atomic<int> mixed{0};
    std::atomic<int64_t> periods{0};
    std::thread io([&] {
        constexpr int kFrames = 480;
        std::vector<float> period(2 * kFrames);
        tavrin::test::ArmAllocationCountOnThisThread();
        while (!stop.load()) {
            source.Fill(period.data(), kFrames);
            // A signal's samples are one value throughout, then silence after their end.
            const float first = period[0];
            for (const float value : period) {
                if (value != first && value != 0.0f) {
                    ++mixed;
                    break;
                }
            }
            ++periods;
        }
        tavrin::test::DisarmAllocationCountOnThisThread();
    });
    tavrin::test::ResetAllocationCount();
    for (int k = 1; k <= 2000; ++k) {
        // On the 16-bit grid, so that the source's quantising keeps the value.
        const float value = float(k % 1000 + 1) / 32768.0f;
        TestSignal signal;
        signal.kind = TestSignalKind::Samples;
        signal.float_samples = std::make_shared<const std::vector<float>>(9600, value);
        source.Set(signal);
        if (k % 100 == 0) {
            std::this_thread::yield();
        }
    }
    while (periods.load() < 1000) {
        std::this_thread::yield();
    }
    stop = true;
    io.join();
    EXPECT_EQ(mixed.load(), 0);
    if (tavrin::test::kAllocationsCounted) {
        EXPECT_EQ(tavrin::test::AllocationsOnArmedThreads(), 0u);
    }
}

} // namespace
