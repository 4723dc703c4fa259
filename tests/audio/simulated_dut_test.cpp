// The simulated card's device under test on its own: harmonics against the analytic response
// of its polynomial, its noise against its stated level, its clipping and its seed.
#include "audio/sim/simulated_dut.h"
#include "tests/support/tone_fit.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>
#include <vector>

namespace {

constexpr int kFrames = 65536;
constexpr double kToneHz = 997.0;

// A stereo block of one tone, amplitudes[c] (fraction of full scale) on channel c; with TPDF
// dither, so that a harmonic of a code or less is not lost in the rounding's own pattern.
std::vector<int16_t> ToneBlock(const double (&amplitudes)[2], bool dither) {
    std::mt19937 rng(1234);
    std::uniform_real_distribution<double> uniform(0.0, 1.0);
    std::vector<int16_t> block(size_t(kFrames) * 2);
    for (int n = 0; n < kFrames; ++n) {
        const double s =
            std::sin(2.0 * std::numbers::pi * std::fmod(kToneHz * n, 44100.0) / 44100.0);
        for (int c = 0; c < 2; ++c) {
            const double d = dither ? uniform(rng) - uniform(rng) : 0.0;
            block[2 * size_t(n) + size_t(c)] =
                int16_t(std::lround(32768.0 * amplitudes[c] * s + d));
        }
    }
    return block;
}

double Db(double ratio) {
    return 20.0 * std::log10(ratio);
}

struct DutCase {
    const char* name;
    SimulatedDut model;
    double amplitudes[2]; // input tone per channel, fraction of full scale
    bool dither;
    double tolerance_db;
};

class SimulatedDutHarmonics : public ::testing::TestWithParam<DutCase> {};

// y = g x + a2 x^2 + a3 x^3 on x = A sin: fundamental g A + 3 a3 A^3 / 4, H2 a2 A^2 / 2,
// H3 a3 A^3 / 4, DC a2 A^2 / 2; each channel on its own.
TEST_P(SimulatedDutHarmonics, MatchTheAnalyticResponse) {
    const DutCase& c = GetParam();
    auto block = ToneBlock(c.amplitudes, c.dither);
    CSimulatedDut dut(c.model);
    dut.Process(block.data(), kFrames);
    for (int channel = 0; channel < 2; ++channel) {
        const double a = c.amplitudes[channel];
        const SimulatedDut& m = c.model;
        const double fundamental = m.gain * a + 0.75 * m.a3 * a * a * a;
        const ToneFit fit =
            FitTones(block.data() + channel, 2, kFrames, {kToneHz, 2 * kToneHz, 3 * kToneHz});
        EXPECT_NEAR(Db(fit.amplitudes[0] / 32768.0), Db(fundamental), 0.001) << channel;
        if (m.a2 != 0) {
            EXPECT_NEAR(Db(fit.amplitudes[1] / fit.amplitudes[0]),
                        Db(m.a2 * a * a / 2 / fundamental), c.tolerance_db)
                << channel;
            EXPECT_NEAR(fit.offset / 32768.0, m.a2 * a * a / 2, 0.05 / 32768.0) << channel;
        } else {
            EXPECT_LT(fit.amplitudes[1], 0.02) << channel;
        }
        if (m.a3 != 0) {
            EXPECT_NEAR(Db(fit.amplitudes[2] / fit.amplitudes[0]),
                        Db(std::abs(m.a3) * a * a * a / 4 / fundamental), c.tolerance_db)
                << channel;
        } else {
            EXPECT_LT(fit.amplitudes[2], 0.02) << channel;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Models, SimulatedDutHarmonics,
    ::testing::Values(DutCase{"SquareOnly", {1.0, 0.05, 0.0, -200}, {0.5, 0.25}, false, 0.01},
                      DutCase{"CubeOnly", {1.0, 0.0, 0.08, -200}, {0.7, 0.35}, false, 0.01},
                      DutCase{"HalfGainBoth", {0.5, 0.02, -0.03, -200}, {0.9, 0.45}, false, 0.01},
                      DutCase{
                          "BuiltInAtMinusOneDbfs", kSimDutModel, {0.891251, 0.891251}, true, 0.1}),
    [](const auto& info) { return std::string(info.param.name); });

// What the header promises for a -1 dBFS tone.
TEST(SimulatedDut, BuiltInModelGivesItsStatedDistortion) {
    const double a = std::pow(10.0, -1.0 / 20.0);
    const SimulatedDut& m = kSimDutModel;
    const double fundamental = m.gain * a + 0.75 * m.a3 * a * a * a;
    EXPECT_NEAR(Db(m.a2 * a * a / 2 / fundamental), -80.17, 0.01);
    EXPECT_NEAR(Db(std::abs(m.a3) * a * a * a / 4 / fundamental), -89.96, 0.01);
    EXPECT_EQ(m.noise_dbfs, -110.0);
}

struct NoiseCase {
    double noise_dbfs;
    double rms_codes; // 32768 x 10^(dB/20) / sqrt(2)
};

class SimulatedDutNoise : public ::testing::TestWithParam<NoiseCase> {};

TEST_P(SimulatedDutNoise, SilenceComesOutAtTheStatedLevel) {
    const NoiseCase& c = GetParam();
    std::vector<int16_t> block(size_t(kFrames) * 2, 0);
    CSimulatedDut dut({1.0, 0.0, 0.0, c.noise_dbfs});
    dut.Process(block.data(), kFrames);
    double sum = 0, squares = 0, product = 0;
    for (size_t i = 0; i < block.size(); i += 2) {
        sum += block[i];
        squares += double(block[i]) * block[i];
        product += double(block[i]) * block[i + 1];
    }
    const double n = kFrames;
    // Rounding to codes adds 1/12 LSB^2 of its own.
    const double expected = std::sqrt(c.rms_codes * c.rms_codes + 1.0 / 12);
    EXPECT_NEAR(std::sqrt(squares / n), expected, expected * 0.02);
    EXPECT_NEAR(sum / n, 0.0, 4 * expected / std::sqrt(n));
    // Each channel has noise of its own.
    EXPECT_LT(std::abs(product / squares), 0.03);
}

INSTANTIATE_TEST_SUITE_P(Levels, SimulatedDutNoise,
                         ::testing::Values(NoiseCase{-60.0, 23.170}, NoiseCase{-40.0, 231.70}));

TEST(SimulatedDut, NoNoiseAtMinus200AndTheSameNoiseFromTheSameSeed) {
    std::vector<int16_t> silent(2048, 0);
    CSimulatedDut quiet({1.0, 0.0, 0.0, -200});
    quiet.Process(silent.data(), 1024);
    EXPECT_EQ(silent, std::vector<int16_t>(2048, 0));

    std::vector<int16_t> first(2048, 0), second(2048, 0), other(2048, 0);
    const SimulatedDut noisy{1.0, 0.0, 0.0, -60.0};
    CSimulatedDut(noisy).Process(first.data(), 1024);
    CSimulatedDut(noisy).Process(second.data(), 1024);
    CSimulatedDut(noisy, kSimDutNoiseSeed + 1).Process(other.data(), 1024);
    EXPECT_EQ(first, second);
    EXPECT_NE(first, other);
}

// The default model is a plain cable; its converter's dither is TPDF noise of 1/6 LSB^2, and
// with the rounding 1/4 LSB^2 whatever the signal.
TEST(SimulatedDut, DefaultIsACableAndTheConverterDitherIsOneQuarterLsbSquared) {
    std::vector<int16_t> ramp;
    for (int v = -32768; v <= 32767; v += 7) {
        ramp.push_back(int16_t(v));
    }
    if (ramp.size() % 2 != 0) {
        ramp.push_back(0);
    }
    auto through = ramp;
    CSimulatedDut(SimulatedDut{}).Process(through.data(), int(through.size() / 2));
    EXPECT_EQ(through, ramp);

    // Exact values a third of a code above whole codes.
    std::vector<int16_t> block(size_t(kFrames) * 2, 0);
    SimulatedDut dithered;
    dithered.converter_dither = true;
    dithered.gain = 1.0 + 1.0 / 3 / 1000; // code 1000 becomes 1000.333...
    for (auto& s : block) {
        s = 1000;
    }
    CSimulatedDut(dithered).Process(block.data(), kFrames);
    double sum = 0, squares = 0;
    for (int16_t s : block) {
        ASSERT_GE(s, 999);
        ASSERT_LE(s, 1001);
        const double error = s - (1000.0 + 1.0 / 3);
        sum += error;
        squares += error * error;
    }
    const double n = double(block.size());
    EXPECT_NEAR(sum / n, 0.0, 0.01);
    EXPECT_NEAR(squares / n, 0.25, 0.25 * 0.03);
}

// A converter clips; a sample must never wrap round to the other end.
TEST(SimulatedDut, OutputClipsAtFullScale) {
    std::vector<int16_t> block = {32767, -32768, 20000, -20000, 100, -100};
    CSimulatedDut({2.0, 0.0, 0.0, -200}).Process(block.data(), 3);
    EXPECT_EQ(block, (std::vector<int16_t>{32767, -32768, 32767, -32768, 200, -200}));
}

} // namespace
