// The sweep analyser at a card's own rates: a sweep made at that rate, through a cookbook
// low-pass applied here, reads the filter's analytic response up to near Nyquist.
#include "analysis/sweep/sweep_analyser.h"
#include "analysis/sweep/sweep_measurement.h"

#include "tests/analysis/memoryless_stage.h"
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
        return 20 *
               std::log10(std::abs((b0 + b1 * z1 + b2 * z1 * z1) / (1.0 + a1 * z1 + a2 * z1 * z1)));
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

// At 192 kHz a polynomial stage's H2 and H3 read as its algebra gives them wherever they lie below
// the sweep's top (its fade-out, near Nyquist): H3 up to 85 kHz and more. The longest sweep, 5.5 s,
// spends less time on each of its 13 octaves than the default one at 44.1 kHz does on its 11, so
// H3's window near the bottom holds a little of H2's tail: read from 25 Hz, not 20.
TEST(HiresSweepHarmonics, PolynomialAt192kToItsTop) {
    SweepSettings sweep;
    sweep.rate_hz = 192000;
    sweep.f2_hz = 96000;
    sweep.frames = 1 << 20;
    CSweepAnalyser analyser(sweep);
    constexpr double a2 = 0.25, a3 = 0.125;
    const std::vector<double> y = PolynomialStage(analyser.Sweep(), a2, a3);
    SweepAnalysisSettings settings;
    settings.lo_hz = 25;
    settings.hi_hz = 40000;
    const SweepResult& r = analyser.Analyse(y.data(), 1, nullptr, settings);
    ASSERT_EQ(r.refusal, SweepRefusal::None);
    const double amplitude = analyser.Shape().amplitude;
    const double fundamental = amplitude + 3 * a3 * std::pow(amplitude, 3) / 4;
    const double h2 = Db(a2 * amplitude * amplitude / 2 / fundamental);
    const double h3 = Db(a3 * std::pow(amplitude, 3) / 4 / fundamental);
    const double topHz = analyser.Shape().fade_out_hz;
    ASSERT_GT(topHz, 85000);
    double highestH3Hz = 0;
    for (size_t i = 0; i < r.freq_hz.size(); ++i) {
        const double hz = r.freq_hz[i];
        EXPECT_EQ(std::isnan(r.h3_db[i]), 3 * hz > topHz) << hz << " Hz";
        if (!std::isnan(r.h2_db[i])) {
            EXPECT_NEAR(r.h2_db[i], h2, 0.2) << hz << " Hz";
        }
        if (!std::isnan(r.h3_db[i])) {
            EXPECT_NEAR(r.h3_db[i], h3, 0.2) << hz << " Hz";
            highestH3Hz = 3 * hz;
        }
    }
    EXPECT_GT(highestH3Hz, 85000);
}

// The whole measurement at 96 kHz as a 24-bit card would run it: the float playback through the
// low-pass and a 777-frame delay, rounded to 24 bits and fed as float buffers. The response is
// the filter's, and the latency the delay plus the filter's own, in milliseconds at 96 kHz.
TEST(HiresSweepMeasurement, FloatCaptureAt96kReadsTheLowpass) {
    constexpr double rate = 96000;
    SweepMeasurementSettings settings;
    settings.sweep.rate_hz = rate;
    settings.analysis.hi_hz = 45000;
    SweepForBand(settings);
    CSweepMeasurement m(settings);
    EXPECT_DOUBLE_EQ(SweepSeconds(settings.sweep), (1 << 18) / rate);
    EXPECT_DOUBLE_EQ(m.CaptureSeconds(), m.CaptureFrames() / rate);
    const auto playback = m.PlaybackFloat();
    const std::vector<float>& play = *playback;
    ASSERT_EQ(play.size(), size_t(2) * settings.sweep.frames);
    std::vector<double> left(play.size() / 2);
    for (size_t n = 0; n < left.size(); ++n) {
        left[n] = play[2 * n];
    }
    const Lowpass lowpass(40000, 0.707, rate);
    std::vector<double> wire = lowpass.Apply(left, 777);
    wire.resize(size_t(m.CaptureFrames()), 0.0);
    const std::vector<double> card = QuantiseBits(wire, 24, false);

    constexpr int buffer = 4096;
    std::vector<float> interleaved(2 * buffer);
    for (size_t at = 0; !m.Complete(); at += buffer) {
        for (size_t f = 0; f < buffer; ++f) {
            const float v = at + f < card.size() ? float(card[at + f]) : 0.0f;
            interleaved[2 * f] = interleaved[2 * f + 1] = v;
        }
        CSweepMeasurement::TapFloat(interleaved.data(), buffer, 0, &m);
    }
    const SweepOutcome out = m.Analyse();
    ASSERT_EQ(out.failure, SweepFailure::None);
    EXPECT_NEAR(out.latency_samples, 777, 3) << "the delay and the filter's few samples";
    EXPECT_NEAR(out.latency_ms, out.latency_samples / rate * 1e3, 1e-9);
    ASSERT_GT(out.result.freq_hz.back(), 45000 * std::pow(2.0, -1.0 / 48));
    for (size_t i = 0; i < out.result.freq_hz.size(); ++i) {
        EXPECT_NEAR(out.result.mag_db[i], lowpass.Db(out.result.freq_hz[i]), 0.02)
            << out.result.freq_hz[i] << " Hz";
    }
}

} // namespace
