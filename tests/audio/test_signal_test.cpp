// The analysers' test-signal source against an independent long-double computation of each
// sample, least-squares fits of its tones, and the statistics TPDF dither must have.
#include "audio/test_signal.h"
#include "tests/support/tone_fit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <numbers>
#include <vector>

namespace {

struct OracleTone {
    long double freq_hz;
    long double amplitude; // codes
};

// The tones a signal is made of, from its definition: a level's peak is 32768 x 10^(dB/20),
// shared 4:1 by SMPTE's tones and 1:1 by CCIF's.
std::vector<OracleTone> OracleTones(TestSignalKind kind, long double freq_hz, long double level) {
    const long double peak = 32768.0L * std::pow(10.0L, level / 20.0L);
    switch (kind) {
    case TestSignalKind::ImdSmpte:
        return {{60.0L, peak * 4 / 5}, {7000.0L, peak / 5}};
    case TestSignalKind::ImdCcif:
        return {{19000.0L, peak / 2}, {20000.0L, peak / 2}};
    default:
        return {{freq_hz, peak}};
    }
}

long double OracleValue(const std::vector<OracleTone>& tones, int64_t frame) {
    long double value = 0;
    for (const OracleTone& tone : tones) {
        const long double cycles = std::fmod(tone.freq_hz * frame, 44100.0L) / 44100.0L;
        value += tone.amplitude * std::sin(2.0L * std::numbers::pi_v<long double> * cycles);
    }
    return value;
}

int16_t OracleSample(const std::vector<OracleTone>& tones, int64_t frame) {
    const long double v = std::clamp(OracleValue(tones, frame), -32768.0L, 32767.0L);
    return int16_t(std::llround(v));
}

std::vector<int16_t> FillFrames(CTestSignalSource& source, int frames) {
    std::vector<int16_t> out(size_t(frames) * 2);
    source.Fill(out.data(), frames);
    return out;
}

struct SignalCase {
    const char* name;
    TestSignalKind kind;
    long double centihertz; // the tone's frequency in hundredths of a hertz
    double level_dbfs;
};

class TestSignalSamples : public ::testing::TestWithParam<SignalCase> {};

// Pieces of awkward sizes join without a seam, and every sample, on both channels, is the
// nearest code to the exact value.
TEST_P(TestSignalSamples, PiecesOfOddSizesEqualTheExactSignal) {
    const SignalCase& c = GetParam();
    CTestSignalSource source;
    source.Set({c.kind, double(c.centihertz / 100.0L), c.level_dbfs, false});
    const int total = 65536;
    std::vector<int16_t> out(size_t(total) * 2, 0x5555);
    const int sizes[] = {1, 3, 5, 7, 11, 13, 4093, 2047, 999};
    for (int at = 0, i = 0; at < total; ++i) {
        const int n = std::min(sizes[i % std::size(sizes)], total - at);
        source.Fill(out.data() + 2 * at, n);
        at += n;
    }
    const auto tones = OracleTones(c.kind, c.centihertz / 100.0L, c.level_dbfs);
    int wrong = 0;
    for (int f = 0; f < total; ++f) {
        const int16_t expected = OracleSample(tones, f);
        if (out[2 * size_t(f)] != expected || out[2 * size_t(f) + 1] != expected) {
            if (++wrong <= 5) {
                ADD_FAILURE() << "frame " << f << ": " << out[2 * size_t(f)] << "/"
                              << out[2 * size_t(f) + 1] << ", exact value "
                              << double(OracleValue(tones, f));
            }
        }
    }
    EXPECT_EQ(wrong, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Signals, TestSignalSamples,
    ::testing::Values(SignalCase{"Tone997", TestSignalKind::Tone, 99700, -1.0},
                      SignalCase{"Tone1234_56", TestSignalKind::Tone, 123456, -20.0},
                      SignalCase{"HundredthOfAHertz", TestSignalKind::Tone, 1, 0.0},
                      SignalCase{"Tone20000", TestSignalKind::Tone, 2000000, -3.0},
                      SignalCase{"JustBelowNyquistClipped", TestSignalKind::Tone, 2204999, 0.0},
                      SignalCase{"Smpte", TestSignalKind::ImdSmpte, 0, -1.0},
                      SignalCase{"Ccif", TestSignalKind::ImdCcif, 0, -6.0}),
    [](const auto& info) { return std::string(info.param.name); });

// Six minutes on, a tone whose period is no whole number of frames is still exact: the phase
// does not wander with the frame count.
TEST(TestSignalSource, StaysExactAfterSixMinutes) {
    CTestSignalSource source;
    source.Set({TestSignalKind::Tone, 997.01, -1.0, false});
    const int block = 4096;
    std::vector<int16_t> out(size_t(block) * 2);
    const int64_t blocks = (int64_t(1) << 24) / block;
    for (int64_t b = 0; b < blocks; ++b) {
        source.Fill(out.data(), block);
    }
    const auto tones = OracleTones(TestSignalKind::Tone, 99701.0L / 100.0L, -1.0);
    const int64_t first = (blocks - 1) * block;
    for (int f = 0; f < block; ++f) {
        ASSERT_EQ(out[2 * size_t(f)], OracleSample(tones, first + f)) << "frame " << first + f;
    }
}

struct LevelCase {
    double level_dbfs;
    int16_t peak;   // highest code
    int16_t trough; // lowest code
};

class TestSignalLevels : public ::testing::TestWithParam<LevelCase> {};

// 997 Hz reaches every phase that is a whole number of 1/44100 cycle, so its crests are hit
// exactly; one second of it holds whole cycles, so its RMS is exact.
TEST_P(TestSignalLevels, PeakCodeAndAes17Rms) {
    const LevelCase& c = GetParam();
    CTestSignalSource source;
    source.Set({TestSignalKind::Tone, 997.0, c.level_dbfs, false});
    const auto out = FillFrames(source, 44100);
    int16_t hi = std::numeric_limits<int16_t>::min();
    int16_t lo = std::numeric_limits<int16_t>::max();
    double squares = 0;
    for (size_t i = 0; i < out.size(); i += 2) {
        hi = std::max(hi, out[i]);
        lo = std::min(lo, out[i]);
        squares += double(out[i]) * out[i];
    }
    EXPECT_EQ(hi, c.peak);
    EXPECT_EQ(lo, c.trough);
    if (c.level_dbfs >= -20.0) {
        // AES17: a sine of amplitude 32768 is 0 dBFS, so RMS x sqrt(2) / 32768.
        const double rmsDbfs = 20.0 * std::log10(std::sqrt(squares / 44100.0 * 2.0) / 32768.0);
        EXPECT_NEAR(rmsDbfs, c.level_dbfs, 0.005);
    }
}

INSTANTIATE_TEST_SUITE_P(Levels, TestSignalLevels,
                         ::testing::Values(LevelCase{0.0, 32767, -32768},
                                           LevelCase{-1.0, 29205, -29205},
                                           LevelCase{-6.0, 16423, -16423},
                                           LevelCase{-20.0, 3277, -3277}, LevelCase{-90.0, 1, -1},
                                           LevelCase{-120.0, 0, 0}));

struct NormaliseCase {
    double freq_hz, level_dbfs;
    double expected_hz, expected_dbfs;
};

class TestSignalNormalised : public ::testing::TestWithParam<NormaliseCase> {};

TEST_P(TestSignalNormalised, RoundsToACentihertzAndKeepsTheRanges) {
    const NormaliseCase& c = GetParam();
    CTestSignalSource source;
    source.Set({TestSignalKind::Tone, c.freq_hz, c.level_dbfs, true});
    const TestSignal now = source.Current();
    EXPECT_DOUBLE_EQ(now.freq_hz, c.expected_hz);
    EXPECT_DOUBLE_EQ(now.level_dbfs, c.expected_dbfs);
    EXPECT_TRUE(now.dither);
}

INSTANTIATE_TEST_SUITE_P(
    Settings, TestSignalNormalised,
    ::testing::Values(NormaliseCase{997.004, -1, 997.0, -1}, NormaliseCase{997.006, -1, 997.01, -1},
                      NormaliseCase{0.0, -1, 0.01, -1}, NormaliseCase{-5.0, -1, 0.01, -1},
                      NormaliseCase{30000.0, -1, 22049.99, -1}, NormaliseCase{1000, 3.0, 1000, 0},
                      NormaliseCase{1000, -150, 1000, -120},
                      NormaliseCase{std::nan(""), std::nan(""), 997.0, -1.0}));

TEST(TestSignalSource, DefaultIs997HzAtMinusOneDbfsWithoutDither) {
    const TestSignal current = CTestSignalSource().Current();
    EXPECT_EQ(current.kind, TestSignalKind::Tone);
    EXPECT_EQ(current.freq_hz, 997.0);
    EXPECT_EQ(current.level_dbfs, -1.0);
    EXPECT_FALSE(current.dither);
}

// TPDF of +-1 LSB: the output stays within one code of the undithered one, the total error
// (dither plus rounding) has mean 0 and power 1/6 + 1/12 = 1/4 LSB^2 wherever the exact value
// falls between two codes (rounding without dither: 1/12 on average, 0 to 1/4 by position;
// rectangular dither: 1/6 + 1/12 on average, but not independent of the position).
TEST(TestSignalSource, DitherIsTriangularPlusMinusOneLsb) {
    const TestSignal plain{TestSignalKind::Tone, 997.0, -40.0, false};
    TestSignal dithered = plain;
    dithered.dither = true;
    CTestSignalSource a, b;
    a.Set(plain);
    b.Set(dithered);
    const int frames = 262144;
    const auto undithered = FillFrames(a, frames);
    const auto out = FillFrames(b, frames);
    const auto tones = OracleTones(TestSignalKind::Tone, 997.0L, -40.0);

    double sum = 0;
    double byPosition[4] = {}; // error power, by the exact value's distance to the codes
    int inPosition[4] = {};
    int maxStep = 0;
    for (int f = 0; f < frames; ++f) {
        const int16_t s = out[2 * size_t(f)];
        ASSERT_EQ(s, out[2 * size_t(f) + 1]) << "frame " << f;
        maxStep = std::max(maxStep, std::abs(s - undithered[2 * size_t(f)]));
        const double exact = double(OracleValue(tones, f));
        const double error = s - exact;
        sum += error;
        const double frac = exact - std::floor(exact);
        const int bin = std::min(3, int(frac * 4));
        byPosition[bin] += error * error;
        ++inPosition[bin];
    }
    EXPECT_EQ(maxStep, 1);
    EXPECT_NEAR(sum / frames, 0.0, 0.01);
    for (int bin = 0; bin < 4; ++bin) {
        ASSERT_GT(inPosition[bin], frames / 8);
        EXPECT_NEAR(byPosition[bin] / inPosition[bin], 0.25, 0.25 * 0.04) << "quarter " << bin;
    }
}

// A new setting starts its signal afresh, dither included: the same settings always give the
// same samples.
TEST(TestSignalSource, SetStartsAtPhaseZeroAndTheSameDither) {
    const TestSignal signal{TestSignalKind::Tone, 440.0, -3.0, true};
    CTestSignalSource fresh;
    fresh.Set(signal);
    const auto expected = FillFrames(fresh, 5000);

    CTestSignalSource reused;
    reused.Set({TestSignalKind::ImdCcif, 1000.0, -10.0, true});
    FillFrames(reused, 777);
    reused.Set(signal);
    EXPECT_EQ(FillFrames(reused, 5000), expected);
    reused.Set(signal);
    EXPECT_EQ(FillFrames(reused, 5000), expected);
}

struct ImdCase {
    const char* name;
    TestSignalKind kind;
    double lo_hz, hi_hz;
    double lo_share, hi_share; // of the level's peak
};

class TestSignalImd : public ::testing::TestWithParam<ImdCase> {};

// Measured by a least-squares fit at the two frequencies: the amplitudes stand in the ratio the
// standard asks, and their sum is the level's sine peak, which the samples never exceed.
TEST_P(TestSignalImd, TonesInRatioSummingToTheLevelsPeak) {
    const ImdCase& c = GetParam();
    const double level = -3.0;
    const double peak = 32768.0 * std::pow(10.0, level / 20.0);
    CTestSignalSource source;
    TestSignal signal{c.kind, 1234.0, level, false};
    if (c.kind == TestSignalKind::ImdPair) {
        signal.freq_hz = c.lo_hz;
        signal.freq2_hz = c.hi_hz;
        signal.ratio = c.lo_share / c.hi_share;
    }
    source.Set(signal);
    const auto out = FillFrames(source, 65536);
    const ToneFit fit = FitTones(out.data(), 2, 65536, {c.lo_hz, c.hi_hz});
    EXPECT_NEAR(fit.amplitudes[0] / fit.amplitudes[1], c.lo_share / c.hi_share, 1e-4);
    EXPECT_NEAR(fit.amplitudes[0], c.lo_share * peak, 0.02);
    EXPECT_NEAR(fit.amplitudes[1], c.hi_share * peak, 0.02);
    EXPECT_NEAR(fit.offset, 0.0, 0.02);
    int highest = 0;
    for (int16_t s : out) {
        highest = std::max(highest, std::abs(int(s)));
    }
    EXPECT_LE(highest, std::lround(peak));
    EXPECT_GT(highest, 0.99 * peak);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, TestSignalImd,
    ::testing::Values(ImdCase{"Smpte", TestSignalKind::ImdSmpte, 60.0, 7000.0, 0.8, 0.2},
                      ImdCase{"Ccif", TestSignalKind::ImdCcif, 19000.0, 20000.0, 0.5, 0.5},
                      ImdCase{"DinPair", TestSignalKind::ImdPair, 250.0, 8000.0, 0.8, 0.2},
                      ImdCase{"CustomPair", TestSignalKind::ImdPair, 997.0, 11025.5, 0.9, 0.1}),
    [](const auto& info) { return std::string(info.param.name); });

// Given samples go out once, frame for frame across buffers of odd sizes, then silence; setting
// them again starts over from their first frame.
TEST(TestSignalSource, SamplesPlayOnceThenSilence) {
    auto frames = std::make_shared<std::vector<int16_t>>();
    for (int i = 0; i < 2 * 1000; ++i) {
        frames->push_back(int16_t(i % 2 == 0 ? i + 1 : -i));
    }
    TestSignal signal;
    signal.kind = TestSignalKind::Samples;
    signal.samples = frames;
    signal.dither = true; // ignored: the samples are played as they are
    CTestSignalSource source;
    source.Set(signal);
    std::vector<int16_t> out;
    for (int piece : {1, 333, 600, 77, 500}) {
        const auto part = FillFrames(source, piece);
        out.insert(out.end(), part.begin(), part.end());
    }
    ASSERT_EQ(out.size(), size_t(2 * 1511));
    EXPECT_TRUE(std::equal(frames->begin(), frames->end(), out.begin()));
    EXPECT_TRUE(std::all_of(out.begin() + 2000, out.end(), [](int16_t s) { return s == 0; }));
    source.Set(signal);
    const auto again = FillFrames(source, 3);
    EXPECT_TRUE(std::equal(again.begin(), again.end(), frames->begin()));
}

// A tone on one output leaves the other silent and plays, on its own, the very samples the
// oracle gives (the signal of both channels, untouched); dither too stays on the one channel.
class TestSignalOneChannel : public ::testing::TestWithParam<TestSignalChannels> {};

TEST_P(TestSignalOneChannel, PlaysTheToneOnOneOutputAndSilenceOnTheOther) {
    const int playing = GetParam() == TestSignalChannels::Left ? 0 : 1;
    TestSignal signal;
    signal.freq_hz = 1234.56;
    signal.level_dbfs = -3.0;
    signal.dither = true;
    signal.channels = GetParam();
    CTestSignalSource source;
    source.Set(signal);
    const auto out = FillFrames(source, 5000);
    signal.dither = false;
    source.Set(signal);
    const auto clean = FillFrames(source, 5000);
    const auto tones = OracleTones(TestSignalKind::Tone, 1234.56L, -3.0L);
    int dithered = 0;
    for (int f = 0; f < 5000; ++f) {
        ASSERT_EQ(out[size_t(2 * f + 1 - playing)], 0) << f;
        ASSERT_EQ(clean[size_t(2 * f + 1 - playing)], 0) << f;
        ASSERT_EQ(clean[size_t(2 * f + playing)], OracleSample(tones, f)) << f;
        dithered += out[size_t(2 * f + playing)] != clean[size_t(2 * f + playing)] ? 1 : 0;
    }
    EXPECT_GT(dithered, 1000);
}

INSTANTIATE_TEST_SUITE_P(Channels, TestSignalOneChannel,
                         ::testing::Values(TestSignalChannels::Left, TestSignalChannels::Right));

} // namespace
