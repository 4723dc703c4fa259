// The status line's text for one channel, from readings of real sample blocks.
#include "app/status_line.h"

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

// Which traces get a scale in volts, in each of the scope's modes, and along which grid lines.
struct TraceScaleCase {
    int mode;
    bool x1Shown;
    bool x2Shown;
    bool x1AcrossColumns; // X-Y: X1 runs across the screen
};

class TraceScale : public testing::TestWithParam<TraceScaleCase> {};

TEST_P(TraceScale, ScaleOfEachTraceTheModeDraws) {
    const TraceScaleCase c = GetParam();
    ScopeScale scale;
    scale.mode = c.mode;
    scale.ampScale = {1.0f, 0.5f};
    scale.gainDivisor = {2, 4};
    scale.gridRows = 10;
    scale.gridColumns = 8;
    scale.widthPx = 560;
    scale.heightPx = 381;
    // Sample units a division over 32768, times the crest of a 0 dBFS sine of 1.5 V.
    const double crest = 1.5 * std::sqrt(2.0) / 32768;
    const double x1Rows = 38.0 * 2 / 1.0 * crest;
    const double x1Columns = 559.0 / 8 * 2 / 1.0 * crest;
    const double x2Rows = 38.0 * 4 / 0.5 * crest;
    const auto x1 = TraceVoltsPerDivision(scale, 0, 1.5);
    const auto x2 = TraceVoltsPerDivision(scale, 1, 1.5);
    ASSERT_EQ(x1.has_value(), c.x1Shown);
    ASSERT_EQ(x2.has_value(), c.x2Shown);
    if (x1) {
        EXPECT_NEAR(*x1, c.x1AcrossColumns ? x1Columns : x1Rows, 1e-12);
    }
    if (x2) {
        EXPECT_NEAR(*x2, x2Rows, 1e-12);
    }
}

INSTANTIATE_TEST_SUITE_P(Modes, TraceScale,
                         testing::Values(TraceScaleCase{1, true, false, false},  // X1 alone
                                         TraceScaleCase{2, true, true, false},   // X1 and X2
                                         TraceScaleCase{3, true, true, false},   // the sum
                                         TraceScaleCase{4, true, true, true},    // X-Y
                                         TraceScaleCase{5, false, false, false}, // spectra
                                         TraceScaleCase{0, false, false, false}));

TEST(StatusLineVolts, VoltsKeepThreeFiguresAndSilenceReadsADash) {
    EXPECT_EQ(VoltsText(1.23456), "1.235 V");
    EXPECT_EQ(VoltsText(0.5), "0.500 V");
    EXPECT_EQ(VoltsText(0.01234), "12.34 mV");
    EXPECT_EQ(VoltsText(NAN), "— V");

    ChannelReading reading;
    reading.rmsDbfs = -6.0206; // half of full scale
    EXPECT_EQ(StatusVoltsText(reading, 2.0, 0.00328), "  1.000 Vrms  2.828 Vpp  3.28 mV/div");
    EXPECT_EQ(StatusVoltsText(reading, 2.0, std::nullopt), "  1.000 Vrms  2.828 Vpp");
    reading.rmsDbfs = -INFINITY;
    EXPECT_EQ(StatusVoltsText(reading, 2.0, std::nullopt), "  — Vrms  — Vpp");
}

} // namespace
