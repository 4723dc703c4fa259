// Blocks that give no figures, and why; a refused block still says what tone it saw.
#include "analysis/distortion/distortion.h"

#include "tests/analysis/test_signals.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <optional>
#include <random>
#include <stdexcept>

namespace {

constexpr int kFrames = 65536;

struct RefusalCase {
    const char* name;
    std::vector<double> (*make)();
    DistortionRefusal refusal;
    std::optional<bool> toneSeen; // f0 and level reported; nothing: either will do
};

std::vector<double> Silence() {
    return std::vector<double>(kFrames, 0.0);
}

std::vector<double> NoiseAlone() {
    std::mt19937 rng(11);
    std::normal_distribution<double> gauss(0.0, 1e-3);
    std::vector<double> x(kFrames);
    for (double& v : x) {
        v = gauss(rng);
    }
    return x;
}

std::vector<double> ToneAt110Dbfs() {
    return Synthesise(kFrames, {{std::pow(10.0, -110.0 / 20), 1000}});
}

// A sine 3.5 dB over full scale, held at the int16 range as a card's converter would.
std::vector<double> ClippedSine() {
    return Quantise16(Synthesise(kFrames, {{1.5, 1000}}), false);
}

// Peaks that reach full scale at single samples are a full-scale tone, not a clipped one.
std::vector<double> FullScaleSine() {
    return Quantise16(Synthesise(kFrames, {{1.0, 997}}), false);
}

std::vector<double> ToneStartingMidBlock() {
    auto x = Synthesise(kFrames, {{0.5, 1000}});
    std::fill(x.begin(), x.begin() + kFrames * 3 / 8, 0.0);
    return x;
}

// The level falls 2 dB, then 0.5 dB, halfway through: only the first is unsteady.
std::vector<double> StepOf(double db) {
    auto x = Synthesise(kFrames, {{0.5, 1000}});
    for (size_t k = kFrames / 2; k < x.size(); ++k) {
        x[k] *= std::pow(10.0, -db / 20);
    }
    return x;
}

std::vector<double> Falls2Db() {
    return StepOf(2.0);
}

std::vector<double> Falls05Db() {
    return StepOf(0.5);
}

class Refusals : public testing::TestWithParam<RefusalCase> {};

TEST_P(Refusals, GiveTheReasonAndNoFigures) {
    const RefusalCase& c = GetParam();
    const auto x = c.make();
    CDistortionAnalyser analyser(kFrames, kRate);
    const auto clean = Synthesise(kFrames, {{0.5, 997.3}});
    ASSERT_EQ(analyser.Analyse(clean.data(), 1, {}).refusal, DistortionRefusal::None);
    ASSERT_FALSE(analyser.ResidualSpectrumDbfs().empty());
    const DistortionReading r = analyser.Analyse(x.data(), 1, {});
    EXPECT_EQ(r.refusal, c.refusal);
    if (c.toneSeen) {
        EXPECT_EQ(r.f0_hz.has_value(), *c.toneSeen);
    }
    EXPECT_EQ(r.level_dbfs.has_value(), r.f0_hz.has_value());
    const bool figures = c.refusal == DistortionRefusal::None;
    EXPECT_EQ(r.thdn_db.has_value(), figures);
    EXPECT_EQ(r.thd_db.has_value(), figures);
    EXPECT_EQ(r.snr_db.has_value(), figures);
    EXPECT_EQ(r.harmonics[0].level_db.has_value(), figures);
    EXPECT_EQ(analyser.ResidualSpectrumDbfs().empty(), !figures) << "no spectrum left over";
}

INSTANTIATE_TEST_SUITE_P(
    Blocks, Refusals,
    testing::Values(RefusalCase{"Silence", Silence, DistortionRefusal::NoSignal, false},
                    RefusalCase{"NoiseAlone", NoiseAlone, DistortionRefusal::NoSignal,
                                std::nullopt},
                    RefusalCase{"ToneAt110Dbfs", ToneAt110Dbfs, DistortionRefusal::NoSignal, true},
                    RefusalCase{"ClippedSine", ClippedSine, DistortionRefusal::Clipped, true},
                    RefusalCase{"FullScaleSine", FullScaleSine, DistortionRefusal::None, true},
                    RefusalCase{"ToneStartingMidBlock", ToneStartingMidBlock,
                                DistortionRefusal::Unsteady, true},
                    RefusalCase{"LevelFalls2Db", Falls2Db, DistortionRefusal::Unsteady, true},
                    RefusalCase{"LevelFalls05Db", Falls05Db, DistortionRefusal::None, true}),
    [](const testing::TestParamInfo<RefusalCase>& info) { return info.param.name; });

TEST(Refusals, ARefusedBlockStillNamesItsTone) {
    const auto x = ClippedSine();
    CDistortionAnalyser analyser(kFrames, kRate);
    const DistortionReading r = analyser.Analyse(x.data(), 1, {});
    ASSERT_EQ(r.refusal, DistortionRefusal::Clipped);
    EXPECT_NEAR(*r.f0_hz, 1000, 0.01);
    EXPECT_NEAR(r.harmonics[1].freq_hz, 3000, 0.03);
}

TEST(Refusals, AnEmptyBandMeasuresNothing) {
    const auto x = Synthesise(kFrames, {{0.5, 1000}});
    CDistortionAnalyser analyser(kFrames, kRate);
    DistortionSettings settings;
    settings.band_lo_hz = 5000;
    settings.band_hi_hz = 4000;
    EXPECT_EQ(analyser.Analyse(x.data(), 1, settings).refusal, DistortionRefusal::NoSignal);
}

TEST(Refusals, BlockSizesOutsideTheRangeAreRejected) {
    EXPECT_THROW(CDistortionAnalyser(4096, kRate), std::invalid_argument);
    EXPECT_THROW(CDistortionAnalyser(524288, kRate), std::invalid_argument);
    EXPECT_THROW(CDistortionAnalyser(kFrames, 0), std::invalid_argument);
}

} // namespace
