// Two-tone intermodulation against products planted at known levels.
#include "analysis/distortion/distortion.h"

#include "tests/analysis/test_signals.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

struct ImdCase {
    const char* name;
    ImdKind kind;
    int frames;
    double f1_hz;
    double f2_hz;
    bool sixteenBits;
};

// Products relative to the reference amplitude (the 7 kHz tone, or the sum of both tones):
// SMPTE f2 - f1, f2 + f1, f2 - 2f1, f2 + 2f1, f2 - 3f1, f2 + 3f1; CCIF f2 - f1, 2f1 - f2, 2f2 - f1.
constexpr double kSmpteProductsDb[] = {-50, -52, -60, -61, -70, -72};
constexpr double kCcifProductsDb[] = {-70, -80, -83};

double ExpectedDb(const double* productsDb, int count) {
    double sum = 0;
    for (int i = 0; i < count; ++i) {
        sum += std::pow(10.0, productsDb[i] / 10);
    }
    return 10 * std::log10(sum);
}

class Intermodulation : public testing::TestWithParam<ImdCase> {};

TEST_P(Intermodulation, ReadsThePlantedProducts) {
    const ImdCase& c = GetParam();
    const double f1 = c.f1_hz;
    const double f2 = c.f2_hz;
    std::vector<Partial> partials;
    double expectedDb = 0;
    if (c.kind == ImdKind::Smpte) {
        const double a2 = 0.18;
        partials = {{4 * a2, f1, 0.2}, {a2, f2, 1.3}};
        const double hz[] = {f2 - f1, f2 + f1, f2 - 2 * f1, f2 + 2 * f1, f2 - 3 * f1, f2 + 3 * f1};
        for (int i = 0; i < 6; ++i) {
            partials.push_back({a2 * std::pow(10.0, kSmpteProductsDb[i] / 20), hz[i], 0.5 * i});
        }
        expectedDb = ExpectedDb(kSmpteProductsDb, 6);
    } else {
        const double a = 0.4;
        partials = {{a, f1, 0.2}, {a, f2, 2.9}};
        const double hz[] = {f2 - f1, 2 * f1 - f2, 2 * f2 - f1};
        for (int i = 0; i < 3; ++i) {
            partials.push_back({2 * a * std::pow(10.0, kCcifProductsDb[i] / 20), hz[i], -0.7 * i});
        }
        expectedDb = ExpectedDb(kCcifProductsDb, 3);
    }
    auto x = Synthesise(c.frames, partials);
    if (c.sixteenBits) {
        x = Quantise16(x, false);
    }
    CDistortionAnalyser analyser(c.frames, kRate);
    const ImdReading r = analyser.AnalyseImd(x.data(), 1, c.kind);
    ASSERT_EQ(r.refusal, DistortionRefusal::None);
    // 16 bits within 0.2 dB; in double precision the fit has nothing to blur.
    EXPECT_NEAR(*r.imd_db, expectedDb, c.sixteenBits ? 0.2 : 0.01);
    EXPECT_NEAR(*r.imd_pct, 100 * std::pow(10.0, expectedDb / 20), 0.03 * *r.imd_pct);
}

INSTANTIATE_TEST_SUITE_P(
    Tones, Intermodulation,
    testing::Values(ImdCase{"SmpteNominal", ImdKind::Smpte, 65536, 60, 7000, false},
                    ImdCase{"SmpteOffNominal", ImdKind::Smpte, 65536, 60.07, 7003.1, false},
                    ImdCase{"Smpte16Bit", ImdKind::Smpte, 65536, 60, 7000, true},
                    ImdCase{"Smpte8192", ImdKind::Smpte, 8192, 59.9, 6998.2, false},
                    ImdCase{"CcifNominal", ImdKind::Ccif, 65536, 19000, 20000, false},
                    ImdCase{"CcifOffNominal", ImdKind::Ccif, 65536, 19012.5, 20013.0, true},
                    ImdCase{"Ccif8192", ImdKind::Ccif, 8192, 19012.5, 20013.0, false}),
    [](const testing::TestParamInfo<ImdCase>& info) { return info.param.name; });

TEST(Intermodulation, OneToneMissingIsNoSignal) {
    const auto x = Synthesise(65536, {{0.2, 7000}});
    CDistortionAnalyser analyser(65536, kRate);
    EXPECT_EQ(analyser.AnalyseImd(x.data(), 1, ImdKind::Smpte).refusal,
              DistortionRefusal::NoSignal);
}

TEST(Intermodulation, ClippedTonesAreRefused) {
    const auto x = Quantise16(Synthesise(65536, {{1.0, 19000}, {1.0, 20000}}), false);
    CDistortionAnalyser analyser(65536, kRate);
    EXPECT_EQ(analyser.AnalyseImd(x.data(), 1, ImdKind::Ccif).refusal, DistortionRefusal::Clipped);
}

} // namespace
