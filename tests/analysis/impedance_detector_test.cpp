// Z read through the card against parts whose impedance is known in closed form.
#include "analysis/impedance/impedance_corrections.h"
#include "analysis/impedance/impedance_detector.h"
#include "analysis/impedance/impedance_readings.h"

#include "tests/analysis/impedance_signals.h"
#include "tests/analysis/test_signals.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

constexpr int kFrames = 8192;
constexpr double kDegPerRad = 180 / kPi;

double PhaseErrorDeg(std::complex<double> got, std::complex<double> want) {
    return std::fabs(std::arg(got / want)) * kDegPerRad;
}

struct PartCase {
    const char* name;
    ChainSignal signal;
    double tolerance;     // relative, of |Z|
    double tolerance_deg; // of the angle
};

class ImpedanceParts : public ::testing::TestWithParam<PartCase> {};

TEST_P(ImpedanceParts, ReadWithinTolerance) {
    const PartCase& c = GetParam();
    CImpedanceDetector detector(kFrames, kRate);
    const std::vector<double> block = ChainBlock(c.signal, kFrames);
    const ImpedanceDetection d =
        detector.Detect(block.data(), kFrames, c.signal.freq_hz, c.signal.r_ref_ohm);
    ASSERT_EQ(d.refusal, ImpedanceRefusal::None);
    EXPECT_NEAR(std::abs(d.z_ohm) / std::abs(c.signal.z_ohm), 1.0, c.tolerance);
    EXPECT_LT(PhaseErrorDeg(d.z_ohm, c.signal.z_ohm), c.tolerance_deg);
}

ChainSignal Part(double freq_hz, std::complex<double> z, double r_ref, double noise_dbfs = -400,
                 uint32_t seed = 1) {
    ChainSignal s;
    s.freq_hz = freq_hz;
    s.z_ohm = z;
    s.r_ref_ohm = r_ref;
    s.noise_dbfs = noise_dbfs;
    s.seed = seed;
    return s;
}

INSTANTIATE_TEST_SUITE_P(
    IdealParts, ImpedanceParts,
    ::testing::Values(PartCase{"C_1uF", Part(1000, SeriesRlc(1000, 0, 0, 1e-6), 100), 1e-3, 0.05},
                      PartCase{"L_10mH", Part(1000, SeriesRlc(1000, 0, 10e-3, 0), 100), 1e-3, 0.05},
                      PartCase{"R_1k", Part(1000, 1000.0, 1000), 1e-3, 0.05},
                      // Off the bin grid and low: the block holds 10.x periods.
                      PartCase{"C_1uF_at_53Hz", Part(53.7, SeriesRlc(53.7, 0, 0, 1e-6), 3300), 1e-3,
                               0.05}),
    [](const auto& info) { return std::string(info.param.name); });

// -90 dBFS of noise on both channels: the error grows as |Z| leaves R_ref either way.
INSTANTIATE_TEST_SUITE_P(
    RangeWithNoise, ImpedanceParts,
    ::testing::Values(PartCase{"tenth_R", Part(1000, 10.0, 100, -90, 2), 5e-3, 0.3},
                      PartCase{"tenth_C", Part(1000, {0, -10}, 100, -90, 3), 5e-3, 0.3},
                      PartCase{"equal_L", Part(1000, {0, 100}, 100, -90, 4), 5e-3, 0.3},
                      PartCase{"ten_times_R", Part(1000, 1000.0, 100, -90, 5), 5e-3, 0.3},
                      PartCase{"ten_times_C", Part(1000, {300, -950}, 100, -90, 6), 5e-3, 0.3}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(LossyCapacitor, EsrOfALossyCapacitor) {
    const ChainSignal s = Part(1000, SeriesRlc(1000, 0.5, 0, 1e-6), 100);
    CImpedanceDetector detector(kFrames, kRate);
    const std::vector<double> block = ChainBlock(s, kFrames);
    const ImpedanceDetection d = detector.Detect(block.data(), kFrames, 1000, 100);
    ASSERT_EQ(d.refusal, ImpedanceRefusal::None);
    const ImpedanceReadings r = ReadImpedance(d.z_ohm, 1000);
    EXPECT_NEAR(r.r_s_ohm, 0.5, 0.05);
    ASSERT_TRUE(r.c_s_f);
    EXPECT_NEAR(*r.c_s_f, 1e-6, 1e-9);
    EXPECT_EQ(r.kind, ImpedanceKind::C);
}

TEST(ExternalGenerator, FindsTheToneAndReadsZ) {
    ChainSignal s = Part(997.3, SeriesRlc(997.3, 0, 10e-3, 0), 100);
    CImpedanceDetector detector(kFrames, kRate);
    const std::vector<double> block = ChainBlock(s, kFrames);
    const ImpedanceDetection d = detector.DetectExternal(block.data(), 100);
    ASSERT_EQ(d.refusal, ImpedanceRefusal::None);
    EXPECT_NEAR(d.freq_hz, 997.3, 1e-4);
    EXPECT_NEAR(std::abs(d.z_ohm) / std::abs(s.z_ohm), 1.0, 1e-3);
}

struct RefusalCase {
    const char* name;
    ChainSignal signal;
    bool silenceX2;
    bool external;
    ImpedanceRefusal refusal;
};

class ImpedanceRefusals : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(ImpedanceRefusals, SaySo) {
    const RefusalCase& c = GetParam();
    CImpedanceDetector detector(kFrames, kRate);
    std::vector<double> block = ChainBlock(c.signal, kFrames);
    for (int k = 0; c.silenceX2 && k < kFrames; ++k) {
        block[2 * size_t(k) + 1] = 0;
    }
    const ImpedanceDetection d =
        c.external ? detector.DetectExternal(block.data(), c.signal.r_ref_ohm)
                   : detector.Detect(block.data(), kFrames, 1000, c.signal.r_ref_ohm);
    EXPECT_EQ(d.refusal, c.refusal);
    EXPECT_STRNE(ImpedanceRefusalText(d.refusal), "");
}

ChainSignal Loud() {
    ChainSignal s = Part(1000, 100.0, 100);
    s.x1_amplitude = 1.05; // X1's tops flattened at full scale
    return s;
}

ChainSignal NoiseOnly() {
    ChainSignal s = Part(1000, 100.0, 100, -60);
    s.x1_amplitude = 0;
    return s;
}

ChainSignal OtherTone() { // a 997 Hz tone where 1 kHz is expected
    return Part(997, 100.0, 100);
}

INSTANTIATE_TEST_SUITE_P(
    Blocks, ImpedanceRefusals,
    ::testing::Values(
        RefusalCase{"clipped", Loud(), false, false, ImpedanceRefusal::Clipped},
        RefusalCase{"clipped_external", Loud(), false, true, ImpedanceRefusal::Clipped},
        RefusalCase{"x2_silent", Part(1000, 100.0, 100), true, false, ImpedanceRefusal::X2Silent},
        RefusalCase{"no_tone", NoiseOnly(), false, false, ImpedanceRefusal::NoTone},
        RefusalCase{"no_tone_external", NoiseOnly(), false, true, ImpedanceRefusal::NoTone},
        RefusalCase{"wrong_tone", OtherTone(), false, false, ImpedanceRefusal::NoTone},
        RefusalCase{"above_1000_rref", Part(1000, 2e5, 100), false, false,
                    ImpedanceRefusal::OutOfRange},
        RefusalCase{"below_rref_over_1000", Part(1000, 0.05, 100), false, false,
                    ImpedanceRefusal::OutOfRange}),
    [](const auto& info) { return std::string(info.param.name); });

// The corrections against the detector's raw readings, each with the fault it removes planted
// in the synthesised capture.
TEST(ImpedanceCorrection, ShortCalibrationRemovesChannelMismatch) {
    // 0.06 dB and 0.6 degrees on X1 against X2.
    const std::complex<double> mismatch = std::polar(std::pow(10.0, 0.06 / 20), 0.6 / kDegPerRad);
    CImpedanceDetector detector(kFrames, kRate);
    ImpedanceCorrections corrections;
    for (double f : {500.0, 2000.0}) {
        ChainSignal shorted = Part(f, 0.0, 100);
        shorted.x1_gain = mismatch;
        const std::vector<double> block = ChainBlock(shorted, kFrames);
        const ImpedanceDetection d = detector.Detect(block.data(), kFrames, f, 100);
        corrections.match.Set(f, d.v1 / d.v2);
    }
    ChainSignal part = Part(1000, SeriesRlc(1000, 0, 0, 1e-6), 100);
    part.x1_gain = mismatch;
    const std::vector<double> block = ChainBlock(part, kFrames);
    const ImpedanceDetection d = detector.Detect(block.data(), kFrames, 1000, 100);
    // Uncorrected, the mismatch is well outside the tolerance below.
    EXPECT_GT(PhaseErrorDeg(d.z_ohm, part.z_ohm), 0.5);
    const CorrectedImpedance z = corrections.Apply(d.v1, d.v2, 1000, 100);
    EXPECT_EQ(z.match, CalState::Applied);
    EXPECT_NEAR(std::abs(z.z_ohm) / std::abs(part.z_ohm), 1.0, 1e-3);
    EXPECT_LT(PhaseErrorDeg(z.z_ohm, part.z_ohm), 0.05);
    EXPECT_EQ(corrections.Apply(d.v1, d.v2, 4000, 100).match, CalState::Uncalibrated);
}

TEST(ImpedanceCorrection, CardInputImpedanceLoadingRref) {
    const double z_in = 20e3;
    ChainSignal s = Part(1000, 1000.0, 1000);
    s.r_ref_ohm = 1000 * z_in / (1000 + z_in); // what X2's node really has
    CImpedanceDetector detector(kFrames, kRate);
    const std::vector<double> block = ChainBlock(s, kFrames);
    const ImpedanceDetection d = detector.Detect(block.data(), kFrames, 1000, 1000);
    ImpedanceCorrections corrections;
    corrections.input_impedance_ohm = z_in;
    EXPECT_NEAR(std::abs(corrections.Apply(d.v1, d.v2, 1000, 1000).z_ohm), 1000, 1.0);
}

// The resolution is the reading's own scatter: over many noisy readings of one resistor the
// reactance stays inside it, and it is no looser than about the three standard deviations it
// claims (the scatter measured across the readings is the oracle, not the fit's formula). At
// 24 bits with noise far under 16-bit rounding, a floor kept at 16 bits would claim a hundred
// times the scatter.
struct ResolutionCase {
    int bits;
    double noise_dbfs;
};

class ImpedanceResolution : public ::testing::TestWithParam<ResolutionCase> {};

TEST_P(ImpedanceResolution, BoundsTheScatterOfAResistorsReactance) {
    const ResolutionCase c = GetParam();
    CImpedanceDetector detector(kFrames, kRate, c.bits);
    constexpr int kReadings = 40;
    double sumSquares = 0;
    double resolution = 0;
    for (uint32_t seed = 1; seed <= kReadings; ++seed) {
        ChainSignal s = Part(1000, 6.15, 10, c.noise_dbfs, seed);
        s.bits = c.bits;
        const std::vector<double> block = ChainBlock(s, kFrames);
        const ImpedanceDetection d = detector.Detect(block.data(), kFrames, 1000, 10);
        ASSERT_EQ(d.refusal, ImpedanceRefusal::None);
        const CorrectedImpedance z =
            ImpedanceCorrections{}.Apply(d.v1, d.v2, 1000, 10, d.ratio_resolution);
        EXPECT_LT(std::fabs(z.z_ohm.imag()), z.z_resolution_ohm) << seed;
        sumSquares += z.z_ohm.imag() * z.z_ohm.imag();
        resolution += z.z_resolution_ohm / kReadings;
    }
    const double sigma = std::sqrt(sumSquares / kReadings);
    EXPECT_GT(resolution, 2.0 * sigma);
    EXPECT_LT(resolution, 4.5 * sigma);
}

INSTANTIATE_TEST_SUITE_P(Depths, ImpedanceResolution,
                         ::testing::Values(ResolutionCase{16, -80}, ResolutionCase{24, -125}));

// A resistor's reactance below the resolution leaves L, C, Q and D empty instead of printing
// the noise as farads; a capacitor's, far above it, keeps them, and so does a resistor read
// without a resolution (a curve from a file).
struct ReactiveCase {
    const char* name;
    std::complex<double> z_ohm;
    double noise_dbfs;
    bool reactive; // L or C, Q and D shown
};

class ReactiveFields : public ::testing::TestWithParam<ReactiveCase> {};

TEST_P(ReactiveFields, ShownOnlyWhereTheReadingResolvesTheReactance) {
    const ReactiveCase& c = GetParam();
    CImpedanceDetector detector(kFrames, kRate);
    const std::vector<double> block = ChainBlock(Part(1000, c.z_ohm, 10, c.noise_dbfs), kFrames);
    const ImpedanceDetection d = detector.Detect(block.data(), kFrames, 1000, 10);
    ASSERT_EQ(d.refusal, ImpedanceRefusal::None);
    const CorrectedImpedance z =
        ImpedanceCorrections{}.Apply(d.v1, d.v2, 1000, 10, d.ratio_resolution);
    ASSERT_GT(z.z_resolution_ohm, 0);
    const ImpedanceReadings r = ReadImpedance(z.z_ohm, 1000, z.z_resolution_ohm);
    EXPECT_EQ(r.l_s_h || r.c_s_f, c.reactive);
    EXPECT_EQ(r.l_p_h || r.c_p_f, c.reactive);
    EXPECT_EQ(r.d.has_value(), c.reactive);
    EXPECT_EQ(r.q.has_value(), c.reactive);
    EXPECT_NEAR(r.r_s_ohm, c.z_ohm.real(), 1e-3 * std::abs(c.z_ohm));
    // Without a resolution every figure is printed, whatever it is worth.
    const ImpedanceReadings unknown = ReadImpedance(z.z_ohm, 1000);
    EXPECT_TRUE(unknown.d.has_value() || z.z_ohm.imag() == 0);
}

INSTANTIATE_TEST_SUITE_P(Parts, ReactiveFields,
                         ::testing::Values(ReactiveCase{"resistor_6_15_quantised", 6.15, -400,
                                                        false},
                                           ReactiveCase{"resistor_6_15_noisy", 6.15, -90, false},
                                           ReactiveCase{"capacitor_10uF_with_esr",
                                                        SeriesRlc(1000, 0.5, 0, 10e-6), -90, true},
                                           ReactiveCase{"inductor_1mH_with_winding",
                                                        SeriesRlc(1000, 2, 1e-3, 0), -90, true}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
