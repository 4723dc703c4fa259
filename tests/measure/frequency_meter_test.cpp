#include "measure/frequency_meter.h"
#include "measure/readout.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

class CRecordingReadout : public IReadout {
public:
    void SetValue(int value) override { m_values.push_back(value); }
    std::vector<int> m_values;
};

struct Channel {
    double amplitude = 0;
    double hertz = 0;
    double offset = 0;
};

std::vector<int16_t> Block(const Channel& x1, const Channel& x2) {
    std::vector<int16_t> block(2 * 2048);
    const double pi = 3.141592653589793;
    for (int t = 0; t < 2048; ++t) {
        const Channel* channels[] = {&x1, &x2};
        for (int c = 0; c < 2; ++c) {
            const Channel& ch = *channels[c];
            block[2 * t + c] = int16_t(
                std::lround(ch.offset + ch.amplitude * std::sin(2 * pi * ch.hertz * t / 44100.0)));
        }
    }
    return block;
}

// Runs the meter once and returns {X1 reading, X2 reading}, checking each readout got one value.
std::pair<int, int> Measure(const std::vector<int16_t>& block) {
    CRecordingReadout x1;
    CRecordingReadout x2;
    MeasureFrequencies(block.data(), x1, x2);
    EXPECT_EQ(x1.m_values.size(), 1u);
    EXPECT_EQ(x2.m_values.size(), 1u);
    return {x1.m_values.at(0), x2.m_values.at(0)};
}

} // namespace

TEST(PeakBinToHertzTest, CutsTowardZero) {
    EXPECT_EQ(PeakBinToHertz(0), 0);
    EXPECT_EQ(PeakBinToHertz(46), 990);     // 990.53
    EXPECT_EQ(PeakBinToHertz(464), 9991);   // 9991.41
    EXPECT_EQ(PeakBinToHertz(1023), 22028); // 22028.46
}

class FrequencyMeterToneTest : public ::testing::TestWithParam<std::pair<double, int>> {};

TEST_P(FrequencyMeterToneTest, ReadsTheBinOfTheToneOnBothChannels) {
    const auto [hertz, shown] = GetParam();
    const auto [x1, x2] = Measure(Block({8000, hertz}, {300, hertz}));
    EXPECT_EQ(x1, shown);
    EXPECT_EQ(x2, shown);
}

INSTANTIATE_TEST_SUITE_P(Tones, FrequencyMeterToneTest,
                         ::testing::Values(std::pair{1000.0, 990}, std::pair{10000.0, 9991},
                                           std::pair{440.0, 430}, std::pair{22028.0, 22028},
                                           std::pair{22045.0, 22028}));

TEST(FrequencyMeterTest, SilenceAndOffsetShowZeroNotBlank) {
    EXPECT_EQ(Measure(Block({}, {})), std::pair(0, 0));
    EXPECT_EQ(Measure(Block({200, 1000, 10000}, {200, 5000, -10000})), std::pair(0, 0));
}

TEST(FrequencyMeterTest, ChannelsAreMeasuredIndependently) {
    EXPECT_EQ(Measure(Block({}, {1000, 1000})), std::pair(0, 990));
    EXPECT_EQ(Measure(Block({1000, 10000}, {})), std::pair(9991, 0));
    EXPECT_EQ(Measure(Block({5000, 440}, {5000, 1000})), std::pair(430, 990));
}
