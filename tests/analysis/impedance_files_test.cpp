// Impedance curves written and read back, and the files' bad lines.
#include "analysis/impedance/impedance_files.h"

#include "tests/analysis/impedance_signals.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

std::vector<ImpedanceCurvePoint> Curve() {
    return {{20, SeriesRlc(20, 6.1, 0.5e-3, 0)},
            {1000, SeriesRlc(1000, 0.4, 0, 1e-6)},
            {1500, 330.0},
            {19999.5, SeriesRlc(19999.5, 1e-3, 2e-6, 0)}};
}

void ExpectSameCurve(const std::vector<ImpedanceCurvePoint>& got,
                     const std::vector<ImpedanceCurvePoint>& want) {
    ASSERT_EQ(got.size(), want.size());
    for (size_t k = 0; k < want.size(); ++k) {
        EXPECT_NEAR(got[k].freq_hz, want[k].freq_hz, 1e-9 * want[k].freq_hz);
        EXPECT_NEAR(std::abs(got[k].z_ohm - want[k].z_ohm), 0, 1e-8 * std::abs(want[k].z_ohm));
    }
}

TEST(Zma, RoundTrip) {
    const std::string text = FormatZma(Curve(), {"tavrin impedance", "R_ref 100 ohm"});
    EXPECT_EQ(text.rfind("* tavrin impedance\n", 0), 0u);
    std::string error;
    const auto back = ParseZma(text, &error);
    ASSERT_TRUE(back) << error;
    ExpectSameCurve(*back, Curve());
}

TEST(ImpedanceCsv, RoundTripWithEmptyFieldsWhereAFigureDoesNotApply) {
    const std::string text = FormatImpedanceCsv(Curve());
    EXPECT_EQ(text.rfind("freq_hz,z_ohm,phase_deg,r_ohm,x_ohm,l_h,c_f,esr_ohm,q,d\n", 0), 0u);
    // 330 ohm exactly: no L, no C, no D; Q is 0.
    EXPECT_NE(text.find("\n1500,330,0,330,0,,,330,0,\n"), std::string::npos) << text;
    std::string error;
    const auto back = ParseImpedanceCsv(text, &error);
    ASSERT_TRUE(back) << error;
    ExpectSameCurve(*back, Curve());
}

struct BadZma {
    const char* name;
    const char* text;
    const char* error;
};

class BadZmaFiles : public ::testing::TestWithParam<BadZma> {};

TEST_P(BadZmaFiles, RefusedWithTheLine) {
    std::string error;
    EXPECT_FALSE(ParseZma(GetParam().text, &error));
    EXPECT_EQ(error, GetParam().error);
}

INSTANTIATE_TEST_SUITE_P(
    Files, BadZmaFiles,
    ::testing::Values(
        BadZma{"two_columns", "* c\n20 6.1 1\n40 6.3\n",
               "line 3: not three numbers (freq_hz ohms phase_deg)"},
        BadZma{"comma_decimal", "20 6,1 1\n", "line 1: not three numbers (freq_hz ohms phase_deg)"},
        BadZma{"falling", "40 6 0\n\n20 6 0\n", "line 3: frequencies do not rise"},
        BadZma{"negative_ohms", "20 -6 0\n", "line 1: |Z| is negative"},
        BadZma{"zero_hz", "0 6 0\n", "line 1: the frequency is not a positive number"},
        BadZma{"only_comments", "* nothing\n", "no points"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ImpedanceRows, TimeFirstAndRefusedBlocksMissing) {
    EXPECT_EQ(FormatImpedanceHeader(RowFormat::Csv, "hw:0"),
              "time_s,freq_hz,z_ohm,phase_deg,r_ohm,x_ohm,l_h,c_f,esr_ohm,q,d\n");
    EXPECT_EQ(FormatImpedanceRow(RowFormat::Jsonl, 1.5, std::nullopt),
              "{\"time_s\":1.500,\"freq_hz\":null,\"z_ohm\":null,\"phase_deg\":null,\"r_ohm\":null,"
              "\"x_ohm\":null,\"l_h\":null,\"c_f\":null,\"esr_ohm\":null,\"q\":null,\"d\":null}\n");
    const std::string row =
        FormatImpedanceRow(RowFormat::Csv, 0.25, ReadImpedance(SeriesRlc(1000, 0, 10e-3, 0), 1000));
    EXPECT_EQ(row, "0.250,1000,62.83185307,90,0,62.83185307,0.01,,0,,0\n");
}

} // namespace
