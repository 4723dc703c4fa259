// Distortion and noise readings against what was planted in the block or measured from its
// samples directly.
#include "analysis/common/a_weighting.h"
#include "analysis/distortion/distortion.h"

#include "tests/analysis/test_signals.h"

#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <random>

namespace {

constexpr int kFrames = 65536;
constexpr double kOnBinHz = 1486 * kRate / kFrames; // 999.94 Hz, a whole number of cycles

DistortionReading Read(CDistortionAnalyser& analyser, const std::vector<double>& x,
                       const DistortionSettings& settings = {}) {
    return analyser.Analyse(x.data(), 1, settings);
}

// IEC 60268-3's example: harmonics 0.1, 0.05, 0.02 of the fundamental give THD_F 0.113578.
// Halved, so the sum stays inside full scale.
TEST(Distortion, ThdOfTheReferenceHarmonicSet) {
    CDistortionAnalyser analyser(kFrames, kRate);
    const auto x = Synthesise(
        kFrames, {{0.5, 1000}, {0.05, 2000, 1.0}, {0.025, 3000, 2.0}, {0.01, 4000, 0.5}});
    const DistortionReading r = Read(analyser, x);
    ASSERT_EQ(r.refusal, DistortionRefusal::None);
    EXPECT_NEAR(*r.thd_pct, 11.3578, 1e-4);
    EXPECT_NEAR(*r.thd_db, Db(0.113578), 1e-4);
    EXPECT_NEAR(*r.harmonics[0].level_pct, 10.0, 1e-6);
    EXPECT_NEAR(*r.harmonics[2].level_db, Db(0.02), 1e-6);
}

struct PlantedCase {
    const char* name;
    int frames;
    double f0_hz;
    bool sixteenBits;
    double rate_hz = kRate;
};

class PlantedHarmonics : public testing::TestWithParam<PlantedCase> {};

// H2 at -60 dB, H3 at -80, H5 at -100 (relative to a -1 dBFS fundamental), on and between bins,
// at the smallest and largest block sizes and as low as the band goes; 16 bits hide -100 dB.
TEST_P(PlantedHarmonics, ReadAtTheirLevels) {
    const PlantedCase& c = GetParam();
    const double a1 = std::pow(10.0, -1.0 / 20);
    auto x = Synthesise(c.frames,
                        {{a1, c.f0_hz, 0.3},
                         {a1 * 1e-3, 2 * c.f0_hz, 1.1},
                         {a1 * 1e-4, 3 * c.f0_hz, -2.0},
                         {a1 * 1e-5, 5 * c.f0_hz, 0.7}},
                        c.rate_hz);
    if (c.sixteenBits) {
        x = Quantise16(x, false);
    }
    CDistortionAnalyser analyser(c.frames, c.rate_hz);
    const DistortionReading r = Read(analyser, x);
    ASSERT_EQ(r.refusal, DistortionRefusal::None);
    EXPECT_NEAR(*r.f0_hz, c.f0_hz, c.sixteenBits ? 1e-4 : 1e-7);
    EXPECT_NEAR(*r.level_dbfs, -1.0, 1e-3);
    EXPECT_NEAR(*r.harmonics[0].level_db, -60, c.sixteenBits ? 0.2 : 0.1);
    EXPECT_NEAR(*r.harmonics[1].level_db, -80, c.sixteenBits ? 1.0 : 0.2);
    if (!c.sixteenBits) {
        EXPECT_NEAR(*r.harmonics[3].level_db, -100, 1.0);
        EXPECT_LT(*r.harmonics[2].level_db, -150) << "H4 was not planted";
        // The residual taken out in closed form holds for every length: nothing but the
        // harmonics in the band.
        if (c.f0_hz > 100 && 5 * c.f0_hz < 20000) {
            EXPECT_NEAR(*r.thdn_db, 10 * std::log10(1e-6 + 1e-8 + 1e-10), 0.01);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Blocks, PlantedHarmonics,
                         testing::Values(PlantedCase{"OnBin", kFrames, kOnBinHz, false},
                                         PlantedCase{"OffBin", kFrames, 997.3, false},
                                         PlantedCase{"OnBin16Bit", kFrames, kOnBinHz, true},
                                         PlantedCase{"OffBin16Bit", kFrames, 997.3, true},
                                         PlantedCase{"Frames8192", 8192, 997.3, false},
                                         PlantedCase{"Frames262144", 262144, 997.3, false},
                                         PlantedCase{"OddFrames8193", 8193, 997.3, false},
                                         PlantedCase{"OddFrames65537", 65537, 4001.7, false},
                                         PlantedCase{"LowestTone262144", 262144, 20.3, false},
                                         PlantedCase{"LowestTone8192", 8192, 20.3, false},
                                         PlantedCase{"HighTone", kFrames, 4001.7, false},
                                         PlantedCase{"Rate48k", kFrames, 997.3, false, 48000.0}),
                         [](const testing::TestParamInfo<PlantedCase>& info) {
                             return info.param.name;
                         });

// Each channel of an interleaved stereo block reads its own tone.
TEST(Distortion, ReadsEachChannelOfAnInterleavedBlock) {
    const auto x1 = Synthesise(kFrames, {{0.5, 997.3}, {0.5e-3, 2 * 997.3}});
    const auto x2 = Synthesise(kFrames, {{0.25, 1499.1}, {0.25e-4, 3 * 1499.1}});
    const auto both = Interleave(x1, x2);
    CDistortionAnalyser analyser(kFrames, kRate);
    const DistortionReading left = analyser.Analyse(both.data(), 2, {});
    const DistortionReading right = analyser.Analyse(both.data() + 1, 2, {});
    ASSERT_EQ(left.refusal, DistortionRefusal::None);
    ASSERT_EQ(right.refusal, DistortionRefusal::None);
    EXPECT_NEAR(*left.f0_hz, 997.3, 1e-6);
    EXPECT_NEAR(*left.harmonics[0].level_db, -60, 1e-3);
    EXPECT_NEAR(*right.f0_hz, 1499.1, 1e-6);
    EXPECT_NEAR(*right.level_dbfs, Db(0.25), 1e-6);
    EXPECT_NEAR(*right.harmonics[1].level_db, -80, 1e-3);
}

struct QuantisedCase {
    const char* name;
    bool dither;
};

class QuantisedTone : public testing::TestWithParam<QuantisedCase> {};

// A 16-bit 997 Hz tone at -1 dBFS: its THD+N is its own quantisation error, measured here sample
// by sample against the ideal sine and split to the band by a plain periodogram.
TEST_P(QuantisedTone, ThdnIsTheQuantisationError) {
    const double a1 = std::pow(10.0, -1.0 / 20);
    const auto ideal = Synthesise(kFrames, {{a1, 997, 0.4}});
    const auto x = Quantise16(ideal, GetParam().dither);
    std::vector<double> error(x.size());
    for (size_t k = 0; k < x.size(); ++k) {
        error[k] = x[k] - ideal[k];
    }
    const double noise = BandMeanSquare(error, 20, 20000);
    const double oracleDb = 10 * std::log10(noise / (0.5 * a1 * a1 + noise));

    CDistortionAnalyser analyser(kFrames, kRate);
    const DistortionReading r = Read(analyser, x);
    ASSERT_EQ(r.refusal, DistortionRefusal::None);
    EXPECT_NEAR(*r.thdn_db, oracleDb, 0.5);
    EXPECT_DOUBLE_EQ(*r.sinad_db, -*r.thdn_db);
    // An ideal 16-bit -1 dBFS tone: 6.02 x 16 + 1.76 - 1 dB, less the 0.43 dB of the band's
    // share of the spectrum; TPDF dither triples the noise power (+4.77 dB).
    const double floorDb = -(6.02 * 16 + 1.76 - 1 + 0.43) + (GetParam().dither ? 4.77 : 0);
    EXPECT_NEAR(*r.thdn_db, floorDb, GetParam().dither ? 0.7 : 0.5);
}

INSTANTIATE_TEST_SUITE_P(Dither, QuantisedTone,
                         testing::Values(QuantisedCase{"Undithered", false},
                                         QuantisedCase{"TpdfDither", true}),
                         [](const testing::TestParamInfo<QuantisedCase>& info) {
                             return info.param.name;
                         });

// White noise of known in-band power beside a harmonic: THD+N counts both, SNR the noise only.
TEST(Distortion, SnrLeavesTheHarmonicsOut) {
    const double a1 = 0.7;
    const double a2 = a1 * std::pow(10.0, -70.0 / 20);
    auto x = Synthesise(kFrames, {{a1, 997.3}, {a2, 2 * 997.3, 0.2}});
    std::mt19937 rng(5);
    std::normal_distribution<double> gauss(0.0, 1e-5);
    std::vector<double> noise(x.size());
    for (size_t k = 0; k < x.size(); ++k) {
        noise[k] = gauss(rng);
        x[k] += noise[k];
    }
    const double noisePower = BandMeanSquare(noise, 20, 20000);
    const double fundamental = 0.5 * a1 * a1;
    const double harmonic = 0.5 * a2 * a2;

    CDistortionAnalyser analyser(kFrames, kRate);
    const DistortionReading r = Read(analyser, x);
    ASSERT_EQ(r.refusal, DistortionRefusal::None);
    EXPECT_NEAR(*r.snr_db, 10 * std::log10(fundamental / noisePower), 0.1);
    EXPECT_NEAR(*r.thdn_db,
                10 * std::log10((harmonic + noisePower) / (fundamental + harmonic + noisePower)),
                0.1);
    EXPECT_NEAR(*r.harmonics[0].level_db, -70, 0.05);
}

// A residual of one 10 kHz line: A-weighting lowers THD+N by the weighting's gain there, and the
// residual spectrum shows the line at its level on a tone's scale.
TEST(Distortion, AWeightingWeighsTheResidual) {
    const double a1 = 0.5;
    const auto x = Synthesise(kFrames, {{a1, kOnBinHz}, {a1 * 1e-3, 10 * kOnBinHz, 0.3}});
    CDistortionAnalyser analyser(kFrames, kRate);
    ASSERT_TRUE(analyser.ResidualSpectrumDbfs().empty());

    const DistortionReading flat = Read(analyser, x);
    ASSERT_EQ(flat.refusal, DistortionRefusal::None);
    const std::vector<double> flatSpectrum = analyser.ResidualSpectrumDbfs();
    ASSERT_EQ(flatSpectrum.size(), size_t(kFrames / 2 + 1));
    EXPECT_NEAR(flatSpectrum[14860], Db(a1 * 1e-3), 0.01) << "H10 on its bin";
    EXPECT_LT(flatSpectrum[1486], -150) << "the fundamental is taken out";

    DistortionSettings weightedSettings;
    weightedSettings.weighting = Weighting::A;
    const DistortionReading weighted = Read(analyser, x, weightedSettings);
    ASSERT_EQ(weighted.refusal, DistortionRefusal::None);
    const double gainDb = AWeightingDb(10 * kOnBinHz);
    EXPECT_NEAR(*weighted.thdn_db - *flat.thdn_db, gainDb, 0.01);
    EXPECT_NEAR(analyser.ResidualSpectrumDbfs()[14860], flatSpectrum[14860] + gainDb, 0.01);
    EXPECT_NEAR(*weighted.thd_db, *flat.thd_db, 1e-9) << "harmonics are not weighted";
}

struct NyquistCase {
    double f0_hz;
    int harmonicsBelowNyquist;
};

class HarmonicsNearNyquist : public testing::TestWithParam<NyquistCase> {};

// Harmonics at or above Nyquist are not in the capture: left out, never aliased or infinite.
TEST_P(HarmonicsNearNyquist, OnlyThoseBelowAreRead) {
    const NyquistCase& c = GetParam();
    std::vector<Partial> partials = {{0.5, c.f0_hz}};
    for (int n = 2; n <= 1 + c.harmonicsBelowNyquist; ++n) {
        partials.push_back({0.5e-3, n * c.f0_hz, 0.1 * n});
    }
    CDistortionAnalyser analyser(kFrames, kRate);
    const DistortionReading r = Read(analyser, Synthesise(kFrames, partials));
    ASSERT_EQ(r.refusal, DistortionRefusal::None);
    for (const HarmonicReading& h : r.harmonics) {
        EXPECT_NEAR(h.freq_hz, h.order * c.f0_hz, 1e-3);
        const bool below = h.order <= 1 + c.harmonicsBelowNyquist;
        EXPECT_EQ(h.level_db.has_value(), below) << "H" << h.order;
        EXPECT_EQ(h.level_pct.has_value(), below) << "H" << h.order;
        if (below) {
            EXPECT_NEAR(*h.level_db, -60, 0.01) << "H" << h.order;
        }
    }
    EXPECT_EQ(r.thd_db.has_value(), c.harmonicsBelowNyquist > 0);
    if (r.thd_db) {
        EXPECT_NEAR(*r.thd_pct, 0.1 * std::sqrt(c.harmonicsBelowNyquist), 1e-4);
    }
    EXPECT_TRUE(std::isfinite(*r.thdn_db));
    EXPECT_TRUE(std::isfinite(*r.snr_db));
}

INSTANTIATE_TEST_SUITE_P(Tones, HarmonicsNearNyquist,
                         testing::Values(NyquistCase{8000, 1}, NyquistCase{4000, 4},
                                         NyquistCase{2100, 9}, NyquistCase{11100, 0}));

struct AWeightingCase {
    double nominal_hz;
    int band;        // the table's frequencies are exactly 1 kHz x 10^(band / 10)
    double table_db; // IEC 61672-1, Table 3
};

class AWeightingTable : public testing::TestWithParam<AWeightingCase> {};

TEST_P(AWeightingTable, MatchesTheStandardsTable) {
    const double exactHz = 1000 * std::pow(10.0, GetParam().band / 10.0);
    EXPECT_NEAR(exactHz, GetParam().nominal_hz, 0.02 * exactHz);
    EXPECT_NEAR(AWeightingDb(exactHz), GetParam().table_db, 0.1);
}

INSTANTIATE_TEST_SUITE_P(Frequencies, AWeightingTable,
                         testing::Values(AWeightingCase{31.5, -15, -39.4},
                                         AWeightingCase{100, -10, -19.1},
                                         AWeightingCase{1000, 0, 0.0}, AWeightingCase{4000, 6, 1.0},
                                         AWeightingCase{10000, 10, -2.5},
                                         AWeightingCase{16000, 12, -6.6}));

TEST(AWeighting, IsZeroAtOneKilohertzAndNothingAtDc) {
    EXPECT_NEAR(AWeightingDb(1000), 0.0, 1e-12);
    EXPECT_TRUE(std::isinf(AWeightingDb(0)) && AWeightingDb(0) < 0);
}

} // namespace

namespace {

// A 100 Hz tone of amplitude 0.5 with H2, H3 and a strong H5 (the strongest line of a
// 400 Hz - 20 kHz band): THD_F = sqrt(0.02^2 + 0.01^2 + 0.05^2) / 0.5, and in that band only H5
// is residual: THD+N = sqrt(0.05^2 / (0.5^2 + 0.05^2)).
struct FundamentalCase {
    const char* name;
    std::optional<double> played_hz;
    DistortionRefusal refusal;
};

class FundamentalBelowTheBand : public testing::TestWithParam<FundamentalCase> {};

TEST_P(FundamentalBelowTheBand, IsTheToneNeverItsHarmonic) {
    const FundamentalCase& c = GetParam();
    const auto x =
        Synthesise(kFrames, {{0.5, 100.0}, {0.02, 200.0, 0.4}, {0.01, 300.0}, {0.05, 500.0, 1.0}});
    CDistortionAnalyser analyser(kFrames, kRate);
    DistortionSettings settings;
    settings.band_lo_hz = 400;
    settings.tone_hz = c.played_hz;
    const DistortionReading r = Read(analyser, x, settings);
    ASSERT_EQ(r.refusal, c.refusal);
    if (c.refusal != DistortionRefusal::None) {
        EXPECT_FALSE(r.f0_hz.has_value());
        EXPECT_FALSE(r.thd_pct.has_value());
        return;
    }
    EXPECT_NEAR(*r.f0_hz, 100.0, 1e-6);
    EXPECT_NEAR(*r.level_dbfs, Db(0.5), 1e-6);
    EXPECT_NEAR(*r.thd_pct, 100 * std::sqrt(0.02 * 0.02 + 0.01 * 0.01 + 0.05 * 0.05) / 0.5, 1e-5);
    EXPECT_NEAR(*r.harmonics[3].level_db, Db(0.1), 1e-5);
    EXPECT_NEAR(*r.thdn_pct, 100 * std::sqrt(0.05 * 0.05 / (0.5 * 0.5 + 0.05 * 0.05)), 1e-4);
}

INSTANTIATE_TEST_SUITE_P(
    Tones, FundamentalBelowTheBand,
    testing::Values(FundamentalCase{"Foreign", std::nullopt, DistortionRefusal::None},
                    FundamentalCase{"Played", 100.0, DistortionRefusal::None},
                    FundamentalCase{"PlayedSlightlyOff", 100.8, DistortionRefusal::None},
                    FundamentalCase{"PlayedButAbsent", 1000.0, DistortionRefusal::ToneMissing}),
    [](const testing::TestParamInfo<FundamentalCase>& info) { return info.param.name; });

// Unplayed, the fundamental is the strongest tone unless a tone at 1/n of it stands within 20 dB:
// then that is the fundamental and the strongest its harmonic. Hum 40 dB down is not. (A
// harmonic above its fundamental leaves more residual than fundamental: the block is refused as
// no signal to measure against, but it names its fundamental.)
struct SeriesCase {
    const char* name;
    std::vector<Partial> partials;
    double f0_hz;
};

class FundamentalOfASeries : public testing::TestWithParam<SeriesCase> {};

TEST_P(FundamentalOfASeries, IsItsLowestStrongTone) {
    CDistortionAnalyser analyser(kFrames, kRate);
    const auto x = Synthesise(kFrames, GetParam().partials);
    const DistortionReading r = Read(analyser, x);
    ASSERT_TRUE(r.f0_hz.has_value());
    EXPECT_NEAR(*r.f0_hz, GetParam().f0_hz, 1e-6);
}

INSTANTIATE_TEST_SUITE_P(
    Tones, FundamentalOfASeries,
    testing::Values(SeriesCase{"H2StrongerThanTheTone", {{0.1, 100.0}, {0.4, 200.0, 0.5}}, 100.0},
                    SeriesCase{"H3TenDbAbove", {{0.1, 300.3}, {0.316, 900.9, 1.0}}, 300.3},
                    SeriesCase{"HumFortyDbDown", {{0.5, 1000.0}, {0.005, 100.0}}, 1000.0}),
    [](const testing::TestParamInfo<SeriesCase>& info) { return info.param.name; });

} // namespace
