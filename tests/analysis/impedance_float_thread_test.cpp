// The impedance run fed float buffers at 96 kHz on a capture thread of its own: from the first
// tone's arrival through every step of a stepped sweep, the feeding thread allocates nothing.
#include "analysis/impedance/impedance_live.h"
#include "tests/support/allocation_counter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <string>
#include <thread>
#include <vector>

namespace {

TEST(ImpedanceFloatFeed, AStepSweepAt96kAllocatesNothing) {
    if (!tavrin::test::kAllocationsCounted) {
        GTEST_SKIP() << "ThreadSanitizer keeps its own allocator; the other builds count";
    }
    constexpr double rate = 96000;
    ImpedanceSweepSettings sweep;
    sweep.f1_hz = 1000;
    sweep.f2_hz = 40000;
    sweep.per_octave = 1;
    sweep.sample_rate_hz = rate;
    std::string error;
    const auto plan = PlanPlayedSweep(sweep, &error);
    ASSERT_TRUE(plan) << error;
    ImpedanceLiveSettings live;
    live.freq_hz = plan->front().freq_hz;
    live.sample_rate_hz = rate;
    CImpedanceRun run(live, {}, sweep, *plan);

    constexpr int kBuffer = 4096;
    std::vector<float> pcm(2 * kBuffer); // made here: the worker only writes into it
    uint64_t allocations = 0;
    int readings = 0;
    bool finished = false;
    std::thread worker([&] {
        tavrin::test::ResetAllocationCount();
        tavrin::test::ArmAllocationCountOnThisThread();
        double tone = *live.freq_hz;
        double phase = 0;
        for (int buffer = 0; buffer < 4000 && !finished; ++buffer) {
            // A 100-ohm part against the 100-ohm reference: X2 reads half of X1.
            for (int k = 0; k < kBuffer; ++k) {
                const double v = 0.5 * std::sin(phase + 2 * std::numbers::pi * tone * k / rate);
                pcm[2 * size_t(k)] = float(v);
                pcm[2 * size_t(k) + 1] = float(0.5 * v);
            }
            phase = std::fmod(phase + 2 * std::numbers::pi * tone * kBuffer / rate,
                              2 * std::numbers::pi);
            ImpedanceLiveReading reading;
            double next = 0;
            switch (run.Feed(pcm.data(), kBuffer, 0, &reading, &next)) {
            case CImpedanceRun::Event::NextTone:
                tone = next;
                ++readings;
                break;
            case CImpedanceRun::Event::Finished:
                finished = true;
                break;
            default:
                break;
            }
        }
        tavrin::test::DisarmAllocationCountOnThisThread();
        allocations = tavrin::test::AllocationsOnArmedThreads();
    });
    worker.join();
    EXPECT_TRUE(finished);
    EXPECT_EQ(readings, int(plan->size()) - 1) << "each step but the last asks for the next tone";
    EXPECT_EQ(allocations, 0u);
    ASSERT_NE(run.Sweep(), nullptr);
    for (const ImpedanceSweepPoint& p : run.Sweep()->Points()) {
        ASSERT_EQ(p.refusal, ImpedanceRefusal::None) << p.freq_hz;
        EXPECT_NEAR(std::abs(p.z_ohm), 100, 0.1) << p.freq_hz << " Hz";
    }
}

} // namespace
