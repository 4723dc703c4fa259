// The transform, the window and the closed-form windowed tone, each against a plain computation.
#include "analysis/common/spectral_window.h"
#include "analysis/common/tone_fit.h"
#include "fft/real_fft.h"

#include "tests/analysis/test_signals.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <random>

namespace {

TEST(RealFft, MatchesADirectDft) {
    constexpr int kN = 48;
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> uniform(-1, 1);
    CRealFft fft(kN);
    for (int k = 0; k < kN; ++k) {
        fft.Input()[k] = uniform(rng);
    }
    std::vector<double> kept(fft.Input(), fft.Input() + kN);
    fft.Execute();
    for (int bin = 0; bin <= kN / 2; ++bin) {
        std::complex<double> direct = 0;
        for (int k = 0; k < kN; ++k) {
            direct += kept[size_t(k)] * std::polar(1.0, -2 * kPi * bin * k / kN);
        }
        EXPECT_LT(std::abs(fft.Output()[bin] - direct), 1e-12) << "bin " << bin;
    }
    EXPECT_TRUE(std::equal(kept.begin(), kept.end(), fft.Input())) << "input kept";
}

TEST(BlackmanHarris7, SidelobesStayBelow180DbBeyondSevenBins) {
    // The window's transform sampled at 1/32 bin by zero-padding.
    constexpr int kN = 1024;
    constexpr int kPad = 32;
    const SpectralWindow window = MakeBlackmanHarris7(kN);
    CRealFft fft(kN * kPad);
    std::fill(fft.Input(), fft.Input() + kN * kPad, 0.0);
    std::copy(window.w.begin(), window.w.end(), fft.Input());
    fft.Execute();
    const double peak = std::abs(fft.Output()[0]);
    EXPECT_NEAR(peak, window.sum, 1e-9 * window.sum);
    double highest = 0;
    for (int i = kWindowMainLobeBins * kPad; i <= kN * kPad / 2; ++i) {
        highest = std::max(highest, std::abs(fft.Output()[i]));
    }
    EXPECT_LT(Db(highest / peak), -179.5);
}

struct WindowedToneCase {
    const char* name;
    double nu; // bins
    double a;
    double b;
};

class WindowedTone : public testing::TestWithParam<WindowedToneCase> {};

// Subtracting the closed form from the transform of the same windowed tone leaves nothing, in
// every bin: on a bin, between bins, near DC and Nyquist where the tone meets its mirror.
TEST_P(WindowedTone, ClosedFormMatchesTheTransform) {
    constexpr int kN = 2048;
    const WindowedToneCase& c = GetParam();
    const SpectralWindow window = MakeBlackmanHarris7(kN);
    CRealFft fft(kN);
    for (int k = 0; k < kN; ++k) {
        const double t = k - 0.5 * (kN - 1);
        const double w = 2 * kPi * c.nu / kN;
        fft.Input()[k] = window.w[size_t(k)] * (c.a * std::cos(w * t) + c.b * std::sin(w * t));
    }
    fft.Execute();
    SubtractWindowedTone(fft.Output(), kN, c.nu, c.a, c.b, 0, kN / 2);
    double worst = 0;
    for (int k = 0; k <= kN / 2; ++k) {
        worst = std::max(worst, std::abs(fft.Output()[k]));
    }
    const double peak = std::hypot(c.a, c.b) * window.sum / 2;
    EXPECT_LT(worst / peak, 1e-12);
}

INSTANTIATE_TEST_SUITE_P(Tones, WindowedTone,
                         testing::Values(WindowedToneCase{"OnBin", 100.0, 0.7, -0.2},
                                         WindowedToneCase{"BetweenBins", 100.37, 0.3, 0.5},
                                         WindowedToneCase{"HairOffBin", 251.0 + 1e-9, 1.0, 0.0},
                                         WindowedToneCase{"HalfBin", 77.5, 0.0, 1.0},
                                         WindowedToneCase{"NearDc", 2.3, 0.6, 0.6},
                                         WindowedToneCase{"Constant", 0.0, 0.8, 0.0},
                                         WindowedToneCase{"NearNyquist", 1024 - 3.4, 0.5, -0.4}),
                         [](const testing::TestParamInfo<WindowedToneCase>& info) {
                             return info.param.name;
                         });

// Tones closer than the block can separate cleanly by eye (1.5 bins, and a constant) still come
// apart exactly in the joint fit.
TEST(FitTonesAt, SeparatesTonesABinAndAHalfApart) {
    constexpr int kN = 8192;
    const double w[] = {2 * kPi * 300.25 / kN, 2 * kPi * 301.75 / kN, 2 * kPi * 903.1 / kN};
    const ToneAmplitude planted[] = {{0.5, -0.1}, {1e-3, 2e-3}, {0.0, -1e-5}};
    std::vector<double> x(kN, 0.25);
    for (int k = 0; k < kN; ++k) {
        const double t = k - 0.5 * (kN - 1);
        for (int i = 0; i < 3; ++i) {
            x[size_t(k)] += planted[i].a * std::cos(w[i] * t) + planted[i].b * std::sin(w[i] * t);
        }
    }
    ToneFit fit;
    ASSERT_TRUE(FitTonesAt(x.data(), kN, w, 3, 2, fit));
    EXPECT_NEAR(fit.constant, 0.25, 1e-12);
    for (int i = 0; i < 3; ++i) {
        EXPECT_NEAR(fit.tones[i].a, planted[i].a, 1e-11) << "tone " << i;
        EXPECT_NEAR(fit.tones[i].b, planted[i].b, 1e-11) << "tone " << i;
    }
    // At the true frequencies the residual is nil, so no step would move them.
    EXPECT_NEAR(fit.step[0] * kN / (2 * kPi), 0, 1e-12);
    EXPECT_NEAR(fit.step[1] * kN / (2 * kPi), 0, 1e-9);
}

// Fitted a little off each tone, the frequency steps point back to it.
TEST(FitTonesAt, StepsLeadBackToTheTones) {
    constexpr int kN = 8192;
    const double nu[] = {300.25, 340.6};
    std::vector<double> x(kN, 0.0);
    for (int k = 0; k < kN; ++k) {
        const double t = k - 0.5 * (kN - 1);
        x[size_t(k)] = 0.5 * std::cos(2 * kPi * nu[0] * t / kN + 0.3) +
                       0.2 * std::cos(2 * kPi * nu[1] * t / kN - 1.0);
    }
    double w[] = {2 * kPi * (nu[0] + 0.01) / kN, 2 * kPi * (nu[1] - 0.004) / kN};
    for (int pass = 0; pass < 4; ++pass) {
        ToneFit fit;
        ASSERT_TRUE(FitTonesAt(x.data(), kN, w, 2, 2, fit));
        w[0] += fit.step[0];
        w[1] += fit.step[1];
    }
    EXPECT_NEAR(w[0] * kN / (2 * kPi), nu[0], 1e-10);
    EXPECT_NEAR(w[1] * kN / (2 * kPi), nu[1], 1e-10);
}

} // namespace
