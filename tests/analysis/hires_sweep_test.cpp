// The sweep analyser at a card's own rates: a sweep made at that rate, through a cookbook
// low-pass applied here, reads the filter's analytic response up to near Nyquist.
#include "analysis/sweep/sweep_analyser.h"

#include "tests/analysis/test_signals.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <string>

namespace {

using Complex = std::complex<double>;

// RBJ audio-EQ cookbook low-pass at rateHz, run sample by sample and evaluated on the unit circle.
struct Lowpass {
    double b0, b1, b2, a1, a2, rate;
    Lowpass(double hz, double q, double rateHz) : rate(rateHz) {
        const double w0 = 2 * kPi * hz / rateHz;
        const double alpha = std::sin(w0) / (2 * q);
        const double a0 = 1 + alpha;
        const double c = std::cos(w0);
        b0 = b2 = (1 - c) / 2 / a0;
        b1 = (1 - c) / a0;
        a1 = -2 * c / a0;
        a2 = (1 - alpha) / a0;
    }
    std::vector<double> Apply(const std::vector<double>& x, int delay) const {
        std::vector<double> y(x.size(), 0.0);
        double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
        for (size_t n = 0; n + size_t(delay) < x.size(); ++n) {
            const double v = b0 * x[n] + b1 * x1 + b2 * x2 - a1 * y1 - a2 * y2;
            x2 = x1, x1 = x[n], y2 = y1, y1 = v;
            y[n + size_t(delay)] = v;
        }
        return y;
    }
    double Db(double hz) const {
        const Complex z1 = std::polar(1.0, -2 * kPi * hz / rate);
        return 20 * std::log10(std::abs((b0 + b1 * z1 + b2 * z1 * z1) /
                                        (1.0 + a1 * z1 + a2 * z1 * z1)));
    }
};

struct HiresSweepCase {
    const char* name;
    double rate_hz;
    double corner_hz;
    double top_hz; // the highest point read
};

class HiresSweep : public testing::TestWithParam<HiresSweepCase> {};

TEST_P(HiresSweep, LowpassReadsItsAnalyticResponseToNearNyquist) {
    const HiresSweepCase& c = GetParam();
    SweepSettings sweep;
    sweep.rate_hz = c.rate_hz;
    sweep.f2_hz = c.rate_hz / 2;
    CSweepAnalyser analyser(sweep);
    const Lowpass lowpass(c.corner_hz, 0.707, c.rate_hz);
    const std::vector<double> y = lowpass.Apply(analyser.Sweep(), 61);
    SweepAnalysisSettings settings;
    settings.hi_hz = c.top_hz;
    const SweepResult& r = analyser.Analyse(y.data(), 1, nullptr, settings);
    ASSERT_EQ(r.refusal, SweepRefusal::None);
    // The last point of the 1/48-octave grid at or below the top.
    ASSERT_GT(r.freq_hz.back(), c.top_hz * std::pow(2.0, -1.0 / 48));
    double worst = 0;
    for (size_t i = 0; i < r.freq_hz.size(); ++i) {
        const double gap = r.mag_db[i] - lowpass.Db(r.freq_hz[i]);
        worst = std::fmax(worst, std::fabs(gap));
        EXPECT_NEAR(gap, 0, 0.02) << r.freq_hz[i] << " Hz";
    }
    RecordProperty("worst_db", std::to_string(worst));
}

INSTANTIATE_TEST_SUITE_P(Rates, HiresSweep,
                         testing::Values(HiresSweepCase{"Rate96k", 96000, 40000, 45000},
                                         HiresSweepCase{"Rate192k", 192000, 80000, 90000},
                                         HiresSweepCase{"Rate48k", 48000, 20000, 23000}),
                         [](const testing::TestParamInfo<HiresSweepCase>& info) {
                             return info.param.name;
                         });

} // namespace
