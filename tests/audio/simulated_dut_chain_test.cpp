// The device under test built from a name: what the grammar accepts and refuses, each stage
// against its analytic response (the cookbook's analog prototypes through the bilinear map, a
// delay's e^(-jwN), a divider from its network's impedance written out by hand), and noise.
#include "audio/sim/simulated_dut_chain.h"
#include "audio/sim/simulated_fir.h"
#include "tests/support/tone_fit.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <functional>
#include <numbers>
#include <vector>

namespace {

using Complex = std::complex<double>;
constexpr double kPi = std::numbers::pi;
constexpr double kRate = 44100.0;
constexpr Complex kJ(0.0, 1.0);

struct ParseCase {
    const char* stages;
    const char* error; // empty: accepted
};

class SimulatedDutGrammar : public ::testing::TestWithParam<ParseCase> {};

TEST_P(SimulatedDutGrammar, AcceptsOrNamesTheFault) {
    const ParseCase& c = GetParam();
    std::string error;
    const auto chain = ParseSimulatedDut(c.stages, error);
    if (*c.error == '\0') {
        EXPECT_TRUE(chain.has_value()) << error;
    } else {
        EXPECT_FALSE(chain.has_value());
        EXPECT_EQ(error, c.error);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Names, SimulatedDutGrammar,
    ::testing::Values(
        ParseCase{"lowpass:1000:0.707+highpass:20:0.5+peak:3000:2:-6+gain:-3", ""},
        ParseCase{"x1:lowpass:1000:0.707+x1:delay:12.25+poly:2e-4:-1.6e-4+noise:-90+dither", ""},
        ParseCase{"divider:100:R6+L0.3e-3+(L0.02|C3e-4|R30)+zin:1e5+mismatch:0.06:0.6", ""},
        ParseCase{"zin:5e4+divider:100:R0.2+C1e-6+gain:-1", ""},
        ParseCase{"tone:100:-6+x1:tone:997.3:-120+poly:0.05:0.02", ""},
        ParseCase{"tone:22050:-6",
                  "sim:dut: tone: the frequency must be above 0 and below 22050 Hz"},
        ParseCase{"tone:100:0.5", "sim:dut: tone: the level must be 0 dBFS or below"},
        ParseCase{"lopass:1000:0.7", "sim:dut: unknown stage 'lopass'"},
        ParseCase{"", "sim:dut: empty stage in ''"},
        ParseCase{"gain:-3++gain:1", "sim:dut: gain: '-3+' is not a number"},
        ParseCase{"lowpass:1000", "sim:dut: 'lowpass:1000' is not lowpass:F:Q"},
        ParseCase{"peak:1e3:1:6:2", "sim:dut: 'peak:1e3:1:6:2' is not peak:F:Q:DB"},
        ParseCase{"lowpass:1k:0.7", "sim:dut: lowpass: '1k' is not a number"},
        ParseCase{"highpass:22050:0.7",
                  "sim:dut: highpass: the frequency must be above 0 and below 22050 Hz"},
        ParseCase{"lowpass:100:0", "sim:dut: lowpass: Q must be above 0"},
        ParseCase{"delay:-0.5", "sim:dut: delay: the delay must be 0 to 44100 frames"},
        ParseCase{"echo:220:0.5+x1:echo:44100:-1", ""},
        ParseCase{"echo:220.5:0.5", "sim:dut: echo: the delay must be a whole 1 to 44100 frames"},
        ParseCase{"echo:0:0.5", "sim:dut: echo: the delay must be a whole 1 to 44100 frames"},
        ParseCase{"echo:220:1.5", "sim:dut: echo: the gain must be within +-1"},
        ParseCase{"noise:nan", "sim:dut: noise: 'nan' is not a number"},
        ParseCase{"x1:divider:100:R1", "sim:dut: x1: does not apply to divider"},
        ParseCase{"divider:0:R1", "sim:dut: divider: the resistance must be above 0 ohms"},
        ParseCase{"divider:100:R1+X2",
                  "sim:dut: divider: expected R, L, C or '(' but found 'X' at character 4 of "
                  "network 'R1+X2'"},
        ParseCase{"divider:100:(R1+C1e-6",
                  "sim:dut: divider: missing ')' at the end of network '(R1+C1e-6'"},
        ParseCase{"divider:100:C0", "sim:dut: divider: value out of range at character 1 of "
                                    "network 'C0'"},
        ParseCase{"divider:100:R1)", "sim:dut: divider: unexpected ')' at character 3 of "
                                     "network 'R1)'"},
        ParseCase{"zin:1e5+gain:0", "sim:dut: zin needs a divider in the same chain"},
        ParseCase{"crosstalk:-60:-70+noise:-90", ""},
        ParseCase{"crosstalk:-60:3", "sim:dut: crosstalk: the leaks must be 0 dB or below"},
        ParseCase{"x1:crosstalk:-60:-70", "sim:dut: x1: does not apply to crosstalk"}));

struct ImpedanceCase {
    const char* network;
    double hz;
    Complex z_ohm; // worked out by hand from the elements
};

class SimulatedNetworkImpedance : public ::testing::TestWithParam<ImpedanceCase> {};

TEST_P(SimulatedNetworkImpedance, MatchesTheElementsWorkedOutByHand) {
    const ImpedanceCase& c = GetParam();
    std::string error;
    const auto network = ParseSimulatedNetwork(c.network, error);
    ASSERT_TRUE(network.has_value()) << error;
    const Complex z = NetworkImpedance(*network, c.hz);
    EXPECT_NEAR(z.real(), c.z_ohm.real(), 1e-9 * std::abs(c.z_ohm));
    EXPECT_NEAR(z.imag(), c.z_ohm.imag(), 1e-9 * std::abs(c.z_ohm));
}

INSTANTIATE_TEST_SUITE_P(
    Networks, SimulatedNetworkImpedance,
    ::testing::Values(ImpedanceCase{"R0.2+C1e-6", 1000, {0.2, -159.15494309189535}},
                      // '|' binds tighter than '+': 6 + (L || C)
                      ImpedanceCase{"R6+L1e-3|C2e-4", 500, {6.0, -3.225716500591918}},
                      ImpedanceCase{"R6.3+(L0.5e-3|C2e-4)", 200, {6.3, 0.7461450312694444}},
                      // At the tank's resonance only its resistor is left.
                      ImpedanceCase{"R6+L0.3e-3+(L0.02|C3e-4|R30)",
                                    64.97473343613969,
                                    {36.0, 0.1224744871391589}},
                      ImpedanceCase{"R1|R0", 100, {0.0, 0.0}}));

// The complex amplitude of an exact DFT bin over `frames` samples of one channel.
Complex Phasor(const std::vector<int16_t>& block, int channel, int first, int frames, int bin) {
    Complex sum = 0;
    for (int n = 0; n < frames; ++n) {
        sum += double(block[2 * size_t(first + n) + size_t(channel)]) *
               std::polar(1.0, -2.0 * kPi * bin * n / frames);
    }
    return sum;
}

// The cookbook's prototypes in s, mapped to z by the bilinear transform warped at f0.
Complex Prewarped(double hz, double f0, double rate = kRate) {
    return kJ * std::tan(kPi * hz / rate) / std::tan(kPi * f0 / rate);
}
Complex Lowpass(double hz, double f0, double q, double rate = kRate) {
    const Complex s = Prewarped(hz, f0, rate);
    return 1.0 / (s * s + s / q + 1.0);
}
Complex Highpass(double hz, double f0, double q) {
    const Complex s = Prewarped(hz, f0);
    return s * s / (s * s + s / q + 1.0);
}
Complex Peak(double hz, double f0, double q, double db) {
    const Complex s = Prewarped(hz, f0);
    const double a = std::pow(10.0, db / 40);
    return (s * s + s * (a / q) + 1.0) / (s * s + s / (a * q) + 1.0);
}
Complex Delay(double hz, double frames, double rate = kRate) {
    return std::polar(1.0, -2 * kPi * hz / rate * frames);
}
Complex Capacitor(double hz, double farads) {
    return 1.0 / (kJ * 2.0 * kPi * hz * farads);
}
Complex Inductor(double hz, double henries) {
    return kJ * 2.0 * kPi * hz * henries;
}
Complex Parallel(Complex a, Complex b) {
    return a * b / (a + b);
}

using Response = std::function<Complex(double hz)>;
const Response kStraight = [](double) { return Complex(1.0); };

struct StageCase {
    const char* name;
    const char* stages;
    int bin;            // of kWindow frames: the tone's frequency
    int latency_frames; // 16384 per FIR stage
    Response x1, x2;    // X1 / L and X2 / R (X2 / L for a divider)
    double tolerance;   // |measured / analytic - 1|: 1e-5 is 0.001 % and 0.0006 degrees
};

constexpr int kWindow = 32768;

class SimulatedDutStages : public ::testing::TestWithParam<StageCase> {};

// A steady tone on both channels, played in 4096-frame periods so that state must carry over;
// the last kWindow frames against the same frames of input, the latency earlier.
TEST_P(SimulatedDutStages, MatchTheAnalyticResponse) {
    const StageCase& c = GetParam();
    std::string error;
    auto chain = ParseSimulatedDut(c.stages, error);
    ASSERT_TRUE(chain.has_value()) << error;
    // Each FIR is steady once its whole impulse response, twice its latency, has been fed;
    // the biquads once their transients have died away.
    const int settle = c.latency_frames + 8192;
    const int frames = c.latency_frames + settle + kWindow;
    std::vector<int16_t> in(2 * size_t(frames));
    for (int n = 0; n < frames; ++n) {
        const double s = std::sin(2 * kPi * double(c.bin) * n / kWindow + 0.3);
        in[2 * size_t(n)] = in[2 * size_t(n) + 1] = int16_t(std::lround(16384 * s));
    }
    std::vector<int16_t> out = in;
    for (int done = 0; done < frames; done += 4096) {
        chain->Process(out.data() + 2 * size_t(done), std::min(4096, frames - done));
    }
    const double hz = c.bin * kRate / kWindow;
    const int first = frames - kWindow;
    const Complex source = Phasor(in, 0, first - c.latency_frames, kWindow, c.bin);
    const Response* expected[2] = {&c.x1, &c.x2};
    for (int channel = 0; channel < 2; ++channel) {
        const Complex ratio = Phasor(out, channel, first, kWindow, c.bin) / source;
        const Complex analytic = (*expected[channel])(hz);
        const double error = std::abs(ratio / analytic - 1.0);
        EXPECT_LT(error, c.tolerance)
            << "X" << channel + 1 << " at " << hz << " Hz: |H| " << std::abs(ratio) << " vs "
            << std::abs(analytic) << ", phase " << std::arg(ratio / analytic) * 180 / kPi
            << " degrees off";
    }
}

const auto kLowpass = [](double hz) { return Lowpass(hz, 1000, 0.707); };
const auto kLoudspeaker = [](double hz) {
    // R6 + L0.3e-3 + (L0.02 | C3e-4 | R30) over 8 ohms
    const Complex tank = Parallel(Parallel(Inductor(hz, 0.02), Capacitor(hz, 3e-4)), 30.0);
    return 8.0 / (6.0 + Inductor(hz, 0.3e-3) + tank + 8.0);
};

INSTANTIATE_TEST_SUITE_P(
    Stages, SimulatedDutStages,
    ::testing::Values(
        // bin 743 is 999.9 Hz
        StageCase{"Lowpass", "lowpass:1000:0.707", 743, 0, kLowpass, kLowpass, 1e-5},
        StageCase{"LowpassOnX1Only", "x1:lowpass:1000:0.707", 1486, 0, kLowpass, kStraight, 1e-5},
        StageCase{"HighpassPeaking", "highpass:100:1.5", 74, 0,
                  [](double hz) { return Highpass(hz, 100, 1.5); },
                  [](double hz) { return Highpass(hz, 100, 1.5); }, 1e-5},
        StageCase{"PeakCut", "peak:3000:2:-12", 2229, 0,
                  [](double hz) { return Peak(hz, 3000, 2, -12); },
                  [](double hz) { return Peak(hz, 3000, 2, -12); }, 1e-5},
        StageCase{"Gain", "gain:-6", 743, 0, [](double) { return Complex(0.5011872336272722); },
                  [](double) { return Complex(0.5011872336272722); }, 1e-5},
        StageCase{"DelayNone", "delay:0", 11145, 16384, kStraight, kStraight, 1e-5},
        StageCase{"DelayHalfAt15kHz", "delay:0.5", 11145, 16384,
                  [](double hz) { return Delay(hz, 0.5); },
                  [](double hz) { return Delay(hz, 0.5); }, 1e-5},
        StageCase{"DelayOnX1At100Hz", "x1:delay:12.25", 74, 16384,
                  [](double hz) { return Delay(hz, 12.25); }, kStraight, 1e-5},
        StageCase{"DividerCapacitor", "divider:100:C1e-6", 743, 16384, kStraight,
                  [](double hz) { return 100.0 / (Capacitor(hz, 1e-6) + 100.0); }, 1e-5},
        StageCase{"DividerEsrWithZin", "divider:100:R0.5+C1e-6+zin:1e4", 7430, 16384, kStraight,
                  [](double hz) {
                      const double reff = 1.0 / (1.0 / 100 + 1.0 / 1e4);
                      return reff / (0.5 + Capacitor(hz, 1e-6) + reff);
                  },
                  1e-5},
        StageCase{"DividerLoudspeakerAtResonance", "divider:8:R6+L0.3e-3+(L0.02|C3e-4|R30)", 48,
                  16384, kStraight, kLoudspeaker, 2e-5},
        StageCase{"DividerLoudspeakerAt20Hz", "divider:8:R6+L0.3e-3+(L0.02|C3e-4|R30)", 15, 16384,
                  kStraight, kLoudspeaker, 1e-5},
        StageCase{"Mismatch", "mismatch:0.06:0.6", 743, 16384, kStraight,
                  [](double) { return std::polar(std::pow(10.0, 0.06 / 20), 0.6 * kPi / 180); },
                  1e-5},
        StageCase{"DividerThenMismatch", "divider:1000:L10e-3+mismatch:-1:-30", 3715, 32768,
                  kStraight,
                  [](double hz) {
                      return std::polar(std::pow(10.0, -1.0 / 20), -kPi / 6) * 1000.0 /
                             (Inductor(hz, 10e-3) + 1000.0);
                  },
                  1e-5}),
    [](const auto& info) { return std::string(info.param.name); });

// At a stream's own rate the limits follow it: frequencies up to its Nyquist, delays up to a
// second of its frames.
struct RateCase {
    int rate_hz;
    const char* stages;
    const char* error; // empty: accepted
};

class SimulatedDutGrammarAtRate : public ::testing::TestWithParam<RateCase> {};

TEST_P(SimulatedDutGrammarAtRate, LimitsFollowTheRate) {
    const RateCase& c = GetParam();
    std::string error;
    const auto chain = ParseSimulatedDut(c.stages, error, c.rate_hz);
    EXPECT_EQ(chain.has_value(), *c.error == '\0') << error;
    EXPECT_EQ(error, c.error);
}

INSTANTIATE_TEST_SUITE_P(
    Rates, SimulatedDutGrammarAtRate,
    ::testing::Values(
        RateCase{96000, "lowpass:40000:0.707+tone:47999:-20+delay:96000+echo:96000:0.5", ""},
        RateCase{44100, "lowpass:40000:0.707",
                 "sim:dut: lowpass: the frequency must be above 0 and below 22050 Hz"},
        RateCase{96000, "tone:48000:-6",
                 "sim:dut: tone: the frequency must be above 0 and below 48000 Hz"},
        RateCase{192000, "delay:192000.5", "sim:dut: delay: the delay must be 0 to 192000 frames"},
        RateCase{88200, "echo:88201:0.5",
                 "sim:dut: echo: the delay must be a whole 1 to 88200 frames"}));

// The stages whose response depends on the rate, worked on unrounded samples at 96 and 192 kHz
// through the float path, against their analytic responses at that rate.
struct RateStageCase {
    const char* name;
    int rate_hz;
    const char* stages;
    int bin;            // of kWindow frames
    int latency_frames; // 16384 per FIR stage
    Response x1, x2;
};

const auto kLowpass40k = [](double hz) { return Lowpass(hz, 40000, 0.707, 96000); };
const auto kDelayAt96k = [](double hz) { return Delay(hz, 3.25, 96000); };

class SimulatedDutStagesAtRate : public ::testing::TestWithParam<RateStageCase> {};

TEST_P(SimulatedDutStagesAtRate, MatchTheAnalyticResponseAtThatRate) {
    const RateStageCase& c = GetParam();
    std::string error;
    auto chain = ParseSimulatedDut(c.stages, error, c.rate_hz);
    ASSERT_TRUE(chain.has_value()) << error;
    const int frames = 2 * c.latency_frames + 16384 + kWindow;
    std::vector<double> in(static_cast<size_t>(frames));
    for (int n = 0; n < frames; ++n) {
        in[size_t(n)] = 0.5 * std::sin(2 * kPi * double(c.bin) * n / kWindow + 0.3);
    }
    std::vector<double> x1 = in, x2 = in;
    for (int done = 0; done < frames; done += 8192) {
        chain->ProcessAnalog(x1.data() + done, x2.data() + done, std::min(8192, frames - done));
    }
    const auto phasor = [&](const std::vector<double>& x, int first) {
        Complex sum = 0;
        for (int n = 0; n < kWindow; ++n) {
            sum += x[size_t(first + n)] * std::polar(1.0, -2.0 * kPi * c.bin * n / kWindow);
        }
        return sum;
    };
    const double hz = double(c.bin) * c.rate_hz / kWindow;
    const int first = frames - kWindow;
    const Complex source = phasor(in, first - c.latency_frames);
    const std::pair<const std::vector<double>*, const Response*> channels[2] = {{&x1, &c.x1},
                                                                                {&x2, &c.x2}};
    for (const auto& [x, response] : channels) {
        const Complex ratio = phasor(*x, first) / source;
        EXPECT_LT(std::abs(ratio / (*response)(hz)-1.0), 1e-5)
            << hz << " Hz: |H| " << std::abs(ratio) << " vs " << std::abs((*response)(hz));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Stages, SimulatedDutStagesAtRate,
    ::testing::Values(
        // bin 13653 is 39.99 kHz at 96 kHz
        RateStageCase{"Lowpass40kAt96k", 96000, "lowpass:40000:0.707", 13653, 0, kLowpass40k,
                      kLowpass40k},
        RateStageCase{"Lowpass1kOnX1At192k", 192000, "x1:lowpass:1000:0.707", 171, 0,
                      [](double hz) { return Lowpass(hz, 1000, 0.707, 192000); }, kStraight},
        RateStageCase{"DelayAt96k", 96000, "delay:3.25", 10923, 16384, kDelayAt96k, kDelayAt96k},
        RateStageCase{"DividerCapacitorAt192k", 192000, "divider:100:C1e-6", 171, 16384, kStraight,
                      [](double hz) { return 100.0 / (Capacitor(hz, 1e-6) + 100.0); }}),
    [](const auto& info) { return std::string(info.param.name); });

// Noise on X1 alone at its stated level; X2's silence is left exactly silent.
TEST(SimulatedDutChain, NoiseOnX1OnlyAtItsStatedLevel) {
    std::string error;
    auto chain = ParseSimulatedDut("x1:noise:-40", error);
    ASSERT_TRUE(chain.has_value()) << error;
    const int frames = 65536;
    std::vector<int16_t> block(2 * size_t(frames), 0);
    chain->Process(block.data(), frames);
    double squares = 0;
    for (int n = 0; n < frames; ++n) {
        squares += double(block[2 * size_t(n)]) * block[2 * size_t(n)];
        ASSERT_EQ(block[2 * size_t(n) + 1], 0) << n;
    }
    // 32768 x 10^(-40/20) / sqrt(2) codes, plus rounding's 1/12 LSB^2
    const double expected = std::sqrt(231.70 * 231.70 + 1.0 / 12);
    EXPECT_NEAR(std::sqrt(squares / frames), expected, 0.02 * expected);
}

// y = x + a2 x^2 + a3 x^3 on x = A sin: H2 a2 A^2 / 2, H3 a3 A^3 / 4, fundamental A + 3 a3 A^3/4.
TEST(SimulatedDutChain, PolyGivesItsPlantedHarmonics) {
    std::string error;
    auto chain = ParseSimulatedDut("poly:0.05:0.08", error);
    ASSERT_TRUE(chain.has_value()) << error;
    const int frames = 65536;
    const double a = 0.5;
    std::vector<int16_t> block(2 * size_t(frames));
    for (int n = 0; n < frames; ++n) {
        const double s = a * std::sin(2 * kPi * 997.0 * n / kRate);
        block[2 * size_t(n)] = block[2 * size_t(n) + 1] = int16_t(std::lround(32768 * s));
    }
    chain->Process(block.data(), frames);
    // past the stage's latency and its lowpasses' start-up
    const int settled = 4096;
    const ToneFit fit =
        FitTones(block.data() + 2 * settled + 1, 2, frames - settled, {997.0, 1994.0, 2991.0});
    EXPECT_NEAR(fit.amplitudes[0] / 32768, a + 0.75 * 0.08 * a * a * a, 2e-5);
    EXPECT_NEAR(fit.amplitudes[1] / 32768, 0.05 * a * a / 2, 2e-5);
    EXPECT_NEAR(fit.amplitudes[2] / 32768, 0.08 * a * a * a / 4, 2e-5);
}

} // namespace
