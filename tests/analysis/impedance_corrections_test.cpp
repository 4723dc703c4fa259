// The leads' open/short compensation against a network with known leads, the calibration
// tables' interpolation, the LCR readings against parts built in closed form, and the stored
// corrections' file.
#include "analysis/calibration/impedance_calibration.h"
#include "analysis/impedance/impedance_corrections.h"
#include "analysis/impedance/impedance_detector.h"
#include "analysis/impedance/impedance_readings.h"

#include "tests/analysis/impedance_signals.h"
#include "tests/analysis/test_signals.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <stdlib.h>

namespace {

// Leads with series Z_s (resistance and inductance) and a stray capacitance C_p across the
// part's terminals: Z_m = Z_s + (Z || Z_p); open reads Z_s + Z_p, short reads Z_s.
struct LeadsCase {
    const char* name;
    double freq_hz;
    std::complex<double> z_ohm;
};

class LeadsCompensation : public ::testing::TestWithParam<LeadsCase> {};

TEST_P(LeadsCompensation, OpenShortCompensationRecoversThePart) {
    const LeadsCase& c = GetParam();
    const std::complex<double> z_s = SeriesRlc(c.freq_hz, 0.2, 1e-6, 0);
    const std::complex<double> z_p = SeriesRlc(c.freq_hz, 0, 0, 50e-12);
    const std::complex<double> z_m = z_s + Parallel(c.z_ohm, z_p);
    ImpedanceCorrections corrections;
    corrections.open.Set(c.freq_hz, z_s + z_p);
    corrections.shorted.Set(c.freq_hz, z_s);
    // V1/V2 for a reading of z_m against 100 ohms.
    const CorrectedImpedance got = corrections.Apply(z_m + 100.0, 100.0, c.freq_hz, 100);
    EXPECT_EQ(got.leads, CalState::Applied);
    ASSERT_GT(std::abs(z_m / c.z_ohm - 1.0), 1e-3); // the leads matter here
    EXPECT_NEAR(std::abs(got.z_ohm / c.z_ohm - 1.0), 0, 1e-5);
}

INSTANTIATE_TEST_SUITE_P(
    Parts, LeadsCompensation,
    ::testing::Values(LeadsCase{"low_R_at_20kHz", 20000, 1.0},
                      LeadsCase{"small_L_at_10kHz", 10000, SeriesRlc(10000, 0, 2e-6, 0)},
                      LeadsCase{"high_R_at_20kHz", 20000, 1e5},
                      LeadsCase{"small_C_at_1kHz", 1000, SeriesRlc(1000, 0, 0, 1e-9)}),
    [](const auto& info) { return std::string(info.param.name); });

// One leg of the compensation alone, each read through the card (16-bit blocks of the chain) from
// a known network: the leads' 0.1 ohm + 1 uH before a 2 ohm part with the short alone, and a
// 100 kohm part behind 50 pF of stray capacitance with the open alone (its leads' series part
// negligible there). The part's own impedance is the oracle; the raw reading misses it by far
// more than the tolerance.
struct OneLegCase {
    const char* name;
    ImpedanceCalKind kind;
    double freq_hz;
    std::complex<double> z_part;
    double r_ref_ohm;
    double tolerance; // relative, of Z
};

class OneLegCompensation : public ::testing::TestWithParam<OneLegCase> {};

TEST_P(OneLegCompensation, CorrectsThePartByItself) {
    const OneLegCase& c = GetParam();
    const std::complex<double> z_leads = SeriesRlc(c.freq_hz, 0.1, 1e-6, 0);
    const std::complex<double> z_stray = SeriesRlc(c.freq_hz, 0, 0, 50e-12);
    const bool shortLeg = c.kind == ImpedanceCalKind::Short;
    // What the card sees with the part, and with the fixture shorted or open.
    const std::complex<double> z_measured =
        shortLeg ? z_leads + c.z_part : Parallel(c.z_part, z_stray);
    const std::complex<double> z_fixture = shortLeg ? z_leads : z_stray;
    constexpr int kFrames = 8820;
    CImpedanceDetector detector(kFrames, kRate);
    const auto read = [&](std::complex<double> z) {
        ChainSignal s;
        s.freq_hz = c.freq_hz;
        s.z_ohm = z;
        s.r_ref_ohm = c.r_ref_ohm;
        s.noise_dbfs = -100;
        const std::vector<double> block = ChainBlock(s, kFrames);
        return detector.Detect(block.data(), kFrames, c.freq_hz, c.r_ref_ohm);
    };
    ImpedanceCorrections corrections;
    const ImpedanceDetection fixture = read(z_fixture);
    ASSERT_NE(fixture.refusal, ImpedanceRefusal::X2Silent);
    SetCalPoint(corrections, c.kind, c.freq_hz, fixture.v1, fixture.v2, c.r_ref_ohm);
    ASSERT_TRUE(corrections.open.Empty() == shortLeg && corrections.shorted.Empty() == !shortLeg);
    const ImpedanceDetection part = read(z_measured);
    ASSERT_EQ(part.refusal, ImpedanceRefusal::None);
    const CorrectedImpedance got = corrections.Apply(part.v1, part.v2, c.freq_hz, c.r_ref_ohm);
    EXPECT_EQ(got.leads, CalState::Applied);
    ASSERT_GT(std::abs(part.z_ohm / c.z_part - 1.0), 5 * c.tolerance); // the leads matter here
    EXPECT_NEAR(std::abs(got.z_ohm / c.z_part - 1.0), 0, c.tolerance);
    // A frequency the stored leg does not reach is not compensated, and says so.
    const CorrectedImpedance outside =
        corrections.Apply(part.v1, part.v2, 2 * c.freq_hz, c.r_ref_ohm);
    EXPECT_EQ(outside.leads, CalState::Uncalibrated);
}

INSTANTIATE_TEST_SUITE_P(
    Parts, OneLegCompensation,
    ::testing::Values(
        OneLegCase{"short_alone_2_ohm", ImpedanceCalKind::Short, 1000, 2.0, 10, 0.005},
        OneLegCase{"short_alone_2_ohm_at_20kHz", ImpedanceCalKind::Short, 20000, 2.0, 10, 0.005},
        OneLegCase{"open_alone_100_kohm_at_20kHz", ImpedanceCalKind::Open, 20000, 1e5, 1e4, 0.005}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CalTable, InterpolatesInLogFAndNeverExtrapolates) {
    CImpedanceCalTable table;
    table.Set(1000, {1.0, 0.0});
    table.Set(100, {2.0, 1.0});
    ASSERT_TRUE(table.At(316.2277660168379));
    // sqrt(100 x 1000) is halfway in log f.
    EXPECT_NEAR(std::abs(*table.At(316.2277660168379) - std::complex<double>(1.5, 0.5)), 0, 1e-12);
    EXPECT_TRUE(table.At(100));
    EXPECT_TRUE(table.At(1000));
    EXPECT_FALSE(table.At(99.9));
    EXPECT_FALSE(table.At(1000.1));
    table.Set(1000 * (1 + 1e-9), {3.0, 0.0}); // the same frequency again replaces it
    EXPECT_EQ(table.Points().size(), 2u);
    EXPECT_EQ(table.At(1000)->real(), 3.0);
}

struct ReadingCase {
    const char* name;
    std::complex<double> z_ohm;
    ImpedanceKind kind;
    std::optional<double> l_s_h, c_s_f, r_p_ohm, l_p_h, c_p_f, q;
};

class LcrReadings : public ::testing::TestWithParam<ReadingCase> {};

void ExpectRel(const std::optional<double>& got, const std::optional<double>& want,
               const char* what) {
    ASSERT_EQ(got.has_value(), want.has_value()) << what;
    if (want) {
        EXPECT_NEAR(*got, *want, 1e-9 * std::fabs(*want) + 1e-15) << what;
    }
}

TEST_P(LcrReadings, SeriesAndParallelModels) {
    const ReadingCase& c = GetParam();
    const ImpedanceReadings r = ReadImpedance(c.z_ohm, 1000);
    EXPECT_EQ(r.kind, c.kind);
    ExpectRel(r.l_s_h, c.l_s_h, "L_s");
    ExpectRel(r.c_s_f, c.c_s_f, "C_s");
    ExpectRel(r.r_p_ohm, c.r_p_ohm, "R_p");
    ExpectRel(r.l_p_h, c.l_p_h, "L_p");
    ExpectRel(r.c_p_f, c.c_p_f, "C_p");
    ExpectRel(r.q, c.q, "Q");
    if (r.q && r.d && *r.q > 0) {
        EXPECT_NEAR(*r.q * *r.d, 1.0, 1e-12);
    }
}

// At 1 kHz: w = 6283.19 rad/s.
INSTANTIATE_TEST_SUITE_P(
    Parts, LcrReadings,
    ::testing::Values(
        // 1 ohm + 1 mH in series: Q = wL/R.
        ReadingCase{"series_RL", SeriesRlc(1000, 1, 1e-3, 0), ImpedanceKind::L, 1e-3, std::nullopt,
                    1 + std::pow(2 * kPi * 1000 * 1e-3, 2),
                    (1 + std::pow(2 * kPi * 1000 * 1e-3, 2)) / (std::pow(2 * kPi * 1000, 2) * 1e-3),
                    std::nullopt, 2 * kPi * 1000 * 1e-3},
        // 10 kohm || 10 nF: the parallel model gives both back.
        ReadingCase{"parallel_RC", Parallel(1e4, SeriesRlc(1000, 0, 0, 10e-9)), ImpedanceKind::C,
                    std::nullopt, 10e-9 * (1 + 1 / std::pow(2 * kPi * 1000 * 1e4 * 10e-9, 2)), 1e4,
                    std::nullopt, 10e-9, 2 * kPi * 1000 * 1e4 * 10e-9},
        ReadingCase{"pure_R", 50.0, ImpedanceKind::R, std::nullopt, std::nullopt, 50.0,
                    std::nullopt, std::nullopt, 0.0},
        // 9.9 degrees reads as a resistor, 10.1 as an inductor.
        ReadingCase{"R_at_9.9deg", std::polar(1.0, 9.9 * kPi / 180), ImpedanceKind::R,
                    std::sin(9.9 * kPi / 180) / (2 * kPi * 1000), std::nullopt,
                    1 / std::cos(9.9 * kPi / 180), 1 / (std::sin(9.9 * kPi / 180) * 2 * kPi * 1000),
                    std::nullopt, std::tan(9.9 * kPi / 180)},
        ReadingCase{"L_at_10.1deg", std::polar(1.0, 10.1 * kPi / 180), ImpedanceKind::L,
                    std::sin(10.1 * kPi / 180) / (2 * kPi * 1000), std::nullopt,
                    1 / std::cos(10.1 * kPi / 180),
                    1 / (std::sin(10.1 * kPi / 180) * 2 * kPi * 1000), std::nullopt,
                    std::tan(10.1 * kPi / 180)}),
    [](const auto& info) {
        std::string name = info.param.name;
        std::replace(name.begin(), name.end(), '.', '_');
        return name;
    });

std::string TempFolder() {
    std::string folder = ::testing::TempDir() + "tavrin_impedance_XXXXXX";
    EXPECT_NE(mkdtemp(folder.data()), nullptr);
    return folder;
}

TEST(ImpedanceStore, SavedCorrectionsReadBackPerCard) {
    const std::string path = TempFolder() + "/sub/impedance_calibration.json";
    ImpedanceCorrections a;
    a.input_impedance_ohm = 47e3;
    a.match.Set(100, {1.0069, 0.0105});
    a.match.Set(1000, {1.0071, 0.0104});
    a.open.Set(1000, {12.5, -3.1e6});
    a.shorted.Set(1000, {0.21, 0.0063});
    CImpedanceCalibrationStore store;
    store.Set("hw:CARD=One", a);
    store.Set("hw:CARD=Two", ImpedanceCorrections{});
    std::string error;
    ASSERT_TRUE(store.Save(path, &error)) << error;

    CImpedanceCalibrationStore loaded;
    std::string message;
    ASSERT_TRUE(loaded.Load(path, &message)) << message;
    const ImpedanceCorrections* one = loaded.Find("hw:CARD=One");
    ASSERT_NE(one, nullptr);
    EXPECT_EQ(one->input_impedance_ohm, 47e3);
    EXPECT_EQ(*one->match.At(100), std::complex<double>(1.0069, 0.0105));
    EXPECT_EQ(*one->open.At(1000), std::complex<double>(12.5, -3.1e6));
    EXPECT_EQ(*one->shorted.At(1000), std::complex<double>(0.21, 0.0063));
    ASSERT_NE(loaded.Find("hw:CARD=Two"), nullptr);
    EXPECT_FALSE(loaded.Find("hw:CARD=Two")->input_impedance_ohm);
    EXPECT_EQ(loaded.Find("hw:CARD=Three"), nullptr);
}

TEST(ImpedanceStore, DamagedCardSkippedOthersApply) {
    const std::string path = TempFolder() + "/impedance_calibration.json";
    std::ofstream(path) << R"({"version":1,"cards":[
        {"device":"good","match":[[1000,1.0,0.0]],"input_impedance_ohm":null},
        {"device":"bad","match":[[-5,1.0,0.0]]}]})";
    CImpedanceCalibrationStore store;
    std::string message;
    EXPECT_FALSE(store.Load(path, &message));
    EXPECT_NE(message.find("skipped"), std::string::npos);
    EXPECT_NE(store.Find("good"), nullptr);
    EXPECT_EQ(store.Find("bad"), nullptr);
}

} // namespace
