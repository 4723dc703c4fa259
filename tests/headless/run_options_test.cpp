// The options every command shares (run_options.h), at the edges of their ranges, through the
// simplest command's parser.
#include "headless/measure_options.h"
#include "tests/headless/boundary_case.h"

#include <gtest/gtest.h>

namespace {

class RunBoundary : public testing::TestWithParam<BoundaryCase> {};

TEST_P(RunBoundary, LimitAcceptedOnePastRefused) {
    MeasureOptions options;
    std::string error;
    EXPECT_EQ(ParseMeasureOptions(GetParam().args, &options, &error), GetParam().accepted) << error;
}

INSTANTIATE_TEST_SUITE_P(
    Ranges, RunBoundary,
    testing::Values(BoundaryCase{"SecondsAboveZero", {"--seconds", "0.001"}, true},
                    BoundaryCase{"SecondsZero", {"--seconds", "0"}, false},
                    BoundaryCase{"SecondsMost", {"--seconds", "1e9"}, true},
                    BoundaryCase{"SecondsPastMost", {"--seconds", "1000000000.001"}, false},
                    // The panel's meter runs at the panel's format alone.
                    BoundaryCase{"RateOnTheMeter", {"--rate", "44100"}, false},
                    BoundaryCase{"SampleFormatOnTheMeter", {"--format", "s16"}, false}),
    [](const testing::TestParamInfo<BoundaryCase>& info) { return BoundaryName(info.param); });

} // namespace
