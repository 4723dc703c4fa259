#include "base/row_text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <ostream>

namespace {

struct NumberCase {
    RowFormat format;
    std::optional<double> value;
    int decimals;
    std::string text;
};

void PrintTo(const NumberCase& c, std::ostream* os) {
    *os << (c.format == RowFormat::Csv ? "csv " : "jsonl ")
        << (c.value ? std::to_string(*c.value) : "nothing") << " to " << c.decimals;
}

class RowNumberTest : public testing::TestWithParam<NumberCase> {};

TEST_P(RowNumberTest, PrintsFixedPointOrTheFormatsMissingMark) {
    const NumberCase& c = GetParam();
    EXPECT_EQ(RowNumber(c.format, c.value, c.decimals), c.text);
}

constexpr double kInf = std::numeric_limits<double>::infinity();

// -0.004 and -0.00004 round to zero, which has no sign.
INSTANTIATE_TEST_SUITE_P(Cases, RowNumberTest,
                         testing::Values(NumberCase{RowFormat::Csv, 1.23456, 3, "1.235"},
                                         NumberCase{RowFormat::Csv, -59.5861, 2, "-59.59"},
                                         NumberCase{RowFormat::Csv, -0.004, 2, "0.00"},
                                         NumberCase{RowFormat::Jsonl, -0.00004, 4, "0.0000"},
                                         NumberCase{RowFormat::Csv, -0.006, 2, "-0.01"},
                                         NumberCase{RowFormat::Csv, 997.0, 3, "997.000"},
                                         NumberCase{RowFormat::Csv, std::nullopt, 2, ""},
                                         NumberCase{RowFormat::Jsonl, std::nullopt, 2, "null"},
                                         NumberCase{RowFormat::Csv, -kInf, 2, ""},
                                         NumberCase{RowFormat::Jsonl, kInf, 2, "null"},
                                         NumberCase{RowFormat::Jsonl, std::nan(""), 2, "null"}));

TEST(RowText, JsonEscapingKeepsTheStringOneValidJsonString) {
    const std::pair<std::string, std::string> cases[] = {
        {"hw:CARD=Device,DEV=0", "hw:CARD=Device,DEV=0"},
        {"say \"hi\"", "say \\\"hi\\\""},
        {"back\\slash", "back\\\\slash"},
        {"tab\there\nnl", "tab\\u0009here\\u000anl"},
        {"\x1f", "\\u001f"},
        {"Gerät", "Gerät"}, // UTF-8 passes through
    };
    for (const auto& [text, escaped] : cases) {
        EXPECT_EQ(JsonEscaped(text), escaped) << text;
    }
}

TEST(RowText, HeaderAndLineInBothFormats) {
    const std::vector<std::string> columns = {"time_s", "x1_thd_db", "meter"};
    const std::vector<std::string> csv = {RowNumber(RowFormat::Csv, 1.5, 3),
                                          RowNumber(RowFormat::Csv, std::nullopt, 2),
                                          RowInteger(RowFormat::Csv, 42)};
    EXPECT_EQ(RowHeader(RowFormat::Csv, columns, "x\"y"), "time_s,x1_thd_db,meter\n");
    EXPECT_EQ(RowLine(RowFormat::Csv, columns, csv), "1.500,,42\n");

    const std::vector<std::string> json = {RowNumber(RowFormat::Jsonl, 1.5, 3),
                                           RowNumber(RowFormat::Jsonl, -60.004, 2),
                                           RowInteger(RowFormat::Jsonl, std::nullopt)};
    EXPECT_EQ(RowHeader(RowFormat::Jsonl, columns, "x\"y"),
              "{\"device\":\"x\\\"y\",\"columns\":[\"time_s\",\"x1_thd_db\",\"meter\"]}\n");
    EXPECT_EQ(RowLine(RowFormat::Jsonl, columns, json),
              "{\"time_s\":1.500,\"x1_thd_db\":-60.00,\"meter\":null}\n");
}

} // namespace
