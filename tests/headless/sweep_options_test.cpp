// `tavrin sweep`'s command line taken apart: what each good line asks for, including the sweep
// it makes from the band. The refusals are checked through the program (sweep_cli_test.cpp).
#include "headless/sweep_options.h"
#include "tests/headless/boundary_case.h"

#include <gtest/gtest.h>

#include <ostream>

namespace {

struct GoodLine {
    const char* name;
    std::vector<std::string> args;
    double lo_hz, hi_hz;
    double f1_hz; // the sweep's start: an octave under the band, 10 Hz at the highest
    int frames;
    double level_dbfs;
    SweepOutput output;
    SweepReference reference;
    int averages;
    SweepSmoothing smoothing;
    int points_per_octave;
};

void PrintTo(const GoodLine& line, std::ostream* os) {
    *os << line.name;
}

class SweepGoodLine : public testing::TestWithParam<GoodLine> {};

TEST_P(SweepGoodLine, AsksForWhatItSays) {
    const GoodLine& c = GetParam();
    SweepOptions options;
    std::string error;
    ASSERT_TRUE(ParseSweepOptions(c.args, &options, &error)) << error;
    const SweepMeasurementSettings& m = options.measurement;
    EXPECT_DOUBLE_EQ(m.analysis.lo_hz, c.lo_hz);
    EXPECT_DOUBLE_EQ(m.analysis.hi_hz, c.hi_hz);
    EXPECT_DOUBLE_EQ(m.sweep.f1_hz, c.f1_hz);
    EXPECT_DOUBLE_EQ(m.sweep.f2_hz, 22050.0);
    EXPECT_EQ(m.sweep.frames, c.frames);
    EXPECT_DOUBLE_EQ(m.sweep.level_dbfs, c.level_dbfs);
    EXPECT_EQ(m.output, c.output);
    EXPECT_EQ(m.reference, c.reference);
    EXPECT_EQ(m.averages, c.averages);
    EXPECT_EQ(m.analysis.smoothing, c.smoothing);
    EXPECT_EQ(m.analysis.points_per_octave, c.points_per_octave);
}

constexpr auto kBoth = SweepOutput::Both;
constexpr auto kNoRef = SweepReference::None;
constexpr auto kRaw = SweepSmoothing::None;

INSTANTIATE_TEST_SUITE_P(
    Lines, SweepGoodLine,
    testing::Values(
        GoodLine{"nothing", {}, 20, 20000, 10, 1 << 18, -12, kBoth, kNoRef, 1, kRaw, 48},
        GoodLine{"band_low_widens_the_sweep",
                 {"--from", "5", "--to", "22050"},
                 5,
                 22050,
                 2.5,
                 1 << 18,
                 -12,
                 kBoth,
                 kNoRef,
                 1,
                 kRaw,
                 48},
        GoodLine{"band_high_keeps_10_hz",
                 {"--from", "100", "--to", "10000"},
                 100,
                 10000,
                 10,
                 1 << 18,
                 -12,
                 kBoth,
                 kNoRef,
                 1,
                 kRaw,
                 48},
        GoodLine{"everything",
                 {"--length",
                  "1048576",
                  "--level",
                  "-60",
                  "--channel",
                  "r",
                  "--reference",
                  "x2",
                  "--average",
                  "64",
                  "--smoothing",
                  "1/3",
                  "--points-per-octave",
                  "480",
                  "--device",
                  "sim",
                  "--csv",
                  "-",
                  "--frd",
                  "a.frd",
                  "--ir",
                  "a.wav"},
                 20,
                 20000,
                 10,
                 1 << 20,
                 -60,
                 SweepOutput::Right,
                 SweepReference::X2,
                 64,
                 SweepSmoothing::Octave3,
                 480},
        GoodLine{"shortest_loudest_left",
                 {"--length", "65536", "--level", "-1", "--channel", "L", "--smoothing", "1/48"},
                 20,
                 20000,
                 10,
                 1 << 16,
                 -1,
                 SweepOutput::Left,
                 kNoRef,
                 1,
                 SweepSmoothing::Octave48,
                 48}),
    [](const auto& info) { return std::string(info.param.name); });

// Every range at its documented limit, accepted, and one step past it, refused.
class SweepBoundary : public testing::TestWithParam<BoundaryCase> {};

TEST_P(SweepBoundary, LimitAcceptedOnePastRefused) {
    SweepOptions options;
    std::string error;
    EXPECT_EQ(ParseSweepOptions(GetParam().args, &options, &error), GetParam().accepted) << error;
    EXPECT_EQ(error.empty(), GetParam().accepted) << error;
}

INSTANTIATE_TEST_SUITE_P(
    Ranges, SweepBoundary,
    testing::Values(BoundaryCase{"to_nyquist", {"--to", "22050"}, true},
                    BoundaryCase{"to_past_nyquist", {"--to", "22050.01"}, false},
                    // --from's floor is the sweep's start at 1 Hz, an octave under it.
                    BoundaryCase{"from_lowest", {"--from", "2", "--length", "1048576"}, true},
                    BoundaryCase{"from_too_low", {"--from", "1.99", "--length", "1048576"}, false},
                    BoundaryCase{"from_zero", {"--from", "0"}, false},
                    BoundaryCase{"length_shortest", {"--length", "65536"}, true},
                    BoundaryCase{"length_too_short", {"--length", "32768"}, false},
                    BoundaryCase{"length_longest", {"--length", "1048576"}, true},
                    BoundaryCase{"length_too_long", {"--length", "2097152"}, false},
                    BoundaryCase{"level_lowest", {"--level", "-60"}, true},
                    BoundaryCase{"level_too_low", {"--level", "-60.1"}, false},
                    BoundaryCase{"level_highest", {"--level", "-1"}, true},
                    BoundaryCase{"level_too_high", {"--level", "-0.9"}, false},
                    BoundaryCase{"average_fewest", {"--average", "1"}, true},
                    BoundaryCase{"average_none", {"--average", "0"}, false},
                    BoundaryCase{"average_most", {"--average", "64"}, true},
                    BoundaryCase{"average_too_many", {"--average", "65"}, false},
                    BoundaryCase{"points_fewest", {"--points-per-octave", "1"}, true},
                    BoundaryCase{"points_none", {"--points-per-octave", "0"}, false},
                    BoundaryCase{"points_96", {"--points-per-octave", "96"}, true},
                    BoundaryCase{"points_most", {"--points-per-octave", "480"}, true},
                    BoundaryCase{"points_too_many", {"--points-per-octave", "481"}, false},
                    BoundaryCase{"gate_widest", {"--window-ms", "5000,5000"}, true},
                    BoundaryCase{"gate_left_too_wide", {"--window-ms", "5000.1,10"}, false},
                    BoundaryCase{"gate_right_too_wide", {"--window-ms", "1,5000.1"}, false},
                    BoundaryCase{"gate_from_the_peak", {"--window-ms", "0,0.1"}, true},
                    BoundaryCase{"gate_left_negative", {"--window-ms", "-0.1,4"}, false},
                    BoundaryCase{"gate_ends_at_the_peak", {"--window-ms", "1,0"}, false},
                    BoundaryCase{"gate_one_number", {"--window-ms", "4"}, false},
                    // Above 48000 Hz the top is 0.45 of the rate; below, today's 22050 stays.
                    BoundaryCase{"to_most_at_48k", {"--rate", "48000", "--to", "22050"}, true},
                    BoundaryCase{"to_past_at_48k", {"--rate", "48000", "--to", "22050.01"}, false},
                    BoundaryCase{"to_most_at_96k", {"--rate", "96000", "--to", "43200"}, true},
                    BoundaryCase{"to_past_at_96k", {"--to", "43200.01", "--rate", "96000"}, false},
                    BoundaryCase{"rate_not_offered", {"--rate", "32000"}, false},
                    BoundaryCase{"samples_csv", {"--format", "float", "--format", "csv"}, true},
                    BoundaryCase{"rows_jsonl", {"--format", "s24", "--format", "jsonl"}, false}),
    [](const auto& info) { return std::string(info.param.name); });

struct RateLine {
    int rate_hz;
    int frames; // the default length: the power of two that lasts at least 5.94 s
};

class SweepAtRate : public testing::TestWithParam<RateLine> {};

// The sweep runs at the rate asked, to its Nyquist, and its default length keeps its seconds.
TEST_P(SweepAtRate, SweepsToNyquistForAboutSixSeconds) {
    const RateLine& c = GetParam();
    SweepOptions options;
    std::string error;
    ASSERT_TRUE(ParseSweepOptions({"--rate", std::to_string(c.rate_hz)}, &options, &error))
        << error;
    EXPECT_DOUBLE_EQ(options.measurement.sweep.rate_hz, c.rate_hz);
    EXPECT_DOUBLE_EQ(options.measurement.sweep.f2_hz, c.rate_hz / 2.0);
    EXPECT_EQ(options.measurement.sweep.frames, c.frames);
}

INSTANTIATE_TEST_SUITE_P(Rates, SweepAtRate,
                         testing::Values(RateLine{44100, 1 << 18}, RateLine{48000, 1 << 18},
                                         RateLine{88200, 1 << 19}, RateLine{96000, 1 << 19},
                                         RateLine{176400, 1 << 20}, RateLine{192000, 1 << 20}),
                         [](const auto& info) { return std::to_string(info.param.rate_hz); });

TEST(SweepOptions, WindowMsSetsTheGate) {
    SweepOptions options;
    std::string error;
    ASSERT_TRUE(ParseSweepOptions({"--window-ms", "1.5,4"}, &options, &error)) << error;
    EXPECT_DOUBLE_EQ(options.measurement.analysis.gate_left_ms, 1.5);
    EXPECT_DOUBLE_EQ(options.measurement.analysis.gate_right_ms, 4);
}

} // namespace
