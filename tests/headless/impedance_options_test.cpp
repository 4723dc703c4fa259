// `tavrin impedance`'s command line at the edges of every range it documents: the limit itself
// accepted, the nearest value past it refused.
#include "headless/impedance_options.h"
#include "tests/headless/boundary_case.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>

namespace {

class ImpedanceOptionEdges : public testing::TestWithParam<BoundaryCase> {};

TEST_P(ImpedanceOptionEdges, LimitAcceptedOnePastItRefused) {
    const BoundaryCase& c = GetParam();
    // After --ref 100 --sweep 20-200 unless the case gives its own.
    std::vector<std::string> args = c.args;
    const bool own = std::find(args.begin(), args.end(), "--ref") != args.end();
    if (!own) {
        args.insert(args.begin(), {"--ref", "100", "--sweep", "20-200"});
    }
    ImpedanceOptions options;
    std::string error;
    EXPECT_EQ(ParseImpedanceOptions(args, &options, &error), c.accepted) << error;
    EXPECT_EQ(error.empty(), c.accepted) << error;
}

// The mass options come as a set; the edge under test is the first of them.
std::vector<std::string> Mass(const std::string& grams, const std::string& size_option,
                              const std::string& size) {
    return {"--added-mass", grams, size_option, size, "--free-air", "free.zma"};
}

INSTANTIATE_TEST_SUITE_P(
    Ranges, ImpedanceOptionEdges,
    testing::Values(
        BoundaryCase{"ref_least", {"--ref", "0.1"}, true},
        BoundaryCase{"ref_under_least", {"--ref", "0.0999999"}, false},
        BoundaryCase{"ref_most", {"--ref", "1e6"}, true},
        BoundaryCase{"ref_over_most", {"--ref", "1000000.1"}, false},
        BoundaryCase{"freq_least", {"--ref", "100", "--freq", "10"}, true},
        BoundaryCase{"freq_under_least", {"--ref", "100", "--freq", "9.999"}, false},
        BoundaryCase{"freq_most", {"--ref", "100", "--freq", "20000"}, true},
        BoundaryCase{"freq_over_most", {"--ref", "100", "--freq", "20000.01"}, false},
        BoundaryCase{"sweep_whole_band", {"--ref", "100", "--sweep", "10-20000"}, true},
        BoundaryCase{"sweep_under_least", {"--ref", "100", "--sweep", "9.99-20000"}, false},
        BoundaryCase{"sweep_over_most", {"--ref", "100", "--sweep", "10-20000.01"}, false},
        BoundaryCase{"sweep_empty", {"--ref", "100", "--sweep", "100-100"}, false},
        BoundaryCase{"per_octave_least", {"--points-per-octave", "1"}, true},
        BoundaryCase{"per_octave_none", {"--points-per-octave", "0"}, false},
        BoundaryCase{"per_octave_most", {"--points-per-octave", "96"}, true},
        BoundaryCase{"per_octave_over_most", {"--points-per-octave", "97"}, false},
        BoundaryCase{"level_least", {"--level", "-120"}, true},
        BoundaryCase{"level_under_least", {"--level", "-120.01"}, false},
        BoundaryCase{"level_most", {"--level", "0"}, true},
        BoundaryCase{"level_over_most", {"--level", "0.01"}, false},
        BoundaryCase{"seconds_most", {"--ref", "100", "--seconds", "1e9"}, true},
        BoundaryCase{"seconds_over_most", {"--ref", "100", "--seconds", "1.000001e9"}, false},
        BoundaryCase{"seconds_none", {"--ref", "100", "--seconds", "0"}, false},
        BoundaryCase{"input_impedance_tiny", {"--input-impedance", "1e-9"}, true},
        BoundaryCase{"input_impedance_none", {"--input-impedance", "0"}, false},
        BoundaryCase{"re_least", {"--re", "0.01"}, true},
        BoundaryCase{"re_under_least", {"--re", "0.00999"}, false},
        BoundaryCase{"re_most", {"--re", "1000"}, true},
        BoundaryCase{"re_over_most", {"--re", "1000.01"}, false},
        BoundaryCase{"mass_tiny", Mass("1e-6", "--sd", "100"), true},
        BoundaryCase{"mass_none", Mass("0", "--sd", "100"), false},
        BoundaryCase{"mass_most", Mass("1000", "--sd", "100"), true},
        BoundaryCase{"mass_over_most", Mass("1000.01", "--sd", "100"), false},
        BoundaryCase{"sd_most", Mass("10", "--sd", "10000"), true},
        BoundaryCase{"sd_over_most", Mass("10", "--sd", "10000.01"), false},
        BoundaryCase{"sd_none", Mass("10", "--sd", "0"), false},
        BoundaryCase{"diameter_most", Mass("10", "--diameter", "100"), true},
        BoundaryCase{"diameter_over_most", Mass("10", "--diameter", "100.01"), false},
        BoundaryCase{"diameter_none", Mass("10", "--diameter", "0"), false},
        // Above 44444 Hz the top is 0.45 of the rate.
        BoundaryCase{
            "freq_most_at_96k", {"--ref", "100", "--freq", "43200", "--rate", "96000"}, true},
        BoundaryCase{"freq_over_most_at_96k",
                     {"--ref", "100", "--freq", "43200.01", "--rate", "96000"},
                     false},
        BoundaryCase{"sweep_most_at_192k",
                     {"--ref", "100", "--rate", "192000", "--sweep", "10-86400"},
                     true},
        BoundaryCase{"sweep_over_most_at_192k",
                     {"--ref", "100", "--rate", "192000", "--sweep", "10-86400.01"},
                     false},
        BoundaryCase{"rate_not_offered", {"--rate", "22050"}, false},
        BoundaryCase{"format_s32", {"--format", "s32"}, true}),
    [](const auto& info) { return std::string(info.param.name); });

// What the loudspeaker options ask for, in SI units, and the combinations refused.
TEST(ImpedanceOptions, LoudspeakerOptionsInSiUnitsAndOnlyAsASet) {
    ImpedanceOptions options;
    std::string error;
    ASSERT_TRUE(
        ParseImpedanceOptions({"--ref", "8", "--sweep", "10-500", "--re", "6.1", "--added-mass",
                               "12.5", "--diameter", "13", "--free-air", "free.zma"},
                              &options, &error))
        << error;
    EXPECT_DOUBLE_EQ(*options.re_ohm, 6.1);
    EXPECT_DOUBLE_EQ(*options.added_mass_kg, 0.0125);
    EXPECT_NEAR(*options.sd_m2, 3.141592653589793 * 0.13 * 0.13 / 4, 1e-15); // 132.7 cm2
    EXPECT_EQ(*options.free_air_path, "free.zma");
    ASSERT_TRUE(ParseImpedanceOptions({"--ref", "8", "--sweep", "10-500", "--added-mass", "10",
                                       "--sd", "132", "--free-air", "f.zma"},
                                      &options, &error));
    EXPECT_DOUBLE_EQ(*options.sd_m2, 0.0132);
    const std::vector<std::vector<std::string>> refused = {
        {"--ref", "8", "--re", "6"},                                              // no sweep
        {"--ref", "8", "--sweep", "10-500", "--added-mass", "10", "--sd", "132"}, // no free air
        {"--ref", "8", "--sweep", "10-500", "--added-mass", "10", "--free-air", "f.zma"},
        {"--ref", "8", "--sweep", "10-500", "--added-mass", "10", "--sd", "132", "--diameter", "13",
         "--free-air", "f.zma"},
        {"--ref", "8", "--sweep", "10-500", "--calibrate", "short", "--re", "6"},
        {"--calibrate", "clear", "--re", "6"},
    };
    for (const auto& args : refused) {
        EXPECT_FALSE(ParseImpedanceOptions(args, &options, &error)) << args.back();
        EXPECT_FALSE(error.empty());
    }
}

} // namespace
