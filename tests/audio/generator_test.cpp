#include "audio/generator.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <vector>

namespace {

std::vector<int16_t> Channel(const GeneratorChannel& channel, int64_t firstFrame, int frames) {
    std::vector<int16_t> out(size_t(frames), int16_t(0x5A5A));
    SynthesizeChannel(channel, firstFrame, out.data(), 1, frames);
    return out;
}

struct SampleCase {
    const char* name;
    int32_t waveform;
    int32_t frequency;
    int32_t divisor;
    int index;  // frame position, counted from 0
    int16_t expected;
};

class GeneratorSamples : public ::testing::TestWithParam<SampleCase> {};

TEST_P(GeneratorSamples, MatchesReferenceValue) {
    const SampleCase& c = GetParam();
    const auto samples = Channel({c.waveform, c.frequency, c.divisor}, 0, c.index + 1);
    EXPECT_EQ(samples[size_t(c.index)], c.expected);
}

// Reference values worked out by hand from the generator's formulas, including truncation.
const SampleCase kSampleCases[] = {
    {"sine1000_0", kWaveSine, 1000, 1, 0, 0},
    {"sine1000_1", kWaveSine, 1000, 1, 1, 4652},
    {"sine1000_2", kWaveSine, 1000, 1, 2, 9211},
    {"sine1000_3", kWaveSine, 1000, 1, 3, 13582},
    {"sine1000_half_0", kWaveSine, 1000, 2, 0, 0},
    {"sine1000_half_1", kWaveSine, 1000, 2, 1, 2326},
    {"sine1000_half_2", kWaveSine, 1000, 2, 2, 4605},
    {"sine1000_half_3", kWaveSine, 1000, 2, 3, 6791},
    {"sine441_peak_truncates", kWaveSine, 441, 1, 25, 32766},
    {"sine441_half_period", kWaveSine, 441, 1, 50, 0},
    {"tri441_0", kWaveTriangle, 441, 1, 0, 32767},
    {"tri441_25", kWaveTriangle, 441, 1, 25, 0},
    {"tri441_50", kWaveTriangle, 441, 1, 50, -32767},
    {"tri441_51", kWaveTriangle, 441, 1, 51, -31456},
    {"tri441_75", kWaveTriangle, 441, 1, 75, 0},
    {"tri441_99", kWaveTriangle, 441, 1, 99, 31456},
    {"tri441_100", kWaveTriangle, 441, 1, 100, 32767},
    {"tri1000_0", kWaveTriangle, 1000, 1, 0, 32767},
    {"tri1000_1", kWaveTriangle, 1000, 1, 1, 29794},
    {"tri1000_11", kWaveTriangle, 1000, 1, 11, 74},
    {"tri1000_22", kWaveTriangle, 1000, 1, 22, -32618},
    {"tri1000_23", kWaveTriangle, 1000, 1, 23, -29943},
    {"tri1000_44", kWaveTriangle, 1000, 1, 44, 32469},
    {"tri1000_45", kWaveTriangle, 1000, 1, 45, 29794},
    {"tri441_quarter_scale", kWaveTriangle, 441, 4, 0, 8191},
    {"square_half_scale_low", kWaveSquare, 1000, 2, 0, -16383},
    {"square_half_scale_high", kWaveSquare, 1000, 2, 23, 16383},
};

INSTANTIATE_TEST_SUITE_P(Generator, GeneratorSamples, ::testing::ValuesIn(kSampleCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Generator, SquareStartsLowAndAlternatesPeriodLengths) {
    const auto s = Channel({kWaveSquare, 1000, 1}, 0, 46);
    for (int i = 0; i <= 22; ++i) {
        EXPECT_EQ(s[size_t(i)], -32767) << i;
    }
    for (int i = 23; i <= 44; ++i) {
        EXPECT_EQ(s[size_t(i)], 32767) << i;
    }
    EXPECT_EQ(s[45], -32767);
}

TEST(Generator, ConsecutiveBuffersContinueOneWaveform) {
    for (int32_t waveform : {kWaveSine, kWaveTriangle, kWaveSquare}) {
        const GeneratorChannel channel{waveform, 997, 2};
        const auto whole = Channel(channel, 12345, 3 * kFramesPerBuffer);
        for (int b = 0; b < 3; ++b) {
            const auto part = Channel(channel, 12345 + int64_t(b) * kFramesPerBuffer,
                                      kFramesPerBuffer);
            for (int i = 0; i < kFramesPerBuffer; ++i) {
                ASSERT_EQ(part[size_t(i)], whole[size_t(b * kFramesPerBuffer + i)])
                    << "waveform " << waveform << " buffer " << b << " frame " << i;
            }
        }
    }
}

TEST(Generator, ChannelsInterleaveLeftFirstAndFollowTheirOwnSettings) {
    static int16_t block[kFramesPerBuffer * kChannels];
    const GeneratorChannel same{kWaveTriangle, 1000, 1};
    SynthesizeBuffer(same, same, 0, block);
    for (int i = 0; i < kFramesPerBuffer; ++i) {
        ASSERT_EQ(block[2 * i], block[2 * i + 1]) << i;
    }
    const GeneratorChannel left{kWaveSine, 1000, 1};
    const GeneratorChannel right{kWaveSquare, 441, 4};
    SynthesizeBuffer(left, right, 0, block);
    const auto l = Channel(left, 0, kFramesPerBuffer);
    const auto r = Channel(right, 0, kFramesPerBuffer);
    for (int i = 0; i < kFramesPerBuffer; ++i) {
        ASSERT_EQ(block[2 * i], l[size_t(i)]) << i;
        ASSERT_EQ(block[2 * i + 1], r[size_t(i)]) << i;
    }
    EXPECT_EQ(block[3], -8191);
}

TEST(Generator, SilenceWhereNoWaveformIsDefined) {
    const GeneratorChannel silent[] = {
        {kWaveSine, 0, 1},     {kWaveTriangle, 0, 1}, {kWaveSquare, 0, 1},
        {kWaveTriangle, -5, 1}, {3, 1000, 1},         {-1, 1000, 1},
        {kWaveSine, 1000, 0},  {kWaveSquare, 1000, 0},
    };
    for (const auto& c : silent) {
        const auto s = Channel(c, 777, 500);
        for (size_t i = 0; i < s.size(); ++i) {
            ASSERT_EQ(s[i], 0) << "waveform " << c.waveform << " f " << c.frequency << " d "
                               << c.divisor;
        }
    }
}

// A clean sinusoid obeys s[n+1] + s[n-1] = 2 cos(w) s[n]; truncation to integers leaves a few
// LSB of slack. A jump in phase breaks the relation by thousands.
void ExpectCleanSine(const std::vector<int16_t>& s, int32_t frequency) {
    const double c = std::cos(frequency * kSinePhaseStep);
    for (size_t i = 1; i + 1 < s.size(); ++i) {
        const double residual = s[i + 1] + s[i - 1] - 2.0 * c * s[i];
        ASSERT_LT(std::abs(residual), 6.0) << "at sample " << i;
    }
}

// The sample as a 32-bit phase index gives it, valid while frequency x n has not wrapped.
int16_t ThirtyTwoBitSine(int32_t frequency, int32_t n) {
    const int32_t t = int32_t(uint32_t(frequency) * uint32_t(n));
    return int16_t(double(kGeneratorPeak) * std::sin(t * kSinePhaseStep));
}

TEST(Generator, SineStaysCleanWhereA32BitPhaseIndexWouldWrap) {
    for (int32_t frequency : {20000, 1000}) {
        const int64_t wrap = (int64_t(1) << 31) / frequency;  // first n with F x n > 2^31 - 1
        const int64_t first = wrap - 2000;
        const auto s = Channel({kWaveSine, frequency, 1}, first, 4000);
        ExpectCleanSine(s, frequency);
        for (int64_t n = first; n <= wrap; ++n) {
            ASSERT_EQ(s[size_t(n - first)], ThirtyTwoBitSine(frequency, int32_t(n))) << n;
        }
        // The window really straddles the wrap: the 32-bit index jumps there.
        std::vector<int16_t> old(s.size());
        for (size_t i = 0; i < old.size(); ++i) {
            old[i] = ThirtyTwoBitSine(frequency, int32_t(first + int64_t(i)));
        }
        EXPECT_NE(old, s);
    }
}

TEST(Generator, WaveformsStayWithinPeaksPastTwoToTheThirtyOneFrames) {
    const int64_t first = (int64_t(1) << 31) - 2048;
    for (int32_t waveform : {kWaveTriangle, kWaveSquare}) {
        const auto s = Channel({waveform, 441, 1}, first, kFramesPerBuffer);
        // The period is exactly 100 frames, so each sample repeats the one at the same place
        // in the very first period.
        for (size_t i = 0; i < s.size(); ++i) {
            const int64_t m = (first + int64_t(i)) % 100;
            const auto reference = Channel({waveform, 441, 1}, m, 1)[0];
            ASSERT_EQ(s[i], reference) << "frame " << first + int64_t(i);
        }
    }
    ExpectCleanSine(Channel({kWaveSine, 441, 1}, first, kFramesPerBuffer), 441);
}

} // namespace
