// The --generate option's levels: every level the usage text offers parses to the generator's
// amplitude divisor, and nothing else does.
#include "headless/measure_options.h"
#include "tests/headless/boundary_case.h"

#include <gtest/gtest.h>

#include <ostream>

namespace {

struct LevelCase {
    const char* decibels;
    int divisor; // 0: refused
};

void PrintTo(const LevelCase& c, std::ostream* out) {
    *out << '"' << c.decibels << "\" dB";
}

class GenerateLevel : public ::testing::TestWithParam<LevelCase> {};

TEST_P(GenerateLevel, ParsesToItsDivisorOrIsRefused) {
    const std::string value = std::string("L=1000,sine,") + GetParam().decibels;
    MeasureOptions options;
    std::string error;
    const bool parsed = ParseMeasureOptions({"--generate", value}, &options, &error);
    if (GetParam().divisor == 0) {
        EXPECT_FALSE(parsed) << value;
        EXPECT_NE(error.find("not '" + value + "'"), std::string::npos) << error;
        return;
    }
    ASSERT_TRUE(parsed) << error;
    ASSERT_EQ(options.generate.size(), 1u);
    EXPECT_EQ(options.generate[0].divisor, GetParam().divisor);
    EXPECT_EQ(options.generate[0].hertz, 1000);
}

INSTANTIATE_TEST_SUITE_P(Levels, GenerateLevel,
                         ::testing::Values(LevelCase{"0", 1}, LevelCase{"-0", 1},
                                           LevelCase{"-6", 2}, LevelCase{"-12", 4},
                                           LevelCase{"-18", 8}, LevelCase{"-24", 16},
                                           LevelCase{"-30", 0}, LevelCase{"-3", 0},
                                           LevelCase{"6", 0}, LevelCase{"-24.0", 0},
                                           LevelCase{"", 0}));

} // namespace

namespace {

class MeasureBoundary : public testing::TestWithParam<BoundaryCase> {};

TEST_P(MeasureBoundary, LimitAcceptedOnePastRefused) {
    MeasureOptions options;
    std::string error;
    EXPECT_EQ(ParseMeasureOptions(GetParam().args, &options, &error), GetParam().accepted) << error;
}

INSTANTIATE_TEST_SUITE_P(
    Ranges, MeasureBoundary,
    testing::Values(BoundaryCase{"GenerateLowest", {"--generate", "L=0,sine,0"}, true},
                    BoundaryCase{"GenerateBelow", {"--generate", "L=-1,sine,0"}, false},
                    BoundaryCase{"GenerateHighest", {"--generate", "R=20000,square,-24"}, true},
                    BoundaryCase{"GenerateAbove", {"--generate", "R=20001,square,-24"}, false},
                    BoundaryCase{"RefLowest", {"--meter", "R", "--ref", "0.001"}, true},
                    BoundaryCase{"RefBelow", {"--meter", "R", "--ref", "0.0009"}, false},
                    BoundaryCase{"RefHighest", {"--meter", "C", "--ref", "10000"}, true},
                    BoundaryCase{"RefAbove", {"--meter", "C", "--ref", "10000.001"}, false}),
    [](const testing::TestParamInfo<BoundaryCase>& info) { return BoundaryName(info.param); });

} // namespace
