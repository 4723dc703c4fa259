// A sweep's CSV and FRD files: exact bytes for one row, round trips within the printed digits,
// the FRD dialects other tools write, and the inputs refused with the line at fault.
#include "analysis/sweep/sweep_files.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Values with every digit significant, harmonics missing above a third of the band as the
// analyser leaves them, and negative zero-ish phases that must not print as "-0".
SweepResult Planted(int points) {
    std::mt19937 random(7);
    std::uniform_real_distribution<double> spread(-1.0, 1.0);
    SweepResult r;
    r.refusal = SweepRefusal::None;
    for (int i = 0; i < points; ++i) {
        r.freq_hz.push_back(20.0 * std::pow(1000.0, double(i) / (points - 1)) + spread(random));
        r.mag_db.push_back(6.0 * spread(random));
        r.phase_deg.push_back(180.0 * spread(random));
        r.group_delay_ms.push_back(0.5 * spread(random));
        const bool inBand = i < points / 3;
        r.h2_db.push_back(inBand ? -60 + 20 * spread(random) : kNaN);
        r.h3_db.push_back(inBand ? -70 + 20 * spread(random) : kNaN);
        r.h4_db.push_back(i < points / 4 ? -80 + 20 * spread(random) : kNaN);
        r.h5_db.push_back(i < points / 5 ? -90 + 20 * spread(random) : kNaN);
        r.thd_db.push_back(inBand ? -55 + 20 * spread(random) : kNaN);
        for (int order = 6; order <= kSweepHighestHarmonic; ++order) {
            HarmonicDb(r, order).push_back(i < points / order ? -95 + 20 * spread(random) : kNaN);
        }
        r.thd9_db.push_back(inBand ? -54 + 20 * spread(random) : kNaN);
    }
    return r;
}

// Equal within half the last printed digit, NaN only where NaN was.
void ExpectColumn(const std::vector<double>& got, const std::vector<double>& want, int decimals,
                  const char* name) {
    ASSERT_EQ(got.size(), want.size()) << name;
    const double half = 0.5 * std::pow(10.0, -decimals) * 1.000001;
    for (size_t i = 0; i < want.size(); ++i) {
        if (std::isnan(want[i])) {
            EXPECT_TRUE(std::isnan(got[i])) << name << " at " << i;
        } else {
            EXPECT_NEAR(got[i], want[i], half) << name << " at " << i;
        }
    }
}

TEST(SweepFiles, CsvRowIsExactWithMissingHarmonicsEmpty) {
    SweepResult r;
    r.freq_hz = {1000.0};
    r.mag_db = {-3.01};
    r.phase_deg = {-0.001};
    r.group_delay_ms = {0.125};
    r.h2_db = {-61.5};
    r.h3_db = {kNaN};
    r.h4_db = {kNaN};
    r.h5_db = {kNaN};
    r.thd_db = {-61.5};
    r.h6_db = {-70.25};
    r.h7_db = r.h8_db = r.h9_db = {kNaN};
    r.thd9_db = {-61.0};
    // The nine columns the files always had come first, as they were; the new ones follow.
    EXPECT_EQ(SweepCsvText(r),
              "freq_hz,mag_db,phase_deg,group_delay_ms,h2_db,h3_db,h4_db,h5_db,thd_db,"
              "h6_db,h7_db,h8_db,h9_db,thd9_db\n"
              "1000.000,-3.0100,0.00,0.12500,-61.5000,,,,-61.5000,-70.2500,,,,-61.0000\n");
}

// A file saved before H6..H9 were read still loads; its new columns read NaN.
TEST(SweepFiles, CsvOfNineColumnsStillReads) {
    std::string error;
    const std::optional<SweepResult> got =
        ParseSweepCsv("freq_hz,mag_db,phase_deg,group_delay_ms,h2_db,h3_db,h4_db,h5_db,thd_db\n"
                      "1000.000,-3.0100,0.00,0.12500,-61.5000,,,,-61.5000\n",
                      error);
    ASSERT_TRUE(got) << error;
    EXPECT_DOUBLE_EQ(got->thd_db.at(0), -61.5);
    ASSERT_EQ(got->h9_db.size(), 1u);
    EXPECT_TRUE(std::isnan(got->h9_db[0]) && std::isnan(got->thd9_db.at(0)));
}

TEST(SweepFiles, CsvRoundTripKeepsEveryColumn) {
    const SweepResult want = Planted(97);
    std::string error;
    const std::optional<SweepResult> got = ParseSweepCsv(SweepCsvText(want), error);
    ASSERT_TRUE(got) << error;
    EXPECT_EQ(got->refusal, SweepRefusal::None);
    ExpectColumn(got->freq_hz, want.freq_hz, 3, "freq_hz");
    ExpectColumn(got->mag_db, want.mag_db, 4, "mag_db");
    ExpectColumn(got->phase_deg, want.phase_deg, 2, "phase_deg");
    ExpectColumn(got->group_delay_ms, want.group_delay_ms, 5, "group_delay_ms");
    ExpectColumn(got->h2_db, want.h2_db, 4, "h2_db");
    ExpectColumn(got->h3_db, want.h3_db, 4, "h3_db");
    ExpectColumn(got->h4_db, want.h4_db, 4, "h4_db");
    ExpectColumn(got->h5_db, want.h5_db, 4, "h5_db");
    ExpectColumn(got->thd_db, want.thd_db, 4, "thd_db");
    for (int order = 6; order <= kSweepHighestHarmonic; ++order) {
        ExpectColumn(HarmonicDb(*got, order), HarmonicDb(want, order), 4, "h6_db..h9_db");
    }
    ExpectColumn(got->thd9_db, want.thd9_db, 4, "thd9_db");
}

TEST(SweepFiles, FrdRoundTripWithCommentLines) {
    SweepResult want = Planted(61);
    want.mag_db[5] = kNaN; // no level to write: the point is left out, not written as "nan"
    const std::string text = SweepFrdText(want, "Tavrin sweep\nleft channel, 20 Hz to 20 kHz");
    EXPECT_EQ(text.rfind("* Tavrin sweep\n* left channel, 20 Hz to 20 kHz\n", 0), 0u) << text;
    std::string error;
    const std::optional<FrdCurve> got = ParseFrd(text, error);
    ASSERT_TRUE(got) << error;
    for (std::vector<double>* column : {&want.freq_hz, &want.mag_db, &want.phase_deg}) {
        column->erase(column->begin() + 5);
    }
    ExpectColumn(got->freq_hz, want.freq_hz, 3, "freq_hz");
    ExpectColumn(got->mag_db, want.mag_db, 4, "mag_db");
    ExpectColumn(got->phase_deg, want.phase_deg, 2, "phase_deg");
}

struct FrdDialect {
    const char* name;
    const char* text;
    bool phase;
};

class FrdDialects : public ::testing::TestWithParam<FrdDialect> {};

// Each holds 20 Hz -> 1.5 dB, 25.5 Hz -> -2 dB (phase 10 and -45.5 where it has phase).
TEST_P(FrdDialects, ReadsTheSameTwoPoints) {
    std::string error;
    const std::optional<FrdCurve> curve = ParseFrd(GetParam().text, error);
    ASSERT_TRUE(curve) << error;
    EXPECT_EQ(curve->freq_hz, (std::vector<double>{20.0, 25.5}));
    EXPECT_EQ(curve->mag_db, (std::vector<double>{1.5, -2.0}));
    const std::vector<double> phase =
        GetParam().phase ? std::vector<double>{10.0, -45.5} : std::vector<double>{};
    EXPECT_EQ(curve->phase_deg, phase);
}

INSTANTIATE_TEST_SUITE_P(
    SweepFiles, FrdDialects,
    ::testing::Values(
        FrdDialect{"Spaces", "20 1.5 10\n25.5 -2 -45.5\n", true},
        FrdDialect{"TabsCrlfNoFinalNewline", "20\t1.5\t10\r\n25.5\t-2\t-45.5", true},
        FrdDialect{"CommasAndBlanks", "20, 1.5, 10\n25.5 ,-2,-45.5\n", true},
        FrdDialect{"EveryCommentMark", "* a\n# b\n; c\n\n  * d\n20 1.5 10\n25.5 -2 -45.5\n", true},
        FrdDialect{"ColumnNamesLine", "Freq(Hz) SPL(dB) Phase(deg)\n20 1.5 10\n25.5 -2 -45.5\n",
                   true},
        FrdDialect{"ByteOrderMark", "\xEF\xBB\xBF* x\n20 1.5 10\n25.5 -2 -45.5\n", true},
        FrdDialect{"ExponentsAndPlus", "2e1 +1.5 1e1\n2.55E+01 -2.0 -45.5\n", true},
        FrdDialect{"TwoColumns", "20 1.5\n25.5 -2\n", false}),
    [](const auto& info) { return std::string(info.param.name); });

struct Refused {
    const char* name;
    const char* text;
    const char* error; // the start of the message
};

class FrdRefused : public ::testing::TestWithParam<Refused> {};

TEST_P(FrdRefused, SaysWhichLine) {
    std::string error;
    EXPECT_FALSE(ParseFrd(GetParam().text, error));
    EXPECT_EQ(error.rfind(GetParam().error, 0), 0u) << error;
}

INSTANTIATE_TEST_SUITE_P(
    SweepFiles, FrdRefused,
    ::testing::Values(Refused{"Empty", "", "no data"},
                      Refused{"OnlyComments", "* x\n# y\n", "no data"},
                      Refused{"Descending", "* x\n20 1 0\n30 1 0\n25 1 0\n", "line 4: frequencies"},
                      Refused{"Repeated", "20 1 0\n20 1 0\n", "line 2: frequencies"},
                      Refused{"ZeroHertz", "0 1 0\n20 1 0\n", "line 1: frequency"},
                      Refused{"JunkAfterData", "20 1 0\ngarbage\n", "line 2: not a number"},
                      Refused{"SecondHeader", "Freq SPL\nHz dB\n20 1\n", "line 2: not a number"},
                      Refused{"TextInANumber", "20 1 0\n30 1dB 0\n", "line 2: not a number"},
                      Refused{"NotFinite", "20 nan 0\n", "line 1: not a number"},
                      Refused{"OneColumn", "20\n", "line 1: expected 2 or 3"},
                      Refused{"FourColumns", "20 1 0 0.9\n", "line 1: expected 2 or 3"},
                      Refused{"ColumnsChange", "20 1 0\n30 1\n", "line 2: expected 3"},
                      Refused{"DecimalComma", "20 1,5 10\n", "line 1: expected 2 or 3"}),
    [](const auto& info) { return std::string(info.param.name); });

class CsvRefused : public ::testing::TestWithParam<Refused> {};

TEST_P(CsvRefused, SaysWhichLine) {
    std::string error;
    EXPECT_FALSE(ParseSweepCsv(GetParam().text, error));
    EXPECT_EQ(error.rfind(GetParam().error, 0), 0u) << error;
}

#define CSV_HEADER "freq_hz,mag_db,phase_deg,group_delay_ms,h2_db,h3_db,h4_db,h5_db,thd_db\n"
INSTANTIATE_TEST_SUITE_P(
    SweepFiles, CsvRefused,
    ::testing::Values(Refused{"NoHeader", "20,1,0,0,,,,,\n", "line 1: expected the header"},
                      Refused{"HeaderOnly", CSV_HEADER, "no data"},
                      Refused{"ShortRow", CSV_HEADER "20,1,0,0,,,,\n", "line 2: expected 9"},
                      Refused{"NoLevel", CSV_HEADER "20,,0,0,,,,,\n", "line 2: mag_db"},
                      Refused{"JunkHarmonic", CSV_HEADER "20,1,0,0,x,,,,\n", "line 2: h2_db"},
                      Refused{"Descending", CSV_HEADER "30,1,0,0,,,,,\n20,1,0,0,,,,,\n",
                              "line 3: frequencies"}),
    [](const auto& info) { return std::string(info.param.name); });
#undef CSV_HEADER

} // namespace
