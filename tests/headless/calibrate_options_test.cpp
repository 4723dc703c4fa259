// `tavrin calibrate`'s ranges at their edges: the limit accepted, one step past it refused.
#include "headless/calibrate_options.h"
#include "tests/headless/boundary_case.h"

#include <gtest/gtest.h>

namespace {

class CalibrateBoundary : public testing::TestWithParam<BoundaryCase> {};

TEST_P(CalibrateBoundary, LimitAcceptedOnePastRefused) {
    CalibrateOptions options;
    std::string error;
    std::vector<std::string> args = {"--output", "l"};
    args.insert(args.end(), GetParam().args.begin(), GetParam().args.end());
    EXPECT_EQ(ParseCalibrateOptions(args, &options, &error), GetParam().accepted) << error;
}

INSTANTIATE_TEST_SUITE_P(
    Ranges, CalibrateBoundary,
    testing::Values(BoundaryCase{"VrmsAboveZero", {"--vrms", "1e-9"}, true},
                    BoundaryCase{"VrmsZero", {"--vrms", "0"}, false},
                    BoundaryCase{"LevelLowest", {"--vrms", "1", "--level", "-120"}, true},
                    BoundaryCase{"LevelBelow", {"--vrms", "1", "--level", "-120.01"}, false},
                    BoundaryCase{"LevelHighest", {"--vrms", "1", "--level", "0"}, true},
                    BoundaryCase{"LevelAbove", {"--vrms", "1", "--level", "0.01"}, false},
                    BoundaryCase{"SecondsAboveZero", {"--vrms", "1", "--seconds", "0.001"}, true},
                    BoundaryCase{"SecondsZero", {"--vrms", "1", "--seconds", "0"}, false},
                    BoundaryCase{"RateHighest", {"--vrms", "1", "--rate", "192000"}, true},
                    BoundaryCase{"RateAbove", {"--vrms", "1", "--rate", "384000"}, false},
                    BoundaryCase{"FormatFloat", {"--vrms", "1", "--format", "float"}, true},
                    BoundaryCase{"FormatUnknown", {"--vrms", "1", "--format", "f64"}, false}),
    [](const testing::TestParamInfo<BoundaryCase>& info) { return BoundaryName(info.param); });

} // namespace
