// The sweep analyser against responses whose answer is known without it: a delay, an RBJ biquad's
// analytic response, an FFT phase shift, a polynomial's harmonics, an echo's averaged ripple.
#include "analysis/sweep/sweep_analyser.h"

#include "fft/real_fft.h"
#include "tests/analysis/memoryless_stage.h"
#include "tests/analysis/test_signals.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <complex>
#include <memory>
#include <random>

namespace {

using Complex = std::complex<double>;

struct Biquad {
    double b0, b1, b2, a1, a2; // normalised by a0

    // RBJ audio-EQ cookbook lowpass.
    static Biquad Lowpass(double hz, double q) {
        const double w0 = 2 * kPi * hz / kRate;
        const double alpha = std::sin(w0) / (2 * q);
        const double a0 = 1 + alpha;
        const double c = std::cos(w0);
        return {(1 - c) / 2 / a0, (1 - c) / a0, (1 - c) / 2 / a0, -2 * c / a0, (1 - alpha) / a0};
    }
    std::vector<double> Apply(const std::vector<double>& x) const {
        std::vector<double> y(x.size());
        double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
        for (size_t n = 0; n < x.size(); ++n) {
            y[n] = b0 * x[n] + b1 * x1 + b2 * x2 - a1 * y1 - a2 * y2;
            x2 = x1;
            x1 = x[n];
            y2 = y1;
            y1 = y[n];
        }
        return y;
    }
    Complex At(double hz) const {
        const Complex z1 = std::polar(1.0, -2 * kPi * hz / kRate);
        return (b0 + b1 * z1 + b2 * z1 * z1) / (1.0 + a1 * z1 + a2 * z1 * z1);
    }
};

std::vector<double> Delayed(const std::vector<double>& x, int frames, double gain = 1.0) {
    std::vector<double> y(x.size(), 0.0);
    for (size_t n = size_t(frames); n < x.size(); ++n) {
        y[n] = gain * x[n - size_t(frames)];
    }
    return y;
}

// A delay of any fraction by turning each bin's phase; the sweep ends in silence, so the circular
// shift is the linear one.
std::vector<double> PhaseShifted(const std::vector<double>& x, double frames) {
    const int n = int(x.size());
    CRealFft forward(n);
    CInverseRealFft inverse(n);
    std::copy(x.begin(), x.end(), forward.Input());
    forward.Execute();
    for (int k = 0; k <= n / 2; ++k) {
        Complex turn = std::polar(1.0, -2 * kPi * k * frames / n);
        if (2 * k == n) {
            turn = turn.real(); // Nyquist's bin is real: its half-sample shift has no sign
        }
        inverse.Input()[k] = forward.Output()[k] * turn;
    }
    inverse.Execute();
    std::vector<double> y(x.size());
    for (int i = 0; i < n; ++i) {
        y[size_t(i)] = inverse.Output()[i] / n;
    }
    return y;
}

class SweepAnalyserTest : public testing::Test {
protected:
    static void SetUpTestSuite() { s_analyser = std::make_unique<CSweepAnalyser>(SweepSettings{}); }
    static void TearDownTestSuite() { s_analyser.reset(); }
    static const std::vector<double>& Sweep() { return s_analyser->Sweep(); }
    static const SweepResult& Analyse(const std::vector<double>& y,
                                      const SweepAnalysisSettings& settings = {},
                                      const std::vector<double>* reference = nullptr) {
        const SweepResult& r =
            s_analyser->Analyse(y.data(), 1, reference ? reference->data() : nullptr, settings);
        EXPECT_EQ(r.refusal, SweepRefusal::None);
        return r;
    }
    static inline std::unique_ptr<CSweepAnalyser> s_analyser;
};

TEST_F(SweepAnalyserTest, LoopBackIsFlatWithItsLatencyExact) {
    const SweepResult& r = Analyse(Delayed(Sweep(), 123));
    EXPECT_NEAR(r.latency_samples, 123, 1e-4);
    EXPECT_NEAR(r.latency_ms, 123 / kRate * 1e3, 1e-6);
    ASSERT_EQ(r.freq_hz.size(), 479u); // 20 Hz..20 kHz at 48 a octave
    EXPECT_DOUBLE_EQ(r.freq_hz.front(), 20.0);
    double worstDb = 0, worstDeg = 0, worstMs = 0;
    for (size_t i = 0; i < r.freq_hz.size(); ++i) {
        worstDb = std::max(worstDb, std::fabs(r.mag_db[i]));
        worstDeg = std::max(worstDeg, std::fabs(r.phase_deg[i]));
        worstMs = std::max(worstMs, std::fabs(r.group_delay_ms[i]));
    }
    RecordProperty("worst_db", std::to_string(worstDb));
    RecordProperty("worst_deg", std::to_string(worstDeg));
    EXPECT_LT(worstDb, 0.01);
    EXPECT_LT(worstDeg, 0.1);
    EXPECT_LT(worstMs, 0.01);
}

struct SweepCase {
    double f1_hz, f2_hz;
    int frames;
    double level_dbfs, lo_hz, hi_hz;
    double thd_floor_db = -80; // what a linear loop-back may read as harmonics
};

class SweepLoopBack : public testing::TestWithParam<SweepCase> {};

// Short and long sweeps, narrow and wide bands, loud and quiet: a loop-back at 0.7 is flat at
// -3.1 dB, its latency exact, and its harmonics read near nothing. A 1.5 s sweep from 10 Hz
// plays a single cycle at f1 L = 1: its harmonic windows, 35 ms apart, keep the linear response's
// low-frequency tail out only to -75 dB at 20 Hz.
TEST_P(SweepLoopBack, FlatWhateverTheSweep) {
    const SweepCase c = GetParam();
    SweepSettings sweep;
    sweep.f1_hz = c.f1_hz;
    sweep.f2_hz = c.f2_hz;
    sweep.frames = c.frames;
    sweep.level_dbfs = c.level_dbfs;
    CSweepAnalyser analyser(sweep);
    SweepAnalysisSettings settings;
    settings.lo_hz = c.lo_hz;
    settings.hi_hz = c.hi_hz;
    const std::vector<double> y = Delayed(analyser.Sweep(), 77, 0.7);
    const SweepResult& r = analyser.Analyse(y.data(), 1, nullptr, settings);
    ASSERT_EQ(r.refusal, SweepRefusal::None);
    EXPECT_NEAR(r.latency_samples, 77, 1e-4);
    ASSERT_FALSE(r.freq_hz.empty());
    for (size_t i = 0; i < r.freq_hz.size(); ++i) {
        EXPECT_NEAR(r.mag_db[i], Db(0.7), 0.01) << r.freq_hz[i] << " Hz";
        EXPECT_NEAR(r.phase_deg[i], 0, 0.1) << r.freq_hz[i] << " Hz";
        if (!std::isnan(r.thd_db[i])) {
            EXPECT_LT(r.thd_db[i], c.thd_floor_db) << r.freq_hz[i] << " Hz";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Sweeps, SweepLoopBack,
                         testing::Values(SweepCase{20, 20000, 1 << 16, -12, 40, 18000},
                                         SweepCase{10, 22050, 1 << 16, -60, 20, 20000, -70},
                                         SweepCase{100, 1000, 1 << 17, -30, 150, 900},
                                         SweepCase{1000, 1500, 1 << 16, -12, 1100, 1400},
                                         SweepCase{5, 8000, 1 << 19, -6, 10, 7000},
                                         SweepCase{1, 22050, 1 << 20, -1, 20, 20000}));

// Against the filter's own transfer function, less the pure delay that fits the phase best.
TEST_F(SweepAnalyserTest, BiquadLowpassMatchesItsAnalyticResponse) {
    const Biquad lowpass = Biquad::Lowpass(1000, 0.707);
    const SweepResult& r = Analyse(Delayed(lowpass.Apply(Sweep()), 40));
    std::vector<double> f, gap, groupDelayGap;
    double analyticPhase = 0;
    for (size_t i = 0; i < r.freq_hz.size(); ++i) {
        const double hz = r.freq_hz[i];
        const Complex h = lowpass.At(hz);
        const double phase = std::arg(h) * 180 / kPi;
        analyticPhase = i == 0 ? phase : phase + 360 * std::round((analyticPhase - phase) / 360);
        if (hz > 15000) {
            continue;
        }
        EXPECT_NEAR(r.mag_db[i], Db(std::abs(h)), 0.05) << hz << " Hz";
        f.push_back(hz);
        gap.push_back(r.phase_deg[i] - analyticPhase);
        const double dHz = 1e-3 * hz;
        const double slope = std::arg(lowpass.At(hz + dHz) / lowpass.At(hz - dHz)) / (2 * dHz);
        groupDelayGap.push_back(r.group_delay_ms[i] + 1e3 * slope / (2 * kPi));
    }
    // Least-squares line gap = c + s f: s is the delay, c must be a whole turn.
    double sf = 0, sg = 0, sff = 0, sfg = 0;
    const double count = double(f.size());
    for (size_t i = 0; i < f.size(); ++i) {
        sf += f[i], sg += gap[i], sff += f[i] * f[i], sfg += f[i] * gap[i];
    }
    const double s = (count * sfg - sf * sg) / (count * sff - sf * sf);
    const double c = (sg - s * sf) / count;
    EXPECT_NEAR(c - 360 * std::round(c / 360), 0, 0.5);
    const double delayMs = -1e3 * s / 360;
    for (size_t i = 0; i < f.size(); ++i) {
        EXPECT_NEAR(gap[i], c + s * f[i], 0.5) << f[i] << " Hz";
        EXPECT_NEAR(groupDelayGap[i], delayMs, 0.005) << f[i] << " Hz";
    }
}

class SweepFractionalDelay : public SweepAnalyserTest,
                             public testing::WithParamInterface<double> {};

// A known network: a wire at 0.8 and an echo of it at 0.3, 150 frames later. The linear impulse
// response holds both taps at their gains, a straight wire counting 1, and little else.
TEST_F(SweepAnalyserTest, ImpulseHoldsAnEchosTapsAtTheirGains) {
    std::vector<double> y = Delayed(Sweep(), 60, 0.8);
    const std::vector<double> echo = Delayed(Sweep(), 210, 0.3);
    for (size_t n = 0; n < y.size(); ++n) {
        y[n] += echo[n];
    }
    const SweepResult& r = Analyse(y);
    ASSERT_EQ(r.refusal, SweepRefusal::None);
    ASSERT_GT(r.impulse.size(), size_t(r.impulse_peak + 150));
    EXPECT_NEAR(r.impulse[size_t(r.impulse_peak)], 0.8, 1e-4);
    // The deconvolution's fourth-order highpass at 7 Hz gives the first tap a slow negative
    // tail, 0.0017 under the echo 150 frames on.
    EXPECT_NEAR(r.impulse[size_t(r.impulse_peak + 150)], 0.3, 2.5e-3);
    double elsewhere = 0;
    for (size_t i = 0; i < r.impulse.size(); ++i) {
        if (int(i) != r.impulse_peak && int(i) != r.impulse_peak + 150) {
            elsewhere = std::max(elsewhere, double(std::fabs(r.impulse[i])));
        }
    }
    EXPECT_LT(elsewhere, 0.01);
}

TEST_P(SweepFractionalDelay, LatencyCarriesTheFraction) {
    const SweepResult& r = Analyse(PhaseShifted(Sweep(), 100 + GetParam()));
    EXPECT_NEAR(r.latency_samples, 100 + GetParam(), 0.05);
    // The fraction, taken out, leaves no phase behind.
    for (size_t i = 0; i < r.freq_hz.size(); ++i) {
        ASSERT_NEAR(r.phase_deg[i], 0, 0.5) << r.freq_hz[i] << " Hz";
    }
}

INSTANTIATE_TEST_SUITE_P(Fractions, SweepFractionalDelay, testing::Values(0.5, 0.25, 0.8));

// y = x + a2 x^2 + a3 x^3 on a sine of amplitude A: H2 = a2 A^2/2, H3 = a3 A^3/4, fundamental
// A + 3 a3 A^3/4.
TEST_F(SweepAnalyserTest, PolynomialHarmonicsMatchTheirTheory) {
    constexpr double a2 = 0.25, a3 = 0.125;
    const SweepResult& r = Analyse(PolynomialStage(Delayed(Sweep(), 10), a2, a3));
    const double amplitude = s_analyser->Shape().amplitude;
    const double fundamental = amplitude + 3 * a3 * std::pow(amplitude, 3) / 4;
    const double h2 = Db(a2 * amplitude * amplitude / 2 / fundamental);
    const double h3 = Db(a3 * std::pow(amplitude, 3) / 4 / fundamental);
    const double thd = 10 * std::log10(std::pow(10, h2 / 10) + std::pow(10, h3 / 10));
    int h2Points = 0, h3Points = 0;
    for (size_t i = 0; i < r.freq_hz.size(); ++i) {
        const double hz = r.freq_hz[i];
        EXPECT_NEAR(r.mag_db[i], Db(fundamental / amplitude), 0.01) << hz << " Hz";
        const double topHz = s_analyser->Shape().fade_out_hz;
        EXPECT_EQ(std::isnan(r.h2_db[i]), 2 * hz > topHz) << hz << " Hz";
        EXPECT_EQ(std::isnan(r.h3_db[i]), 3 * hz > topHz) << hz << " Hz";
        if (!std::isnan(r.h2_db[i])) {
            EXPECT_NEAR(r.h2_db[i], h2, 0.2) << hz << " Hz";
            ++h2Points;
        }
        if (!std::isnan(r.h3_db[i])) {
            EXPECT_NEAR(r.h3_db[i], h3, 0.2) << hz << " Hz";
            EXPECT_NEAR(r.thd_db[i], thd, 0.2) << hz << " Hz";
            ++h3Points;
        }
        if (!std::isnan(r.h5_db[i])) {
            EXPECT_LT(r.h4_db[i], h3 - 40) << hz << " Hz";
            EXPECT_LT(r.h5_db[i], h3 - 40) << hz << " Hz";
        }
    }
    EXPECT_GT(h2Points, 400);
    EXPECT_GT(h3Points, 350);
}

// Chebyshev's T_k(sin t) is +-sin or +-cos of k t alone, so y = x + sum c_k A T_k(x / A) on a sine
// of amplitude A adds harmonic k at c_k of the fundamental and nothing else: each of H2..H9 is
// planted at its own level, and THD over them and over H2..H5 follow from the c_k alone.
TEST_F(SweepAnalyserTest, ChebyshevHarmonicsReadAsPlantedUpToH9) {
    const double amplitude = s_analyser->Shape().amplitude;
    std::array<double, kSweepHighestHarmonic + 1> planted{};
    for (int k = 2; k <= kSweepHighestHarmonic; ++k) {
        planted[size_t(k)] = std::pow(10.0, -(36 + 3 * k) / 20.0); // H2 -42 dB .. H9 -63 dB
    }
    const auto curve = [&](double v) {
        const double u = v / amplitude;
        double before = 1, now = u, y = v;
        for (int k = 2; k <= kSweepHighestHarmonic; ++k) {
            const double next = 2 * u * now - before;
            before = now;
            now = next;
            y += planted[size_t(k)] * amplitude * now;
        }
        return y;
    };
    SweepAnalysisSettings settings;
    settings.points_per_octave = 12;
    const SweepResult& r = Analyse(MemorylessStage(Delayed(Sweep(), 10), curve), settings);
    double classic = 0, all = 0;
    for (int k = 2; k <= kSweepHighestHarmonic; ++k) {
        (k <= kSweepClassicHarmonic ? classic : all) += planted[size_t(k)] * planted[size_t(k)];
    }
    all += classic;
    int compared = 0;
    for (size_t i = 0; i < r.freq_hz.size(); ++i) {
        const double hz = r.freq_hz[i];
        // Where the highest harmonic still lies under the converter's top, every one is read.
        if (kSweepHighestHarmonic * hz > 20000) {
            continue;
        }
        for (int k = 2; k <= kSweepHighestHarmonic; ++k) {
            EXPECT_NEAR(HarmonicDb(r, k)[i], Db(planted[size_t(k)]), 0.2)
                << "H" << k << " at " << hz << " Hz";
        }
        EXPECT_NEAR(r.thd_db[i], 10 * std::log10(classic), 0.2) << hz << " Hz";
        EXPECT_NEAR(r.thd9_db[i], 10 * std::log10(all), 0.2) << hz << " Hz";
        ++compared;
    }
    EXPECT_GT(compared, 80);
}

// A loudspeaker in a room, reduced: the direct sound and a reflection at half its level 5 ms
// later, h = d(t) + 0.5 d(t - 5 ms). Whole, the response ripples between +3.5 and -6 dB every
// 200 Hz; gated from 1 ms before the peak to 4 ms after it, it is the direct sound's (flat)
// from 1 / 5 ms = 200 Hz up, and says so.
TEST_F(SweepAnalyserTest, GateLeavesTheReflectionOut) {
    constexpr int kReflectionFrames = 5 * int(kRate) / 1000; // 220
    std::vector<double> y = Delayed(Sweep(), 80);
    const std::vector<double> reflection = Delayed(Sweep(), 80 + kReflectionFrames, 0.5);
    for (size_t n = 0; n < y.size(); ++n) {
        y[n] += reflection[n];
    }
    const auto ripple = [](const SweepResult& r, double fromHz) {
        double lo = 1e9, hi = -1e9;
        for (size_t i = 0; i < r.freq_hz.size(); ++i) {
            if (r.freq_hz[i] >= fromHz) {
                lo = std::min(lo, r.mag_db[i]);
                hi = std::max(hi, r.mag_db[i]);
            }
        }
        return std::max(hi, -lo);
    };
    const double whole = ripple(Analyse(y), 200);
    EXPECT_GT(whole, 5.5);
    EXPECT_EQ(s_analyser->Analyse(y.data(), 1, nullptr, {}).gate_lowest_hz, 0.0);
    SweepAnalysisSettings gated;
    gated.gate_left_ms = 1;
    gated.gate_right_ms = 4;
    const SweepResult& r = Analyse(y, gated);
    EXPECT_NEAR(r.gate_lowest_hz, 200, 0.5);
    EXPECT_LT(ripple(r, r.gate_lowest_hz), 0.01) << "ungated " << whole << " dB";
    // The gate as drawn: 1 ms before the peak, 4 ms after, the reflection outside it.
    EXPECT_EQ(r.impulse_peak - r.gate_first, int(std::lround(kRate / 1000)));
    EXPECT_EQ(r.gate_last - r.impulse_peak, int(std::lround(4 * kRate / 1000)));
    EXPECT_GT(r.impulse_peak + kReflectionFrames, r.gate_last);

    // Over a reference that came 30 frames earlier on a straight path: the same flat response,
    // and the relative latency alone taken out of the phase.
    const std::vector<double> card = Delayed(Sweep(), 50);
    const SweepResult& over = Analyse(y, gated, &card);
    EXPECT_NEAR(over.latency_samples, 30, 1e-3);
    for (size_t i = 0; i < over.freq_hz.size(); ++i) {
        if (over.freq_hz[i] >= over.gate_lowest_hz) {
            ASSERT_NEAR(over.mag_db[i], 0, 0.01) << over.freq_hz[i] << " Hz";
            // A thousandth of a sample of latency turns 20 kHz by 0.16 degrees.
            ASSERT_NEAR(over.phase_deg[i], 0, 0.2) << over.freq_hz[i] << " Hz";
        }
    }
}

TEST_F(SweepAnalyserTest, NoiseAt90DbfsLeavesTheResponse) {
    std::mt19937 rng(5);
    std::normal_distribution<double> gauss(0.0, std::pow(10.0, -90.0 / 20) / std::sqrt(2.0));
    std::vector<double> y = Delayed(Sweep(), 50);
    for (double& v : y) {
        v += gauss(rng);
    }
    const SweepResult& r = Analyse(y);
    EXPECT_NEAR(r.latency_samples, 50, 0.01);
    for (size_t i = 0; i < r.freq_hz.size(); ++i) {
        EXPECT_NEAR(r.mag_db[i], 0, 0.05) << r.freq_hz[i] << " Hz";
        EXPECT_NEAR(r.phase_deg[i], 0, 0.5) << r.freq_hz[i] << " Hz";
    }
}

// The card's lowpass and latency on both channels; the device under test halves the level and
// adds three samples.
TEST_F(SweepAnalyserTest, ReferenceCancelsWhatBothChannelsShare) {
    const std::vector<double> card = Delayed(Biquad::Lowpass(5000, 0.9).Apply(Sweep()), 37);
    const std::vector<double> channel = Delayed(card, 3, 0.5);
    const SweepResult& r = Analyse(channel, {}, &card);
    EXPECT_NEAR(r.latency_samples, 3, 1e-3);
    for (size_t i = 0; i < r.freq_hz.size(); ++i) {
        EXPECT_NEAR(r.mag_db[i], Db(0.5), 0.01) << r.freq_hz[i] << " Hz";
        EXPECT_NEAR(r.phase_deg[i], 0, 0.1) << r.freq_hz[i] << " Hz";
    }
}

// An echo at half level D frames late: |H|^2 = 1.25 + cos(2 pi f D / rate). Averaged over a
// fraction of an octave from f_lo to f_hi that is 1.25 + (sin(w_hi D) - sin(w_lo D)) / (D (w_hi -
// w_lo)), w in radians a frame.
class SweepSmoothingWidth : public SweepAnalyserTest,
                            public testing::WithParamInterface<std::pair<SweepSmoothing, double>> {
};

TEST_P(SweepSmoothingWidth, AveragesAnEchoRippleAsItsIntegral) {
    constexpr int kEcho = 200;
    std::vector<double> y = Sweep();
    const std::vector<double> echo = Delayed(Sweep(), kEcho, 0.5);
    for (size_t n = 0; n < y.size(); ++n) {
        y[n] += echo[n];
    }
    SweepAnalysisSettings settings;
    settings.smoothing = GetParam().first;
    settings.lo_hz = 2000;
    settings.points_per_octave = 6;
    const SweepResult& r = Analyse(y, settings);
    ASSERT_FALSE(r.freq_hz.empty());
    const double half = std::exp2(GetParam().second / 2);
    for (size_t i = 0; i < r.freq_hz.size(); ++i) {
        const double wLo = 2 * kPi * r.freq_hz[i] / half / kRate;
        const double wHi = 2 * kPi * r.freq_hz[i] * half / kRate;
        const double power =
            1.25 + (std::sin(wHi * kEcho) - std::sin(wLo * kEcho)) / (kEcho * (wHi - wLo));
        EXPECT_NEAR(r.mag_db[i], 10 * std::log10(power), 0.05) << r.freq_hz[i] << " Hz";
    }
}

INSTANTIATE_TEST_SUITE_P(Widths, SweepSmoothingWidth,
                         testing::Values(std::pair{SweepSmoothing::Octave3, 1.0 / 3},
                                         std::pair{SweepSmoothing::Octave12, 1.0 / 12},
                                         std::pair{SweepSmoothing::Octave48, 1.0 / 48}));

struct RefusalCase {
    const char* name;
    std::vector<double> (*channel)(const std::vector<double>& sweep);
    std::vector<double> (*reference)(const std::vector<double>& sweep); // nullptr: none
    SweepRefusal refusal;
};

std::vector<double> Same(const std::vector<double>& sweep) {
    return Delayed(sweep, 5);
}
std::vector<double> Silence(const std::vector<double>& sweep) {
    return std::vector<double>(sweep.size(), 0.0);
}
std::vector<double> NoiseOnly(const std::vector<double>& sweep) {
    std::mt19937 rng(9);
    std::normal_distribution<double> gauss(0.0, 0.01);
    std::vector<double> y(sweep.size());
    for (double& v : y) {
        v = gauss(rng);
    }
    return y;
}
// Tones with a little noise and no sweep: mains hum with its third harmonic (which deconvolves
// into a sharp peak in the band just under it), 60 Hz hum, and a 1 kHz whistle.
std::vector<double> Tones(const std::vector<std::pair<double, double>>& tones) {
    std::mt19937 rng(11);
    std::normal_distribution<double> gauss(0.0, 1e-4);
    std::vector<double> y(size_t(SweepSettings{}.frames));
    for (size_t n = 0; n < y.size(); ++n) {
        const double t = double(n) / kRate;
        y[n] = gauss(rng);
        for (const auto& [hz, amplitude] : tones) {
            y[n] += amplitude * std::sin(2 * kPi * hz * t);
        }
    }
    return y;
}
std::vector<double> Hum50(const std::vector<double>&) {
    return Tones({{50, 0.1}, {150, 0.02}});
}
std::vector<double> Hum60(const std::vector<double>&) {
    return Tones({{60, 0.1}, {180, 0.02}});
}
std::vector<double> Whistle(const std::vector<double>&) {
    return Tones({{1000, 0.1}});
}
// Ten times too loud, held at full scale as a card's converter holds it.
std::vector<double> Clipped(const std::vector<double>& sweep) {
    std::vector<double> y = Quantise16(Delayed(sweep, 5, 10.0), false);
    return y;
}

class SweepRefuses : public SweepAnalyserTest, public testing::WithParamInterface<RefusalCase> {};

TEST_P(SweepRefuses, NamesWhy) {
    const RefusalCase& c = GetParam();
    const std::vector<double> channel = c.channel(Sweep());
    const std::vector<double> reference = c.reference ? c.reference(Sweep()) : channel;
    const SweepResult& r =
        s_analyser->Analyse(channel.data(), 1, c.reference ? reference.data() : nullptr, {});
    EXPECT_EQ(r.refusal, c.refusal);
    EXPECT_EQ(r.freq_hz.empty(), c.refusal != SweepRefusal::None);
}

INSTANTIATE_TEST_SUITE_P(
    Captures, SweepRefuses,
    testing::Values(RefusalCase{"measurable", Same, nullptr, SweepRefusal::None},
                    RefusalCase{"silence", Silence, nullptr, SweepRefusal::NoSignal},
                    RefusalCase{"noise_alone", NoiseOnly, nullptr, SweepRefusal::NoSignal},
                    RefusalCase{"hum_50_hz", Hum50, nullptr, SweepRefusal::NoSignal},
                    RefusalCase{"hum_60_hz", Hum60, nullptr, SweepRefusal::NoSignal},
                    RefusalCase{"whistle", Whistle, nullptr, SweepRefusal::NoSignal},
                    RefusalCase{"clipped", Clipped, nullptr, SweepRefusal::Clipped},
                    RefusalCase{"reference_silent", Same, Silence, SweepRefusal::NoSignal},
                    RefusalCase{"reference_clipped", Same, Clipped, SweepRefusal::Clipped}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SweepAnalyserTest, RefusesABandOutsideNyquist) {
    SweepAnalysisSettings settings;
    settings.hi_hz = 30000;
    const std::vector<double> y = Sweep();
    EXPECT_THROW(s_analyser->Analyse(y.data(), 1, nullptr, settings), std::invalid_argument);
}

} // namespace
