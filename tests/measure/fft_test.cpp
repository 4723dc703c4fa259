#include "measure/fft.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <random>
#include <vector>

namespace {

constexpr double kPi = 3.141592653589793;

std::vector<float> Tone(int n, double amplitude, double hertz, double offset = 0.0) {
    std::vector<float> x(n);
    for (int t = 0; t < n; ++t) {
        x[t] = float(offset + amplitude * std::sin(2 * kPi * hertz * t / 44100.0));
    }
    return x;
}

std::vector<ComplexF> Packed(const std::vector<float>& x) {
    std::vector<ComplexF> z(x.size() / 2 + 1);
    for (size_t j = 0; j < x.size() / 2; ++j) {
        z[j] = {x[2 * j], x[2 * j + 1]};
    }
    return z;
}

// Reference: the plain O(n^2) sum in double, angles reduced exactly before the sine.
std::vector<std::complex<double>> Dft(const std::vector<std::complex<double>>& x, int sign) {
    const size_t n = x.size();
    std::vector<std::complex<double>> out(n);
    for (size_t k = 0; k < n; ++k) {
        std::complex<double> sum = 0;
        for (size_t t = 0; t < n; ++t) {
            const double angle = sign * 2 * kPi * double((k * t) % n) / double(n);
            sum += x[t] * std::polar(1.0, angle);
        }
        out[k] = sum;
    }
    return out;
}

double Rms(const std::vector<std::complex<double>>& x) {
    double sum = 0;
    for (const auto& v : x) {
        sum += std::norm(v);
    }
    return std::sqrt(sum / double(x.size()));
}

// A float FFT's error per bin grows with the input's energy and, slowly, with the number of
// stages; 4 float epsilons per stage on top of the energy of the whole block
// (rms x sqrt(n), the size of a typical bin) is a loose but meaningful bound.
double Tolerance(double rms, size_t n) {
    const double eps = 1.1920929e-07;
    return 4 * eps * std::log2(double(n)) * rms * std::sqrt(double(n));
}

} // namespace

TEST(FftRealTest, ImpulseGivesOneInEveryBin) {
    std::vector<ComplexF> z = Packed({1, 0, 0, 0, 0, 0, 0, 0});
    CFftCalc().RealFft(z.data(), 8);
    for (int k = 0; k <= 4; ++k) {
        EXPECT_NEAR(z[k].re, 1.0f, 1e-6) << "bin " << k;
        EXPECT_NEAR(z[k].im, 0.0f, 1e-6) << "bin " << k;
    }
}

class FftConstantTest : public ::testing::TestWithParam<std::tuple<int, float>> {};

TEST_P(FftConstantTest, AllEnergyInBinZeroNyquistIncluded) {
    const auto [n, c] = GetParam();
    std::vector<ComplexF> z = Packed(std::vector<float>(n, c));
    CFftCalc().RealFft(z.data(), n);
    EXPECT_EQ(z[0].re, float(n) * c);
    EXPECT_EQ(z[0].im, 0.0f);
    for (int k = 1; k <= n / 2; ++k) {
        ASSERT_EQ(z[k].re, 0.0f) << "bin " << k;
        ASSERT_EQ(z[k].im, 0.0f) << "bin " << k;
    }
}

INSTANTIATE_TEST_SUITE_P(SizesAndLevels, FftConstantTest,
                         ::testing::Combine(::testing::Values(8, 1024, 2048),
                                            ::testing::Values(1.0f, -3.5f, 32767.0f)));

TEST(FftRealTest, MatchesDoubleDftOnRandomBlocks) {
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> sample(-32768, 32767);
    for (int n : {2048, 1024, 64}) {
        for (int trial = 0; trial < 3; ++trial) {
            std::vector<float> x(n);
            std::vector<std::complex<double>> ref(n);
            for (int t = 0; t < n; ++t) {
                x[t] = float(sample(rng));
                ref[t] = x[t];
            }
            std::vector<ComplexF> z = Packed(x);
            CFftCalc().RealFft(z.data(), n);
            const auto expected = Dft(ref, -1);
            const double tol = Tolerance(Rms(ref), n);
            for (int k = 0; k <= n / 2; ++k) {
                ASSERT_NEAR(z[k].re, expected[k].real(), tol) << "n " << n << " bin " << k;
                ASSERT_NEAR(z[k].im, expected[k].imag(), tol) << "n " << n << " bin " << k;
            }
        }
    }
}

TEST(FftComplexTest, MatchesDoubleDftForEverySizeAndSign) {
    std::mt19937 rng(11);
    std::uniform_real_distribution<float> value(-1000.0f, 1000.0f);
    for (int n = 1; n <= 1024; n *= 2) {
        for (int sign : {-1, 1}) {
            std::vector<ComplexF> z(n);
            std::vector<std::complex<double>> ref(n);
            for (int j = 0; j < n; ++j) {
                z[j] = {value(rng), value(rng)};
                ref[j] = {z[j].re, z[j].im};
            }
            CFftCalc().ComplexFft(z.data(), n, sign);
            const auto expected = Dft(ref, sign);
            const double tol = Tolerance(Rms(ref), n);
            for (int k = 0; k < n; ++k) {
                ASSERT_NEAR(z[k].re, expected[k].real(), tol) << "n " << n << " sign " << sign;
                ASSERT_NEAR(z[k].im, expected[k].imag(), tol) << "n " << n << " sign " << sign;
            }
        }
    }
}

// The forward transform takes its twiddles from a table computed once; the inverse direction
// evaluates each one afresh. Sine is odd and every operation mirrors under conjugation, so the
// two agree bit for bit only if the table holds exactly the values the transform would compute.
TEST(FftComplexTest, TabledForwardTransformMirrorsTheComputedInverseBitForBit) {
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> dist(-30000.0f, 30000.0f);
    CFftCalc fft;
    for (int n = 2; n <= 1024; n *= 2) {
        std::vector<ComplexF> forward(static_cast<size_t>(n)), mirrored(static_cast<size_t>(n));
        for (int i = 0; i < n; ++i) {
            forward[size_t(i)] = {dist(rng), dist(rng)};
            mirrored[size_t(i)] = {forward[size_t(i)].re, -forward[size_t(i)].im};
        }
        fft.ComplexFft(forward.data(), n, -1);
        fft.ComplexFft(mirrored.data(), n, +1);
        for (int i = 0; i < n; ++i) {
            ASSERT_EQ(forward[size_t(i)].re, mirrored[size_t(i)].re) << "n " << n << " bin " << i;
            ASSERT_EQ(forward[size_t(i)].im, -mirrored[size_t(i)].im) << "n " << n << " bin " << i;
        }
    }
}

TEST(FftHelpersTest, ConjAndCExpWorkInPlace) {
    ComplexF v{2.0f, -3.0f};
    CFftCalc::Conj(v, v);
    EXPECT_EQ(v.re, 2.0f);
    EXPECT_EQ(v.im, 3.0f);

    ComplexF w{1.0f, float(kPi / 3)};
    CFftCalc::CExp(w, w);
    EXPECT_NEAR(w.re, std::exp(1.0) * 0.5, 1e-6);
    EXPECT_NEAR(w.im, std::exp(1.0) * std::sqrt(3.0) / 2, 1e-6);
}

TEST(FftPeakBinTest, SilenceIsBinZero) {
    EXPECT_EQ(CFftCalc().PeakBin(std::vector<float>(2048, 0.0f).data()), 0);
}

TEST(FftPeakBinTest, ToneLandsOnNearestBin) {
    // 1000 Hz is 46.44 bins: bin 46 is the nearer and so the stronger.
    EXPECT_EQ(CFftCalc().PeakBin(Tone(2048, 1000, 1000).data()), 46);
    EXPECT_EQ(CFftCalc().PeakBin(Tone(2048, 1000, 21.533203125 * 300).data()), 300);
}

TEST(FftPeakBinTest, StrongOffsetWinsAsBinZero) {
    EXPECT_EQ(CFftCalc().PeakBin(Tone(2048, 100, 1000, 5000).data()), 0);
    // The same tone without the offset is found, so the offset is what decided.
    EXPECT_EQ(CFftCalc().PeakBin(Tone(2048, 100, 1000).data()), 46);
}

// An impulse of height a on a constant -a/(2N) transforms without any rounding: every bin but
// the first is exactly a, the first exactly a/2. That gives exact ties and an exact floor test.
class FftPeakTieTest : public ::testing::TestWithParam<std::pair<float, int>> {};

TEST_P(FftPeakTieTest, LowerIndexWinsAndFloorIsStrict) {
    const auto [height, expected] = GetParam();
    std::vector<float> x(2048, -height / 4096.0f);
    x[0] += height;
    EXPECT_EQ(CFftCalc().PeakBin(x.data()), expected);
}

INSTANTIATE_TEST_SUITE_P(Heights, FftPeakTieTest,
                         ::testing::Values(std::pair{10.0f, 0}, // 10.0 does not beat the floor
                                           std::pair{10.5f, 1}, // ties 1..1023: the lowest
                                           std::pair{1000.0f, 1}));

TEST(FftSpectrumTest, ConstantScalesToBinZeroOnly) {
    for (float c : {2.0f, -2.0f}) {
        std::vector<float> out(512, -1.0f);
        CFftCalc().SpectrumMagnitudes(std::vector<float>(1024, c).data(), out.data());
        EXPECT_FLOAT_EQ(out[0], 5.12f * std::fabs(c));
        for (int k = 1; k < 512; ++k) {
            ASSERT_EQ(out[k], 0.0f) << "bin " << k;
        }
    }
}
