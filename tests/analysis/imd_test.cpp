// Two-tone intermodulation against products planted at known levels.
#include "analysis/distortion/distortion.h"

#include "tests/analysis/test_signals.h"

#include <gtest/gtest.h>

#include <algorithm>
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

double Amplitude(double db) {
    return std::pow(10.0, db / 20);
}

// The standards' sums of the planted amplitudes. SMPTE: each order's pair added, then the RMS over
// the orders. CCIF: d2 alone, d3 the two third-order products added.
struct Expected {
    double total, d2, d3;
};

Expected ExpectedOf(ImdKind kind) {
    const double* p = kind == ImdKind::Smpte ? kSmpteProductsDb : kCcifProductsDb;
    if (kind == ImdKind::Smpte) {
        const double d[3] = {Amplitude(p[0]) + Amplitude(p[1]), Amplitude(p[2]) + Amplitude(p[3]),
                             Amplitude(p[4]) + Amplitude(p[5])};
        return {std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]), d[0], d[1]};
    }
    const double d2 = Amplitude(p[0]);
    const double d3 = Amplitude(p[1]) + Amplitude(p[2]);
    return {std::sqrt(d2 * d2 + d3 * d3), d2, d3};
}

class Intermodulation : public testing::TestWithParam<ImdCase> {};

TEST_P(Intermodulation, ReadsThePlantedProducts) {
    const ImdCase& c = GetParam();
    const double f1 = c.f1_hz;
    const double f2 = c.f2_hz;
    std::vector<Partial> partials;
    if (c.kind == ImdKind::Smpte) {
        const double a2 = 0.18;
        partials = {{4 * a2, f1, 0.2}, {a2, f2, 1.3}};
        const double hz[] = {f2 - f1, f2 + f1, f2 - 2 * f1, f2 + 2 * f1, f2 - 3 * f1, f2 + 3 * f1};
        for (int i = 0; i < 6; ++i) {
            partials.push_back({a2 * std::pow(10.0, kSmpteProductsDb[i] / 20), hz[i], 0.5 * i});
        }

    } else {
        const double a = 0.4;
        partials = {{a, f1, 0.2}, {a, f2, 2.9}};
        const double hz[] = {f2 - f1, 2 * f1 - f2, 2 * f2 - f1};
        for (int i = 0; i < 3; ++i) {
            partials.push_back({2 * a * std::pow(10.0, kCcifProductsDb[i] / 20), hz[i], -0.7 * i});
        }
    }
    auto x = Synthesise(c.frames, partials);
    if (c.sixteenBits) {
        x = Quantise16(x, false);
    }
    CDistortionAnalyser analyser(c.frames, kRate);
    const ImdReading r = analyser.AnalyseImd(x.data(), 1, c.kind);
    ASSERT_EQ(r.refusal, DistortionRefusal::None);
    const Expected expected = ExpectedOf(c.kind);
    // 16 bits within 0.2 dB; in double precision the fit has nothing to blur.
    EXPECT_NEAR(*r.imd_db, Db(expected.total), c.sixteenBits ? 0.2 : 0.01);
    EXPECT_NEAR(*r.imd_pct, 100 * expected.total, 0.03 * *r.imd_pct);
    EXPECT_NEAR(*r.d2_pct, 100 * expected.d2, (c.sixteenBits ? 0.03 : 0.001) * *r.d2_pct);
    EXPECT_NEAR(*r.d3_pct, 100 * expected.d3, (c.sixteenBits ? 0.03 : 0.001) * *r.d3_pct);
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

// A 1 % amplitude modulation of the high tone is 1 % of modulation: (1 + m cos w1 t) cos w2 t puts
// m/2 at each of f2 +- f1, and the pair adds to m.
TEST(Intermodulation, OnePercentAmplitudeModulationReadsOnePercent) {
    const double a2 = 0.18;
    const double m = 0.01;
    const auto x = Synthesise(
        65536, {{4 * a2, 60.0}, {a2, 7000.0}, {a2 * m / 2, 6940.0}, {a2 * m / 2, 7060.0}});
    CDistortionAnalyser analyser(65536, kRate);
    const ImdReading r = analyser.AnalyseImd(x.data(), 1, ImdKind::Smpte);
    ASSERT_EQ(r.refusal, DistortionRefusal::None);
    EXPECT_NEAR(*r.imd_pct, 1.0, 1e-4);
}

// A polynomial device under test, y = x + a2 x^2 + a3 x^3, driven by x = A1 cos w1 t + A2 cos w2 t
// (f1 low, f2 high). By the product-to-sum identities:
//   x^2 holds 2 A1 A2 cos w1 cos w2 = A1 A2 (cos(w2 - w1) + cos(w2 + w1)): a2 A1 A2 at f2 +- f1;
//   x^3 holds 3 A1^2 A2 cos^2 w1 cos w2 = 3/2 A1^2 A2 (1 + cos 2w1) cos w2: 3/4 a3 A1^2 A2 at
//       f2 +- 2 f1, and 3/2 a3 A1^2 A2 at f2 itself, to which A2^3 cos^3 w2 adds 3/4 a3 A2^3;
//   nothing of a cubic reaches f2 +- 3 f1.
// So a(f2) = A2 + a3 (3/2 A1^2 A2 + 3/4 A2^3), d2 = 2 a2 A1 A2 / a(f2), d3 = 3/2 a3 A1^2 A2 /
// a(f2).
struct PolynomialCase {
    const char* name;
    ImdKind kind;
    double a2, a3;
};

class PolynomialDevice : public testing::TestWithParam<PolynomialCase> {};

TEST_P(PolynomialDevice, ModulationImdIsTheHandWorkedSidebands) {
    const PolynomialCase& c = GetParam();
    const ImdTones tones = ImdPreset(c.kind);
    constexpr int kFrames = 65536;
    const double amp2 = 0.16;
    const double amp1 = tones.ratio * amp2;
    const auto clean = Synthesise(kFrames, {{amp1, tones.f1_hz, 0.3}, {amp2, tones.f2_hz, 1.1}});
    std::vector<double> y(clean.size());
    for (size_t i = 0; i < clean.size(); ++i) {
        const double v = clean[i];
        y[i] = v + c.a2 * v * v + c.a3 * v * v * v;
    }
    const double carrier = amp2 + c.a3 * (1.5 * amp1 * amp1 * amp2 + 0.75 * amp2 * amp2 * amp2);
    const double d2 = 2 * c.a2 * amp1 * amp2 / carrier;
    const double d3 = 1.5 * c.a3 * amp1 * amp1 * amp2 / carrier;
    CDistortionAnalyser analyser(kFrames, kRate);
    const ImdReading r = analyser.AnalyseImd(y.data(), 1, tones);
    ASSERT_EQ(r.refusal, DistortionRefusal::None);
    const double total = 100 * std::sqrt(d2 * d2 + d3 * d3);
    EXPECT_NEAR(*r.imd_pct, total, 0.01 * total);
    // 1 % of each order, or 1e-3 % (-100 dB) where an order is absent: what the fit leaves of
    // the products it does not model (the cube's 3 f1, 2 f2 - f1, ...) near the sidebands.
    EXPECT_NEAR(*r.d2_pct, 100 * d2, std::max(d2, 1e-3));
    EXPECT_NEAR(*r.d3_pct, 100 * d3, std::max(d3, 1e-3));
}

INSTANTIATE_TEST_SUITE_P(
    Devices, PolynomialDevice,
    testing::Values(PolynomialCase{"SmpteSquareAndCube", ImdKind::Smpte, 0.05, 0.1},
                    PolynomialCase{"SmpteCubeOnly", ImdKind::Smpte, 0.0, 0.2},
                    PolynomialCase{"DinSquareAndCube", ImdKind::Din, 0.02, 0.05}),
    [](const testing::TestParamInfo<PolynomialCase>& info) { return info.param.name; });

// A custom pair at 1:1 is read by the difference-frequency method: a planted f2 - f1 alone is d2,
// against the sum of the tones.
TEST(Intermodulation, ACustomEqualPairIsReadByTheDifferenceFrequency) {
    const ImdTones tones{ImdKind::Custom, 11000.0, 12000.0, 1.0};
    const auto x = Synthesise(65536, {{0.4, 11000.0}, {0.4, 12000.0, 1.0}, {0.008, 1000.0}});
    CDistortionAnalyser analyser(65536, kRate);
    const ImdReading r = analyser.AnalyseImd(x.data(), 1, tones);
    ASSERT_EQ(r.refusal, DistortionRefusal::None);
    EXPECT_NEAR(*r.d2_pct, 1.0, 1e-4);
    EXPECT_NEAR(*r.imd_pct, 1.0, 1e-3);
}

} // namespace
