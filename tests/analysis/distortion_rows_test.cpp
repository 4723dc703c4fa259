#include "analysis/distortion/distortion_rows.h"

#include <gtest/gtest.h>

namespace {

TEST(DistortionRows, ColumnsPerChannelInOrderWithTheImdFiguresLast) {
    const std::vector<std::string>& plain = DistortionColumns(false);
    const std::vector<std::string>& imd = DistortionColumns(true);
    ASSERT_EQ(plain.size(), 1u + 2u * (8u + 9u));
    const std::vector<std::string> x1 = {
        "x1_f0_hz",    "x1_level_dbfs", "x1_thd_pct", "x1_thd_db", "x1_thdn_pct", "x1_thdn_db",
        "x1_sinad_db", "x1_snr_db",     "x1_h2_db",   "x1_h3_db",  "x1_h4_db",    "x1_h5_db",
        "x1_h6_db",    "x1_h7_db",      "x1_h8_db",   "x1_h9_db",  "x1_h10_db"};
    EXPECT_EQ(plain[0], "time_s");
    EXPECT_EQ(std::vector<std::string>(plain.begin() + 1, plain.begin() + 18), x1);
    EXPECT_EQ(plain[18], "x2_f0_hz");
    EXPECT_EQ(plain.back(), "x2_h10_db");
    // The columns without the IMD figures stand at the same places with them.
    ASSERT_EQ(imd.size(), plain.size() + 4);
    EXPECT_TRUE(std::equal(plain.begin(), plain.end(), imd.begin()));
    EXPECT_EQ(std::vector<std::string>(imd.end() - 4, imd.end()),
              (std::vector<std::string>{"x1_imd_pct", "x1_imd_db", "x2_imd_pct", "x2_imd_db"}));
}

DistortionRow SampleRow() {
    DistortionRow row;
    row.time_s = 2.9721542;
    DistortionReading& x1 = row.channels[0];
    x1.refusal = DistortionRefusal::None;
    x1.f0_hz = 996.9994;
    x1.level_dbfs = -1.0004;
    x1.thd_pct = 0.104881;
    x1.thd_db = -59.5861;
    x1.thdn_pct = 0.10501;
    x1.thdn_db = -59.576;
    x1.sinad_db = 59.576;
    x1.snr_db = 89.0049;
    for (int i = 0; i < kHarmonicCount; ++i) {
        x1.harmonics[i].order = kLowestHarmonic + i;
        x1.harmonics[i].level_db = -60.0 - 10.0 * i - 0.004; // rounds to -60.00, -70.00 ...
    }
    x1.harmonics[kHarmonicCount - 1].level_db.reset(); // H10 at or above Nyquist
    // X2 refused: it still tells its level and frequency.
    DistortionReading& x2 = row.channels[1];
    x2.refusal = DistortionRefusal::Clipped;
    x2.f0_hz = 1000.0;
    x2.level_dbfs = 0.0049;
    row.imd[0] = ImdReading{DistortionRefusal::None, 0.0316228, -70.0, 0.03, 0.0116228};
    return row;
}

TEST(DistortionRows, CsvRowHasItsDecimalsAndEmptyFieldsForWhatIsMissing) {
    const std::string x1 = "996.999,-1.00,0.1049,-59.59,0.1050,-59.58,59.58,89.00,-60.00,-70.00,"
                           "-80.00,-90.00,-100.00,-110.00,-120.00,-130.00,";
    const std::string x2 = "1000.000,0.00,,,,,,,,,,,,,,,";
    EXPECT_EQ(FormatDistortionRow(RowFormat::Csv, false, SampleRow()),
              "2.972," + x1 + "," + x2 + "\n");
    EXPECT_EQ(FormatDistortionRow(RowFormat::Csv, true, SampleRow()),
              "2.972," + x1 + "," + x2 + ",0.0316,-70.00,,\n");
}

TEST(DistortionRows, JsonRowNamesEveryFigureAndNullsWhatIsMissing) {
    const std::string line = FormatDistortionRow(RowFormat::Jsonl, true, SampleRow());
    EXPECT_EQ(line.rfind("{\"time_s\":2.972,\"x1_f0_hz\":996.999,\"x1_level_dbfs\":-1.00,", 0), 0u)
        << line;
    for (const char* field : {"\"x1_h10_db\":null,", "\"x2_level_dbfs\":0.00,",
                              "\"x2_thd_db\":null,", "\"x1_imd_db\":-70.00,"}) {
        EXPECT_NE(line.find(field), std::string::npos) << field << " in " << line;
    }
    EXPECT_TRUE(line.ends_with(",\"x2_imd_pct\":null,\"x2_imd_db\":null}\n")) << line;
}

TEST(DistortionRows, AGapRowHoldsOnlyItsTime) {
    DistortionRow gap;
    gap.time_s = 1.4860771;
    gap.gap = true;
    EXPECT_EQ(FormatDistortionRow(RowFormat::Csv, false, gap),
              "1.486" + std::string(34, ',') + "\n");
}

} // namespace
