#include "measure/multimeter.h"
#include "measure/readout.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <limits>
#include <ostream>
#include <vector>

namespace {

class CRecordingReadout : public IReadout {
public:
    void SetValue(int value) override { m_values.push_back(value); }
    std::vector<int> m_values;
};

constexpr double kPi = 3.141592653589793;

// X1 = left x s, X2 = right x s for s a sine that completes 5 periods in the block.
std::vector<int16_t> ScaledSines(double left, double right) {
    std::vector<int16_t> block(2 * 2048);
    for (int t = 0; t < 2048; ++t) {
        const double s = std::sin(2 * kPi * 5 * t / 2048);
        block[2 * t] = int16_t(std::lround(left * s));
        block[2 * t + 1] = int16_t(std::lround(right * s));
    }
    return block;
}

// The multiples are taken after rounding, so X1 is exactly `ratio` times X2 sample by sample.
std::vector<int16_t> ExactRatio(int ratio, double amplitude) {
    std::vector<int16_t> block = ScaledSines(0, amplitude);
    for (int t = 0; t < 2048; ++t) {
        block[2 * t] = int16_t(ratio * block[2 * t + 1]);
    }
    return block;
}

std::vector<int> Readings(const std::vector<int16_t>& block, int mode, double ref = 1000) {
    CRecordingReadout readout;
    MeasureMeter(block.data(), mode, ref, readout);
    return readout.m_values;
}

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNan = std::numeric_limits<double>::quiet_NaN();

} // namespace

TEST(MeterLevelsTest, FullScaleSineIsRmsTimesRootOf2048Thousandths) {
    const MeterLevels levels = MeasureLevels(ScaledSines(32767, 0).data());
    EXPECT_NEAR(levels.left, 32767 / std::sqrt(2.0) * std::sqrt(2.048), 0.05);
    EXPECT_EQ(levels.right, 0.0);
    // Each square must be formed without overflow: an all -32768 block is the largest case.
    std::vector<int16_t> loud(2 * 2048, -32768);
    EXPECT_DOUBLE_EQ(MeasureLevels(loud.data()).left, std::sqrt(0.001 * 2048.0 * 32768 * 32768));
}

struct ReadoutCase {
    double reading;
    int shown;
};

std::ostream& operator<<(std::ostream& out, const ReadoutCase& c) {
    return out << c.reading << " -> " << c.shown;
}

class ReadingToReadoutTest : public ::testing::TestWithParam<ReadoutCase> {};

TEST_P(ReadingToReadoutTest, TruncatesThenKeepsLow32Bits) {
    EXPECT_EQ(ReadingToReadout(GetParam().reading), GetParam().shown);
}

INSTANTIATE_TEST_SUITE_P(
    Readings, ReadingToReadoutTest,
    ::testing::Values(ReadoutCase{99.9, 99}, ReadoutCase{-99.9, -99}, ReadoutCase{-0.5, 0},
                      ReadoutCase{33157.87, 33157}, ReadoutCase{4294967296.0 + 5, 5},
                      ReadoutCase{2147483648.0, INT_MIN}, ReadoutCase{-4294967297.0, -1},
                      ReadoutCase{9223372036854775808.0, 0},
                      ReadoutCase{9223372036854774784.0, -1024}, ReadoutCase{1e19, 0},
                      ReadoutCase{-1e19, 0}, ReadoutCase{kInf, 0}, ReadoutCase{-kInf, 0},
                      ReadoutCase{kNan, 0}));

struct ModeCase {
    double left;
    double right;
    int mode;
    int shown;
};

std::ostream& operator<<(std::ostream& out, const ModeCase& c) {
    return out << "VL " << c.left << " VR " << c.right << " mode " << c.mode << " -> " << c.shown;
}

class MeterReadingTest : public ::testing::TestWithParam<ModeCase> {};

TEST_P(MeterReadingTest, ModeFormulaWithReference1000) {
    const ModeCase c = GetParam();
    const std::optional<double> reading = MeterReading(c.mode, 1000, {c.left, c.right});
    ASSERT_TRUE(reading.has_value());
    EXPECT_EQ(ReadingToReadout(*reading), c.shown);
}

INSTANTIATE_TEST_SUITE_P(
    Levels, MeterReadingTest,
    ::testing::Values(ModeCase{2, 1, 1, 1000}, ModeCase{2, 1, 2, 1000}, ModeCase{2, 1, 3, 1000},
                      ModeCase{3, 1, 1, 2000}, ModeCase{3, 1, 2, 500}, ModeCase{3, 1, 3, 2000},
                      ModeCase{1, 2, 1, -500}, ModeCase{1, 2, 2, -2000}, ModeCase{1, 2, 3, -500},
                      ModeCase{5, 5, 1, 0}, ModeCase{5, 5, 2, 0}, ModeCase{5, 5, 3, 0},
                      ModeCase{7, 0, 1, 0}, ModeCase{7, 0, 2, 0}, ModeCase{7, 0, 3, 0},
                      ModeCase{0, 0, 1, 0}, ModeCase{0, 0, 2, 0}, ModeCase{0, 0, 3, 0},
                      ModeCase{0, 0, 4, 0}, ModeCase{123.9, 7, 4, 123}));

TEST(MeterReadingTest, VacIgnoresReferenceAndOtherModesReadNothing) {
    EXPECT_EQ(MeterReading(kMeterModeVac, 1, {50, 2}), MeterReading(kMeterModeVac, 9999, {50, 2}));
    for (int mode : {0, 5, -1, 100}) {
        EXPECT_FALSE(MeterReading(mode, 1000, {2, 1}).has_value()) << mode;
    }
}

TEST(MultimeterTest, ExactLevelRatiosFromBlocks) {
    const std::vector<int16_t> doubled = ExactRatio(2, 8000);
    EXPECT_EQ(Readings(doubled, kMeterModeR), std::vector<int>{1000});
    EXPECT_EQ(Readings(doubled, kMeterModeC), std::vector<int>{1000});
    EXPECT_EQ(Readings(doubled, kMeterModeL), std::vector<int>{1000});

    const std::vector<int16_t> same = ExactRatio(1, 8000);
    EXPECT_EQ(Readings(same, kMeterModeR), std::vector<int>{0});
    EXPECT_EQ(Readings(same, kMeterModeC), std::vector<int>{0});

    // X1 weaker than X2: negative, which the readout shows blank.
    const std::vector<int16_t> weaker = ScaledSines(4000, 8000);
    for (int mode : {kMeterModeR, kMeterModeC, kMeterModeL}) {
        ASSERT_EQ(Readings(weaker, mode).size(), 1u);
        EXPECT_LT(Readings(weaker, mode)[0], 0) << mode;
    }
}

TEST(MultimeterTest, SilentChannelsReadZero) {
    const std::vector<int16_t> onlyX1 = ScaledSines(10000, 0);
    const std::vector<int16_t> silent = ScaledSines(0, 0);
    for (int mode : {kMeterModeR, kMeterModeC, kMeterModeL}) {
        EXPECT_EQ(Readings(onlyX1, mode), std::vector<int>{0}) << mode;
        EXPECT_EQ(Readings(silent, mode), std::vector<int>{0}) << mode;
    }
    EXPECT_EQ(Readings(silent, kMeterModeVac), std::vector<int>{0});
    const int level = int(10000 / std::sqrt(2.0) * std::sqrt(2.048));
    ASSERT_EQ(Readings(onlyX1, kMeterModeVac).size(), 1u);
    EXPECT_NEAR(Readings(onlyX1, kMeterModeVac)[0], level, 1);
}

TEST(MultimeterTest, FullScaleSineShows33157InVac) {
    EXPECT_EQ(Readings(ScaledSines(32767, 1234), kMeterModeVac, 0.001), std::vector<int>{33157});
}

TEST(MultimeterTest, NoFunctionSelectedLeavesReadoutUntouched) {
    for (int mode : {0, 5, -7}) {
        EXPECT_TRUE(Readings(ExactRatio(2, 8000), mode).empty()) << mode;
    }
}
