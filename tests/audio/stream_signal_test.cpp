// The test signal at a measurement stream's rate and format, against a long-double sine worked
// out from its definition and the rounding a converter of that depth makes.
#include "audio/stream_signal.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <numbers>
#include <ostream>
#include <string>
#include <vector>

namespace {

// sin(2 pi f n / rate) at the level's peak, 10^(dB/20) of full scale; the cycles reduced in
// long double so that a late frame is as exact as an early one.
long double OracleValue(long double freq_hz, double level_dbfs, int rate_hz, int64_t frame) {
    const long double cycles = std::fmod(freq_hz * frame, (long double)rate_hz) / rate_hz;
    return std::pow(10.0L, level_dbfs / 20.0L) *
           std::sin(2.0L * std::numbers::pi_v<long double> * cycles);
}

// The step of a converter of `bits`: full scale 1.0 over 2^(bits-1) codes.
double Step(int bits) {
    return std::ldexp(1.0, 1 - bits);
}

struct FormatCase {
    const char* name;
    StreamFormat format;
    double freq_hz;
    double level_dbfs;
};

void PrintTo(const FormatCase& c, std::ostream* os) {
    *os << c.name;
}

class StreamSignalFormats : public testing::TestWithParam<FormatCase> {};

// Ten seconds on, every sample on both channels is the exact sine rounded to the nearest step
// of the format (float: the exact sine to float's precision); no sample lies off the grid.
TEST_P(StreamSignalFormats, NearestStepOfTheExactSineTenSecondsOn) {
    const FormatCase& c = GetParam();
    CStreamSignalSource source(c.format);
    TestSignal signal;
    signal.freq_hz = c.freq_hz;
    signal.level_dbfs = c.level_dbfs;
    source.Set(signal);
    const int block = 4800;
    std::vector<float> out(size_t(block) * 2);
    const int64_t blocks = int64_t(c.format.rate_hz) * 10 / block;
    for (int64_t b = 0; b < blocks; ++b) {
        source.Fill(out.data(), block);
    }
    const bool isFloat = c.format.format == SampleFormat::Float;
    const double step = isFloat ? 0 : Step(SampleBits(c.format.format));
    const int64_t first = (blocks - 1) * block;
    for (int f = 0; f < block; ++f) {
        const long double exact = OracleValue(c.freq_hz, c.level_dbfs, c.format.rate_hz, first + f);
        const double got = out[2 * size_t(f)];
        ASSERT_EQ(got, out[2 * size_t(f) + 1]) << "frame " << first + f;
        if (isFloat) {
            ASSERT_NEAR(got, double(exact), 1e-7) << "frame " << first + f;
        } else {
            ASSERT_EQ(got / step, std::round(got / step)) << "off the grid at " << first + f;
            // A float holds 24 bits of the value: s32's finer steps are rounded once more.
            const double held = std::fabs(double(exact)) * 0x1.0p-24;
            ASSERT_LE(std::fabs(got - double(exact)), step / 2 + held) << "frame " << first + f;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Formats, StreamSignalFormats,
    testing::Values(
        FormatCase{"s16_at_44100", {44100, SampleFormat::S16}, 997.0, -1.0},
        FormatCase{"s24_at_96000", {96000, SampleFormat::S24}, 997.0, -1.0},
        FormatCase{"s32_at_48000", {48000, SampleFormat::S32}, 1234.56, -20.0},
        // Above the panel's Nyquist: the rate's own sets the limit.
        FormatCase{"float_at_96000_above_22050", {96000, SampleFormat::Float}, 30000.01, -6.0},
        FormatCase{"s16_at_192000", {192000, SampleFormat::S16}, 997.0, -1.0},
        FormatCase{"s24_near_nyquist_at_88200", {88200, SampleFormat::S24}, 44099.99, -0.5}),
    [](const auto& info) { return std::string(info.param.name); });

// Dither is TPDF of +-1 step before the rounding: the error stays inside 1.5 steps, averages
// nothing, and its power is a rounding's step^2/12 plus the dither's step^2/6.
TEST(StreamSignalSource, DitherIsTriangularPlusMinusOneStepAtTheFormatsDepth) {
    const StreamFormat format{96000, SampleFormat::S16};
    CStreamSignalSource source(format);
    TestSignal signal;
    signal.freq_hz = 997.0;
    signal.level_dbfs = -1.0;
    signal.dither = true;
    source.Set(signal);
    const int frames = 1 << 17;
    std::vector<float> out(size_t(frames) * 2);
    source.Fill(out.data(), frames);
    const double step = Step(16);
    double sum = 0, squares = 0;
    for (int f = 0; f < frames; ++f) {
        const double error =
            (out[2 * size_t(f)] - double(OracleValue(997.0, -1.0, format.rate_hz, f))) / step;
        ASSERT_LT(std::fabs(error), 1.5) << "frame " << f;
        sum += error;
        squares += error * error;
    }
    EXPECT_NEAR(sum / frames, 0.0, 0.01);
    EXPECT_NEAR(squares / frames, 1.0 / 4.0, 0.01);
}

class StreamSignalOneChannel : public testing::TestWithParam<TestSignalChannels> {};

// A tone asked of one output sounds there, at the format's depth, and the other output is
// digital silence: what a crosstalk measurement drives.
TEST_P(StreamSignalOneChannel, PlaysTheToneOnOneOutputAndSilenceOnTheOther) {
    const int playing = GetParam() == TestSignalChannels::Left ? 0 : 1;
    const StreamFormat format{96000, SampleFormat::S24};
    CStreamSignalSource source(format);
    TestSignal signal;
    signal.freq_hz = 1234.56;
    signal.level_dbfs = -3.0;
    signal.channels = GetParam();
    source.Set(signal);
    const int frames = 4800;
    std::vector<float> out(size_t(frames) * 2);
    source.Fill(out.data(), frames);
    const double step = Step(24);
    for (int f = 0; f < frames; ++f) {
        const double exact = double(OracleValue(1234.56L, -3.0, format.rate_hz, f));
        ASSERT_LE(std::fabs(out[2 * size_t(f) + size_t(playing)] - exact), step / 2) << f;
        ASSERT_EQ(out[2 * size_t(f) + size_t(1 - playing)], 0.0f) << f;
    }
}

INSTANTIATE_TEST_SUITE_P(Channels, StreamSignalOneChannel,
                         testing::Values(TestSignalChannels::Left, TestSignalChannels::Right),
                         [](const auto& info) {
                             return info.param == TestSignalChannels::Left ? "left" : "right";
                         });

// Given samples play once from their first frame, held at the format's depth, then silence.
TEST(StreamSignalSource, SamplesPlayOnceAtTheFormatsDepthThenSilence) {
    CStreamSignalSource source({48000, SampleFormat::S16});
    TestSignal signal;
    signal.kind = TestSignalKind::Samples;
    signal.float_samples =
        std::make_shared<const std::vector<float>>(std::vector<float>{0.1f, -0.25f, 0.5f, -1.0f});
    source.Set(signal);
    std::vector<float> out(6, 7.0f);
    source.Fill(out.data(), 3);
    const double step = Step(16);
    const std::vector<float> expected = {
        float(std::round(0.1f / step) * step), -0.25f, 0.5f, -1.0f, 0.0f, 0.0f};
    EXPECT_EQ(out, expected);
    source.Fill(out.data(), 3);
    EXPECT_EQ(out, std::vector<float>(6, 0.0f));
}

} // namespace
