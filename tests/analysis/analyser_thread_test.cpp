// Analysers made, used and destroyed on two threads at once give what one thread alone gives:
// FFTW's planner, which is not thread-safe, is only ever entered by one of them.
#include "analysis/distortion/distortion.h"
#include "analysis/sweep/sweep_analyser.h"
#include "fft/real_fft.h"

#include "tests/analysis/test_signals.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <thread>

namespace {

constexpr int kRounds = 12;

double ThdnOnce(int frames, const std::vector<double>& x) {
    CDistortionAnalyser analyser(frames, kRate);
    return analyser.Analyse(x.data(), 1, {}).thdn_db.value_or(0);
}

TEST(AnalyserThreads, TwoThreadsPlanAndMeasureAtOnce) {
    // Sizes that make FFTW plan afresh, so both threads are inside the planner often.
    const int sizes[2] = {8192 + 2 * 3 * 5 * 7, 16384 + 2 * 3 * 11};
    std::vector<double> blocks[2];
    double alone[2];
    for (int i = 0; i < 2; ++i) {
        blocks[i] = Synthesise(sizes[i], {{0.5, 997.3}, {0.5e-3, 2 * 997.3, 0.4}});
        alone[i] = ThdnOnce(sizes[i], blocks[i]);
    }
    double together[2][kRounds] = {};
    {
        std::jthread threads[2];
        for (int i = 0; i < 2; ++i) {
            threads[i] = std::jthread([&, i] {
                for (int round = 0; round < kRounds; ++round) {
                    together[i][round] = ThdnOnce(sizes[i], blocks[i]);
                }
            });
        }
    }
    for (int i = 0; i < 2; ++i) {
        for (int round = 0; round < kRounds; ++round) {
            EXPECT_EQ(together[i][round], alone[i]) << "thread " << i << " round " << round;
        }
    }
}

// Transforms of many sizes made and dropped on two threads at once, so both are inside the planner
// together most of the time: each still transforms an impulse into a flat spectrum.
TEST(AnalyserThreads, TwoThreadsMakeTransformsAtOnce) {
    constexpr int kSizes = 150;
    int wrong[2] = {};
    {
        std::jthread threads[2];
        for (int i = 0; i < 2; ++i) {
            threads[i] = std::jthread([&wrong, i] {
                for (int s = 0; s < kSizes; ++s) {
                    CRealFft fft(2 * (40 + 2 * s + i)); // sizes the other thread never plans
                    std::fill(fft.Input(), fft.Input() + fft.Size(), 0.0);
                    fft.Input()[0] = 1;
                    fft.Execute();
                    for (int k = 0; k < fft.Bins(); ++k) {
                        wrong[i] += std::abs(fft.Output()[k] - 1.0) > 1e-12;
                    }
                }
            });
        }
    }
    EXPECT_EQ(wrong[0], 0);
    EXPECT_EQ(wrong[1], 0);
}

// Sweep analysers (forward and inverse plans) made and run on two threads at once: each gives
// what it gives alone, to the bit.
TEST(AnalyserThreads, TwoThreadsAnalyseSweepsAtOnce) {
    SweepSettings settings[2];
    settings[0].frames = 1 << 16;
    settings[1].frames = 1 << 17;
    settings[1].f1_hz = 20;
    auto analyse = [&settings](int i) {
        CSweepAnalyser analyser(settings[i]);
        std::vector<double> y(analyser.Sweep().size(), 0.0);
        for (size_t n = 7; n < y.size(); ++n) {
            y[n] = 0.5 * analyser.Sweep()[n - 7];
        }
        return analyser.Analyse(y.data(), 1, nullptr, {});
    };
    const SweepResult alone[2] = {analyse(0), analyse(1)};
    for (int i = 0; i < 2; ++i) {
        ASSERT_EQ(alone[i].refusal, SweepRefusal::None);
        ASSERT_NEAR(alone[i].mag_db[100], Db(0.5), 0.01); // a working run, not a refused one
    }
    constexpr int kSweepRounds = 3;
    int differing[2] = {};
    {
        std::jthread threads[2];
        for (int i = 0; i < 2; ++i) {
            threads[i] = std::jthread([&, i] {
                for (int round = 0; round < kSweepRounds; ++round) {
                    const SweepResult r = analyse(i);
                    differing[i] += r.mag_db != alone[i].mag_db ||
                                    r.h2_db.size() != alone[i].h2_db.size() ||
                                    r.latency_samples != alone[i].latency_samples;
                }
            });
        }
    }
    EXPECT_EQ(differing[0], 0);
    EXPECT_EQ(differing[1], 0);
}

} // namespace
