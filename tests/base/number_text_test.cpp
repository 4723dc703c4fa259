// Fixed-point text: the sign comes after rounding, so nothing that rounds to zero reads as
// minus something.
#include "base/number_text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <ostream>
#include <string>

namespace {

struct FixedCase {
    double value;
    int decimals;
    const char* text;
};

void PrintTo(const FixedCase& c, std::ostream* out) {
    *out << c.value << " at " << c.decimals << " decimals";
}

class FixedTextTable : public ::testing::TestWithParam<FixedCase> {};

TEST_P(FixedTextTable, PrintsTheRoundedValueWithItsSign) {
    EXPECT_EQ(FixedText(GetParam().value, GetParam().decimals), GetParam().text)
        << GetParam().value;
}

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNan = std::numeric_limits<double>::quiet_NaN();

INSTANTIATE_TEST_SUITE_P(
    Values, FixedTextTable,
    ::testing::Values(
        FixedCase{0.0, 2, "0.00"}, FixedCase{-0.0, 2, "0.00"}, FixedCase{-0.001, 2, "0.00"},
        // The double nearest -0.005 lies just beyond it: it rounds away from zero.
        FixedCase{-0.005, 2, "-0.01"}, FixedCase{-0.004999, 2, "0.00"},
        FixedCase{-0.006, 2, "-0.01"}, FixedCase{0.006, 2, "0.01"}, FixedCase{-3.0103, 2, "-3.01"},
        FixedCase{-0.4, 0, "0"}, FixedCase{-0.6, 0, "-1"}, FixedCase{-0.00004, 4, "0.0000"},
        FixedCase{-1000.00004, 4, "-1000.0000"}, FixedCase{1.5e9, 3, "1500000000.000"},
        FixedCase{-1e20, 2, "-100000000000000000000.00"}, FixedCase{kInf, 2, "inf"},
        FixedCase{-kInf, 2, "-inf"}, FixedCase{kNan, 2, "nan"}, FixedCase{-kNan, 2, "nan"}));

// No fixed buffer cuts a very large value short: every digit before the point is there.
TEST(FixedText, LargestDoubleKeepsEveryDigit) {
    const std::string text = FixedText(std::numeric_limits<double>::max(), 2);
    EXPECT_EQ(text.size(), 309u + 3u);
    EXPECT_EQ(text.substr(0, 5), "17976");
    EXPECT_EQ(text.substr(text.size() - 3), ".00");
    EXPECT_EQ(FixedText(-std::numeric_limits<double>::max(), 0).size(), 310u);
}

} // namespace
