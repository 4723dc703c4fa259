// The simulated measurement stream on the bench's real-time clock: whole periods of the rate's
// size, stamped one period apart on the bench's clock.
#include "audio/sim/simulated_bench.h"
#include "audio/sim/simulated_stream.h"
#include "tests/support/wait_until.h"

#include <gtest/gtest.h>

#include <atomic>

namespace {

struct Periods {
    std::atomic<int> calls{0};
    int frames[2] = {0, 0};
    ClockStamp stamps[2];

    static void Tap(const float*, int frames, uint64_t, ClockStamp stamp, void* self) {
        auto* p = static_cast<Periods*>(self);
        const int call = p->calls;
        if (call < 2) {
            p->frames[call] = frames;
            p->stamps[call] = stamp;
        }
        ++p->calls;
    }
};

TEST(SimulatedStreamThread, RealTimePeriodsAreStampedOnePeriodApart) {
    CSimulatedBench::Instance().Reset();
    std::string error;
    auto stream = OpenSimulatedStream("sim", {96000, SampleFormat::S24}, &error);
    ASSERT_NE(stream, nullptr) << error;
    Periods periods;
    ASSERT_TRUE(stream->Start(&Periods::Tap, &periods, nullptr, &error)) << error;
    EXPECT_TRUE(WaitUntil([&] { return periods.calls >= 2; }));
    stream->Stop();
    EXPECT_EQ(stream->PeriodFrames(), 8192);
    EXPECT_EQ(periods.frames[0], 8192);
    EXPECT_EQ(periods.frames[1], 8192);
    EXPECT_EQ(periods.stamps[0].clock, DeviceClock::Bench);
    // 8192 frames at 96 kHz: 85333333.3 ns
    EXPECT_EQ(periods.stamps[1].ns - periods.stamps[0].ns, 85333333);
}

} // namespace
