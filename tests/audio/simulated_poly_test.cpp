// The band-limited polynomial stage against its planted harmonics: those below Nyquist at exactly
// a2 A^2 / 2 and a3 A^3 / 4, those above gone rather than folded back, and its latency the one
// it declares, on both channels.
#include "audio/sim/simulated_poly.h"
#include "tests/support/tone_fit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <ostream>
#include <string>
#include <vector>

namespace {

constexpr double kRate = 44100.0;
constexpr int kFrames = 1 << 16;
// Past the lowpasses' start-up, so that the fit sees a steady state.
constexpr int kSettledFrames = 4096;

double Db(double ratio) {
    return 20 * std::log10(ratio);
}

std::vector<double> Tone(double hz, double amplitude) {
    std::vector<double> x(kFrames);
    for (int n = 0; n < kFrames; ++n) {
        x[size_t(n)] = amplitude * std::sin(2 * std::numbers::pi * hz * n / kRate);
    }
    return x;
}

struct PolyCase {
    const char* name;
    double hz;
};

void PrintTo(const PolyCase& c, std::ostream* os) {
    *os << c.hz << " Hz";
}

class SimulatedPolyHarmonics : public testing::TestWithParam<PolyCase> {};

// A tone at A through y = x + a2 x^2 + a3 x^3: the fundamental A + 3 a3 A^3 / 4; H2 and H3 at
// their planted levels where below 20 kHz; where above Nyquist, nothing at the frequency they
// would fold to (|k f - fs|).
TEST_P(SimulatedPolyHarmonics, KeepsThoseBelowNyquistAndDropsThoseAbove) {
    const double f = GetParam().hz;
    const double a = 0.5, a2 = 0.25, a3 = 0.125;
    std::vector<double> x1 = Tone(f, a), x2 = Tone(f, a);
    CSimulatedPoly poly(a2, a3, false);
    poly.Process(x1.data(), x2.data(), kFrames);

    std::vector<double> freqs = {f};
    for (int k = 2; k <= 3; ++k) {
        freqs.push_back(k * f < kRate / 2 ? k * f : std::fabs(k * f - kRate));
    }
    const ToneFit fit =
        FitTones(x1.data() + kSettledFrames, 1, kFrames - kSettledFrames, freqs, kRate);
    const double planted[3] = {a + 0.75 * a3 * a * a * a, a2 * a * a / 2, a3 * a * a * a / 4};
    for (int k = 1; k <= 3; ++k) {
        const double read = fit.amplitudes[size_t(k - 1)];
        RecordProperty("h" + std::to_string(k) + "_db", std::to_string(Db(read)));
        if (k * f < 20000) {
            EXPECT_NEAR(Db(read / planted[k - 1]), 0.0, 0.01) << "H" << k;
        } else {
            EXPECT_LT(Db(read), -120.0) << "H" << k << " folded to " << freqs[size_t(k - 1)];
        }
    }
    EXPECT_NEAR(fit.offset, a2 * a * a / 2, 1e-6); // x^2's constant half
    EXPECT_EQ(x1, x2);
}

INSTANTIATE_TEST_SUITE_P(Tones, SimulatedPolyHarmonics,
                         testing::Values(PolyCase{"At997Hz", 997.0},
                                         PolyCase{"At6kHzH3Near18k", 6000.0},
                                         PolyCase{"At9kHzH3Above", 9000.0},
                                         PolyCase{"At15kHzBothAbove", 15000.0}),
                         [](const auto& info) { return std::string(info.param.name); });

// With no curvature the stage is a pure delay of kSimPolyLatencyFrames for a signal within the
// band kept flat; X2, passed straight when the stage is on X1 only, is delayed exactly as much.
TEST(SimulatedPoly, LinearIsItsDeclaredDelayOnBothChannels) {
    std::vector<double> in(kFrames);
    for (int n = 0; n < kFrames; ++n) {
        const double t = 2 * std::numbers::pi * n / kRate;
        in[size_t(n)] = 0.4 * std::sin(997.0 * t) + 0.3 * std::sin(19000.0 * t + 1.0);
    }
    std::vector<double> x1 = in, x2 = in;
    CSimulatedPoly poly(0.0, 0.0, true);
    // Periods of odd sizes, as the chain may be called with.
    for (int done = 0, step = 777; done < kFrames; done += step) {
        const int frames = std::min(step, kFrames - done);
        poly.Process(x1.data() + done, x2.data() + done, frames);
    }
    double worst = 0;
    for (int n = kSettledFrames; n < kFrames; ++n) {
        const double delayed = in[size_t(n - kSimPolyLatencyFrames)];
        ASSERT_EQ(x2[size_t(n)], delayed) << n;
        worst = std::max(worst, std::fabs(x1[size_t(n)] - delayed));
    }
    EXPECT_LT(worst, 1e-5);
}

} // namespace
