// Analysers made, used and destroyed on two threads at once give what one thread alone gives:
// FFTW's planner, which is not thread-safe, is only ever entered by one of them.
#include "distortion.h"
#include "real_fft.h"

#include "test_signals.h"

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

} // namespace
