// The status line's text for one channel, from readings of real sample blocks.
#include "status_line.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

namespace {

// A sine of `amplitude` on both channels, 1 kHz.
std::vector<int16_t> SineBlock(double amplitude) {
    std::vector<int16_t> block(size_t(kFramesPerBuffer) * kChannels);
    for (int f = 0; f < kFramesPerBuffer; ++f) {
        const double s = amplitude * std::sin(2 * std::numbers::pi * 1000.0 * f / kSampleRate);
        block[2 * size_t(f)] = block[2 * size_t(f) + 1] = int16_t(std::lround(s));
    }
    return block;
}

// The largest positive code is a hair under full scale (32768): its level is a small negative
// number of dB that rounds to zero, and zero has no sign.
TEST(StatusLineText, FullScaleSineReadsZeroDbfsWithoutAMinusSign) {
    static CToneEstimator estimator;
    const ChannelReading x1 = estimator.Measure(SineBlock(32767.0).data())[0];
    ASSERT_LT(x1.peakDbfs, 0.0);
    ASSERT_GT(x1.peakDbfs, -0.005);
    const std::string text = StatusChannelText("X1", x1);
    EXPECT_NE(text.find("  peak 0.00 dBFS"), std::string::npos) << text;
    EXPECT_EQ(text.find("-0.00"), std::string::npos) << text;
}

// Just under half a hundredth below full scale still prints as the level it rounds to.
TEST(StatusLineText, SmallNegativeLevelsKeepTheirSignOnceTheyRoundAwayFromZero) {
    ChannelReading reading;
    reading.rmsDbfs = -6.0206;
    reading.peakDbfs = -0.006;
    EXPECT_EQ(StatusChannelText("X2", reading), "X2 —  RMS -6.02  peak -0.01 dBFS");
    reading.averageHertz = 999.9996;
    reading.peakDbfs = -0.0049;
    EXPECT_EQ(StatusChannelText("X2", reading), "X2 1000.000 Hz  RMS -6.02  peak 0.00 dBFS");
}

} // namespace
