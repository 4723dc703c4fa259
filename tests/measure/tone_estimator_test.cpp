#include "measure/tone_estimator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <memory>
#include <random>
#include <tuple>
#include <vector>

namespace {

constexpr double kPi = 3.141592653589793;

// Sample value (before rounding) at a frame index counted from the start of the capture.
using Signal = std::function<double(long frame)>;

Signal Silence() {
    return [](long) { return 0.0; };
}

// A sine at `dbfs` on the AES17 scale: 0 dBFS is the largest sine the samples hold.
Signal Sine(double hertz, double dbfs) {
    const double amplitude = 32767 * std::pow(10, dbfs / 20);
    return [=](long frame) { return amplitude * std::sin(2 * kPi * hertz * frame / kSampleRate); };
}

Signal Square(double hertz) {
    const Signal sine = Sine(hertz, 0);
    return [=](long frame) { return sine(frame) >= 0 ? 32767.0 : -32767.0; };
}

// Gaussian noise at `dbfs` on the same scale (RMS 3.01 dB below that of a sine of equal dBFS's
// peak), from a fixed seed so every run sees the same samples.
Signal WithNoise(Signal signal, double dbfs, unsigned seed) {
    auto rng = std::make_shared<std::mt19937>(seed);
    const double sigma = 32768 * std::pow(10, (dbfs - 3.0103) / 20);
    return [=](long frame) {
        std::normal_distribution<double> noise(0.0, sigma);
        return signal(frame) + noise(*rng);
    };
}

// One capture buffer starting at `firstFrame`.
std::vector<int16_t> Buffer(const Signal& x1, const Signal& x2, long firstFrame = 0) {
    std::vector<int16_t> buffer(kChannels * kFramesPerBuffer);
    for (int k = 0; k < kFramesPerBuffer; ++k) {
        const Signal* channels[] = {&x1, &x2};
        for (int c = 0; c < kChannels; ++c) {
            const double v = std::lround((*channels[c])(firstFrame + k));
            buffer[kChannels * k + c] = int16_t(std::clamp(v, -32768.0, 32767.0));
        }
    }
    return buffer;
}

// The estimator holds its scratch, so it lives on the heap, as it would in a worker object.
std::unique_ptr<CToneEstimator> MakeEstimator() {
    return std::make_unique<CToneEstimator>();
}

constexpr double kMinusInfinity = -std::numeric_limits<double>::infinity();

} // namespace

// Hertz, dBFS, with noise at -60 dBFS.
class ToneEstimatorAccuracyTest
    : public ::testing::TestWithParam<std::tuple<double, double, bool>> {};

TEST_P(ToneEstimatorAccuracyTest, OneBufferReadsTheToneWithin50MilliHertz) {
    const auto [hertz, dbfs, noisy] = GetParam();
    const Signal tone = Sine(hertz, dbfs);
    const auto readings =
        MakeEstimator()->Measure(Buffer(noisy ? WithNoise(tone, -60, 7) : tone, Silence()).data());
    ASSERT_TRUE(readings[0].hertz.has_value());
    EXPECT_NEAR(*readings[0].hertz, hertz, 0.05);
    EXPECT_EQ(readings[0].averageHertz, readings[0].hertz);
    EXPECT_FALSE(readings[1].hertz.has_value());
}

// 11025 Hz besides: a sine starting at phase 0 has every other sample zero, and every other
// sample is what the coarse search looks at.
INSTANTIATE_TEST_SUITE_P(
    TonesLevelsNoise, ToneEstimatorAccuracyTest,
    ::testing::Combine(::testing::Values(20.0, 440.0, 1000.37, 11025.0, 12345.6, 19999.0),
                       ::testing::Values(0.0, -20.0, -40.0), ::testing::Bool()));

TEST(ToneEstimatorTest, NoClearToneGivesNone) {
    struct Case {
        const char* name;
        Signal signal;
    };
    const Case cases[] = {
        {"silence", Silence()},
        {"DC", [](long) { return 8192.0; }},
        {"noise", WithNoise(Silence(), -20, 11)},
        {"tone at -80 dBFS", Sine(1000, -80)},
    };
    for (const Case& c : cases) {
        const auto readings = MakeEstimator()->Measure(Buffer(c.signal, c.signal).data());
        for (const ChannelReading& r : readings) {
            EXPECT_FALSE(r.hertz.has_value()) << c.name << " read " << *r.hertz;
            EXPECT_FALSE(r.averageHertz.has_value()) << c.name;
        }
    }
}

// Just above the level where readings stop, a clean tone still reads on its own buffer.
TEST(ToneEstimatorTest, QuietestToneIsRead) {
    const auto readings = MakeEstimator()->Measure(Buffer(Sine(1000.37, -69), Silence()).data());
    ASSERT_TRUE(readings[0].hertz.has_value());
    EXPECT_NEAR(*readings[0].hertz, 1000.37, 0.05);
}

// 93 whole periods per buffer, so the buffer's RMS is exactly that of the waveform.
TEST(ToneEstimatorTest, LevelsFollowAes17) {
    const double hertz = 93.0 * kSampleRate / kFramesPerBuffer;
    const auto readings = MakeEstimator()->Measure(Buffer(Sine(hertz, 0), Square(hertz)).data());
    EXPECT_NEAR(readings[0].rmsDbfs, 0.00, 0.01);
    EXPECT_NEAR(readings[1].rmsDbfs, 3.01, 0.01);
    EXPECT_NEAR(readings[0].peakDbfs, 0.00, 0.01);
    EXPECT_NEAR(readings[1].peakDbfs, 0.00, 0.01);

    const auto dc =
        MakeEstimator()->Measure(Buffer([](long) { return -8192.0; }, Silence()).data());
    EXPECT_DOUBLE_EQ(dc[0].dcOffset, -0.25);
    EXPECT_NEAR(dc[0].rmsDbfs, -9.0309, 1e-4);
    EXPECT_NEAR(dc[0].peakDbfs, -12.0412, 1e-4);
    EXPECT_EQ(dc[1].rmsDbfs, kMinusInfinity);
    EXPECT_EQ(dc[1].peakDbfs, kMinusInfinity);
    EXPECT_EQ(dc[1].dcOffset, 0.0);
}

// With the DC offset a sound card's input often has, and 10 dB more noise than the single-buffer
// table: a plain mean of eleven single-buffer readings would be off by about 0.01 Hz here.
TEST(ToneEstimatorTest, LastSecondAveragesWithin5MilliHertz) {
    for (const double hertz : {20.0, 1000.37, 12345.6, 19999.0}) {
        auto estimator = MakeEstimator();
        const Signal sine = Sine(hertz, -40);
        const Signal tone = WithNoise([&sine](long frame) { return sine(frame) + 1000; }, -50, 5);
        std::optional<double> average;
        for (int b = 0; b < kToneAverageBuffers; ++b) {
            average = estimator->Measure(Buffer(tone, tone, long(b) * kFramesPerBuffer).data())[0]
                          .averageHertz;
        }
        ASSERT_TRUE(average.has_value()) << hertz;
        EXPECT_NEAR(*average, hertz, 0.005) << hertz;
    }
}

// A generator retuned at `atFrame` without a break in its phase: from there on a sine of
// `hertz`, at the level of Sine(..., dbfs).
Signal RetunedSine(double fromHertz, double hertz, long atFrame, double dbfs) {
    const double amplitude = 32767 * std::pow(10, dbfs / 20);
    const double phaseAt = 2 * kPi * fromHertz * atFrame / kSampleRate;
    return [=](long frame) {
        return amplitude * std::sin(phaseAt + 2 * kPi * hertz * (frame - atFrame) / kSampleRate);
    };
}

// The average belongs to one unbroken tone: a new tone, a buffer without one, or frames lost
// between buffers start it afresh. A tone retuned at a buffer's edge with its phase kept
// advances from one buffer's middle to the next by exactly what the mean of the two frequencies
// predicts, so only the change of frequency tells it apart from one tone.
TEST(ToneEstimatorTest, AverageRestartsWhenTheToneBreaks) {
    struct Case {
        const char* name;
        Signal third;
        Signal fourth;
        long fourthFrame;
    };
    const Signal tone = Sine(1000, -20);
    const long fourth = 3 * kFramesPerBuffer;
    const Case cases[] = {
        {"new tone", tone, Sine(2000, -20), 3 * kFramesPerBuffer},
        {"retuned, phase kept", tone, RetunedSine(1000, 1178.73, fourth, -20), fourth},
        {"retuned a little, phase kept", tone, RetunedSine(1000, 1001, fourth, -20), fourth},
        {"no tone", Silence(), tone, 3 * kFramesPerBuffer},
        {"lost buffer", tone, tone, 4 * kFramesPerBuffer},
    };
    for (const Case& c : cases) {
        auto estimator = MakeEstimator();
        for (int b = 0; b < 2; ++b) {
            estimator->Measure(Buffer(tone, Silence(), b * kFramesPerBuffer).data());
        }
        estimator->Measure(Buffer(c.third, Silence(), 2 * kFramesPerBuffer).data());
        const ChannelReading r =
            estimator->Measure(Buffer(c.fourth, Silence(), c.fourthFrame).data())[0];
        ASSERT_TRUE(r.hertz.has_value()) << c.name;
        EXPECT_EQ(r.averageHertz, r.hertz) << c.name;
    }
}

// After a steady tone, the next buffer's reading is whatever that buffer's strongest tone is, at
// once: the old tone having moved, or still there beside a stronger one.
TEST(ToneEstimatorTest, ToneThatChangesIsReadInItsFirstBuffer) {
    struct Case {
        const char* name;
        Signal fourth;
        double hertz;
    };
    // Beside a new tone 0.2 dB stronger, the old one still reads as a clear tone of its own. At
    // 280 bins of the coarse search the new tone loses nothing to the search's window.
    const Signal steady = Sine(1000, -6.2);
    const Signal stronger = Sine(280 * 22050.0 / 2048, -6);
    const Case cases[] = {
        {"moved within the fit's reach", Sine(1003.3, -6), 1003.3},
        {"moved far", Sine(7777.7, -6), 7777.7},
        {"a stronger tone beside it", [&](long frame) { return steady(frame) + stronger(frame); },
         280 * 22050.0 / 2048},
    };
    for (const Case& c : cases) {
        auto estimator = MakeEstimator();
        for (int b = 0; b < 3; ++b) {
            estimator->Measure(Buffer(steady, Silence(), b * kFramesPerBuffer).data());
        }
        const ChannelReading r =
            estimator->Measure(Buffer(c.fourth, Silence(), 3 * kFramesPerBuffer).data())[0];
        ASSERT_TRUE(r.hertz.has_value()) << c.name;
        EXPECT_NEAR(*r.hertz, c.hertz, 0.05) << c.name;
    }
}
