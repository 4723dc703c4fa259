// The whole measurement run on the simulated card's devices under test, each read against what
// its stages are in closed form: the cookbook biquads' responses (their analog prototypes through
// the bilinear map), a fractional delay, a polynomial's harmonics worked out from the sweep's
// amplitude, and plain noise that should change nothing.
#include "analysis/sweep/sweep_measurement.h"

#include "audio/sim/simulated_dut_chain.h"
#include "base/pcm_format.h"
#include "tests/analysis/test_signals.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <functional>
#include <ostream>
#include <stdexcept>
#include <string>

namespace {

using Complex = std::complex<double>;
using Response = std::function<Complex(double hz)>;

// Silence the card captures before the sweep arrives: not a whole number of periods.
constexpr int kLeadFrames = 1500;

// The measurement's playback through the chain written in `stages`, period by period as the
// simulated card runs it, kLeadFrames late; the capture fed back until the run is complete.
SweepOutcome RunChain(const char* stages, const SweepMeasurementSettings& settings) {
    std::string error;
    auto chain = ParseSimulatedDut(stages, error);
    if (!chain) {
        throw std::invalid_argument(error);
    }
    CSweepMeasurement m(settings);
    const std::vector<int16_t>& play = *m.Playback();
    const int64_t playFrames = int64_t(play.size() / 2);
    std::vector<int16_t> period(2 * size_t(kFramesPerBuffer));
    for (int64_t at = 0; !m.Complete(); at += kFramesPerBuffer) {
        for (int f = 0; f < kFramesPerBuffer; ++f) {
            const int64_t source = at + f - kLeadFrames;
            for (int c = 0; c < 2; ++c) {
                period[size_t(2 * f + c)] =
                    source >= 0 && source < playFrames ? play[size_t(2 * source + c)] : 0;
            }
        }
        chain->Process(period.data(), kFramesPerBuffer);
        m.Feed(period.data(), kFramesPerBuffer, 0);
    }
    return m.Analyse();
}

// The cookbook's analog prototypes, s warped so that f0 maps to itself.
Complex Warped(double hz, double f0) {
    return Complex(0, std::tan(kPi * hz / kRate) / std::tan(kPi * f0 / kRate));
}
Response Lowpass(double f0, double q) {
    return [=](double hz) {
        const Complex s = Warped(hz, f0);
        return 1.0 / (s * s + s / q + 1.0);
    };
}
// Two cookbook sections in a row, as a subwoofer's crossover: fourth order.
Response Lowpass4(double f0) {
    return [=](double hz) { return Lowpass(f0, 0.707)(hz) * Lowpass(f0, 0.707)(hz); };
}
Response Highpass(double f0, double q) {
    return [=](double hz) {
        const Complex s = Warped(hz, f0);
        return s * s / (s * s + s / q + 1.0);
    };
}
Response Peak(double f0, double q, double db) {
    const double a = std::pow(10.0, db / 40);
    return [=](double hz) {
        const Complex s = Warped(hz, f0);
        return (s * s + s * (a / q) + 1.0) / (s * s + s / (a * q) + 1.0);
    };
}

struct DeviceCase {
    const char* name;
    const char* stages;
    bool reference;    // X1 over X2
    Response response; // X1's, or X1 over X2's; nullptr: flat
    double hi_hz;      // compared from 20 Hz up to here
    // A filter's impulse response peaks later than its phase's delay, so the phase is compared
    // after the pure delay that fits it best; a flat device's must be 0 as it stands.
    bool fit_delay;
    double mag_db, phase_deg;
    const char* latency_against = nullptr; // a chain whose latency this one's exceeds by
    double latency_more = 0;
    double a2 = 0, a3 = 0;             // poly's
    double h2_hi_hz = 0, h3_hi_hz = 0; // the harmonics compared up to here
    double level_dbfs = -12;           // the sweep's
    double lo_hz = 20;                 // compared from here
    int length = 1 << 18;              // the sweep's frames
};

void PrintTo(const DeviceCase& c, std::ostream* os) {
    *os << c.stages;
}

class SweepOnSimulatedDevices : public testing::TestWithParam<DeviceCase> {};

TEST_P(SweepOnSimulatedDevices, ReadsTheAnalyticResponse) {
    const DeviceCase& c = GetParam();
    SweepMeasurementSettings settings;
    settings.reference = c.reference ? SweepReference::X2 : SweepReference::None;
    settings.sweep.level_dbfs = c.level_dbfs;
    settings.sweep.frames = c.length;
    const SweepShape shape = MakeSweepShape(settings.sweep);
    const SweepOutcome out = RunChain(c.stages, settings);
    ASSERT_EQ(out.failure, SweepFailure::None) << SweepFailureText(out.failure);
    const SweepResult& r = out.result;

    // x + a2 x^2 + a3 x^3 driven at peak A: the fundamental A + 3 a3 A^3 / 4, H2 a2 A^2 / 2,
    // H3 a3 A^3 / 4.
    const double amp = shape.amplitude;
    const double fundamental = amp + 0.75 * c.a3 * amp * amp * amp;
    const double harmonic[2] = {c.a2 * amp * amp / 2, c.a3 * amp * amp * amp / 4};

    // With a reference the phase is X1's over X2's with only their relative latency taken out:
    // put that back. Without, a filter's error is a pure delay besides whatever else is wrong.
    std::vector<double> errorDeg;
    std::vector<double> hz;
    double worstDb = 0, worstDbHz = 0;
    for (size_t i = 0; i < r.freq_hz.size() && r.freq_hz[i] <= c.hi_hz; ++i) {
        const double f = r.freq_hz[i];
        if (f < c.lo_hz) {
            continue;
        }
        const Complex h = (c.response ? c.response(f) : 1.0) * fundamental / amp;
        const double db = std::fabs(r.mag_db[i] - Db(std::abs(h)));
        if (db > worstDb) {
            worstDb = db;
            worstDbHz = f;
        }
        const double restored = c.reference ? -360 * f * r.latency_samples / kRate : 0.0;
        double error = r.phase_deg[i] + restored - std::arg(h) * 180 / kPi;
        // A fourth order's analytic phase passes -180 and wraps: the error is unwrapped.
        if (!errorDeg.empty()) {
            error -= 360 * std::round((error - errorDeg.back()) / 360);
        }
        errorDeg.push_back(error);
        hz.push_back(f);
    }
    // Every point of the band compared: 48 an octave.
    ASSERT_GE(double(hz.size()), 48 * std::log2(c.hi_hz / c.lo_hz));
    double slope = 0;
    if (c.fit_delay) {
        double sumEf = 0, sumFf = 0;
        for (size_t i = 0; i < hz.size(); ++i) {
            sumEf += errorDeg[i] * hz[i];
            sumFf += hz[i] * hz[i];
        }
        slope = sumEf / sumFf;
    }
    double worstDeg = 0, worstDegHz = 0;
    for (size_t i = 0; i < hz.size(); ++i) {
        const double deg = std::fabs(std::remainder(errorDeg[i] - slope * hz[i], 360.0));
        if (deg > worstDeg) {
            worstDeg = deg;
            worstDegHz = hz[i];
        }
    }
    RecordProperty("worst_db", std::to_string(worstDb));
    RecordProperty("worst_deg", std::to_string(worstDeg));
    EXPECT_LT(worstDb, c.mag_db) << "at " << worstDbHz << " Hz";
    EXPECT_LT(worstDeg, c.phase_deg) << "at " << worstDegHz << " Hz, after a fitted delay of "
                                     << -slope / 360 * kRate << " samples";

    if (c.latency_against) {
        const SweepOutcome base = RunChain(c.latency_against, settings);
        ASSERT_EQ(base.failure, SweepFailure::None) << SweepFailureText(base.failure);
        RecordProperty("latency_more", std::to_string(out.latency_samples - base.latency_samples));
        EXPECT_NEAR(out.latency_samples - base.latency_samples, c.latency_more, 0.05)
            << out.latency_samples << " against " << base.latency_samples << " samples";
    }

    if (c.a2 != 0 || c.a3 != 0) {
        const std::vector<double>* read[2] = {&r.h2_db, &r.h3_db};
        const double hiHz[2] = {c.h2_hi_hz, c.h3_hi_hz};
        for (int k = 0; k < 2; ++k) {
            const double expected = Db(harmonic[k] / fundamental);
            double worst = 0, worstHz = 0;
            int compared = 0;
            for (size_t i = 0; i < r.freq_hz.size(); ++i) {
                const double f = r.freq_hz[i];
                const double db = (*read[k])[i];
                if ((k + 2) * f > shape.fade_out_hz) {
                    EXPECT_TRUE(std::isnan(db)) << "H" << k + 2 << " at " << f << " Hz";
                    continue;
                }
                EXPECT_FALSE(std::isnan(db)) << "H" << k + 2 << " at " << f << " Hz";
                if (f > hiHz[k]) {
                    continue;
                }
                ++compared;
                if (std::fabs(db - expected) > worst) {
                    worst = std::fabs(db - expected);
                    worstHz = f;
                }
            }
            RecordProperty("worst_h" + std::to_string(k + 2) + "_db", std::to_string(worst));
            EXPECT_GT(compared, 300) << "H" << k + 2;
            EXPECT_LT(worst, 0.2) << "H" << k + 2 << " (" << expected << " dB) at " << worstHz
                                  << " Hz";
        }
    }
}

// The lowpasses are swept at -1 dBFS and compared up to 14 kHz, where they pass -53 dB: there
// the capture's 16-bit rounding, against what little passes, moves the reading by 0.044 dB and
// 0.3 degrees. To 15 kHz (-56 dB) it moves it by 0.055 dB at 14.5 kHz, over the bound; at
// -12 dBFS by 0.18 dB and 1.4 degrees, and the converter's dither, which trades the rounding's
// error for three times its noise power, makes it 0.17 dB and 0.56 degrees at -1 dBFS. The same
// filtered sweep in double precision reads within 0.0002 dB at 15 kHz.
// The polynomial's harmonics are compared where they fall within the converter's passband
// (k f up to 20 kHz): above it, up to the sweep's fade (21.4 kHz), they read the anti-alias
// filter's roll-off as a card would, H2 20 dB low at 10.7 kHz. It is swept at -6 dBFS, where H3
// stands 48 dB under full scale; at -12 dBFS (66 dB under) the capture's rounding moves H3 by
// 0.24 dB at 5 kHz.
INSTANTIATE_TEST_SUITE_P(
    Chains, SweepOnSimulatedDevices,
    testing::Values(
        DeviceCase{"Lowpass", "lowpass:1000:0.707", false, Lowpass(1000, 0.707), 14000, true, 0.05,
                   0.5, nullptr, 0, 0, 0, 0, 0, -1},
        DeviceCase{"HalfSampleDelay", "delay:0.5", false, nullptr, 20000, false, 0.05, 0.5,
                   "delay:0", 0.5},
        DeviceCase{"Polynomial", "poly:0.25:0.125", false, nullptr, 20000, false, 0.05, 0.5,
                   nullptr, 0, 0.25, 0.125, 20000.0 / 2, 20000.0 / 3, -6},
        DeviceCase{"Noise", "noise:-90", false, nullptr, 20000, false, 0.05, 0.5},
        DeviceCase{"LowpassOverReference", "x1:lowpass:1000:0.707", true, Lowpass(1000, 0.707),
                   14000, false, 0.05, 0.5, nullptr, 0, 0, 0, 0, 0, -1},
        DeviceCase{"Highpass", "highpass:100:0.707", false, Highpass(100, 0.707), 20000, true, 0.05,
                   0.5},
        DeviceCase{"Peak", "peak:1000:2:6", false, Peak(1000, 2, 6), 20000, true, 0.05, 0.5},
        // Band-limited devices, as a subwoofer: all that comes back is what they pass. In noise
        // at -50 dBFS the 40 Hz one stands out of it only within its own band.
        DeviceCase{"Lowpass40Fourth", "lowpass:40:0.707+lowpass:40:0.707", false, Lowpass4(40), 160,
                   true, 0.1, 1.0},
        DeviceCase{"Lowpass50Fourth", "lowpass:50:0.707+lowpass:50:0.707", false, Lowpass4(50), 200,
                   true, 0.1, 1.0},
        DeviceCase{"Lowpass40FourthInNoise", "lowpass:40:0.707+lowpass:40:0.707+noise:-50", false,
                   Lowpass4(40), 60, true, 0.1, 1.0},
        DeviceCase{"Lowpass200FourthShort", "lowpass:200:0.707+lowpass:200:0.707", false,
                   Lowpass4(200), 800, true, 0.1, 1.0, nullptr, 0, 0, 0, 0, 0, -12, 20, 1 << 16}),
    [](const auto& info) { return std::string(info.param.name); });

// A reflection through the simulated card: h = d(t) + 0.5 d(t - 220 frames), 4.99 ms. Whole, the
// response is the echo's own, |1 + 0.5 exp(-j 2 pi f 220 / rate)|, rippling from +3.5 to -6 dB;
// gated from 1 ms before the peak to 4 ms after it, it is the direct sound's, flat, from
// 1 / 5 ms up.
TEST(SweepOnSimulatedDevices, GateLeavesAReflectionOut) {
    SweepMeasurementSettings settings;
    settings.sweep.frames = 1 << 16;
    const SweepOutcome whole = RunChain("echo:220:0.5", settings);
    ASSERT_EQ(whole.failure, SweepFailure::None) << SweepFailureText(whole.failure);
    double worstWhole = 0;
    for (size_t i = 0; i < whole.result.freq_hz.size(); ++i) {
        const double hz = whole.result.freq_hz[i];
        const Complex echo = 1.0 + 0.5 * std::polar(1.0, -2 * kPi * hz * 220 / kRate);
        worstWhole = std::max(worstWhole, std::fabs(whole.result.mag_db[i] - Db(std::abs(echo))));
    }
    EXPECT_LT(worstWhole, 0.05);

    settings.analysis.gate_left_ms = 1;
    settings.analysis.gate_right_ms = 4;
    const SweepOutcome gated = RunChain("echo:220:0.5", settings);
    ASSERT_EQ(gated.failure, SweepFailure::None) << SweepFailureText(gated.failure);
    const SweepResult& r = gated.result;
    EXPECT_NEAR(r.gate_lowest_hz, kRate / (44 + 176), 1e-9); // whole frames of 1 and 4 ms
    double worst = 0;
    int compared = 0;
    for (size_t i = 0; i < r.freq_hz.size(); ++i) {
        if (r.freq_hz[i] >= r.gate_lowest_hz) {
            worst = std::max(worst, std::fabs(r.mag_db[i]));
            ++compared;
        }
    }
    EXPECT_GT(compared, 300);
    EXPECT_LT(worst, 0.01);
}

} // namespace
