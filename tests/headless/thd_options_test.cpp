// `tavrin thd`'s command line taken apart: what each good line asks for. The refusals are
// checked through the program itself (thd_cli_test.cpp), with their exit status.
#include "headless/thd_options.h"
#include "tests/headless/boundary_case.h"

#include <gtest/gtest.h>

#include <ostream>

namespace {

struct GoodLine {
    const char* name;
    std::vector<std::string> args;
    std::optional<double> seconds;
    std::optional<ThdTone> tone;
    std::optional<ImdKind> imd;
    bool dither;
    int block_frames;
    double band_lo_hz, band_hi_hz;
    Weighting weighting;
};

class ThdGoodLine : public testing::TestWithParam<GoodLine> {};

TEST_P(ThdGoodLine, AsksForWhatItSays) {
    const GoodLine& c = GetParam();
    ThdOptions options;
    std::string error;
    ASSERT_TRUE(ParseThdOptions(c.args, &options, &error)) << error;
    EXPECT_EQ(options.seconds, c.seconds);
    ASSERT_EQ(options.tone.has_value(), c.tone.has_value());
    if (c.tone) {
        EXPECT_DOUBLE_EQ(options.tone->freq_hz, c.tone->freq_hz);
        EXPECT_DOUBLE_EQ(options.tone->level_dbfs, c.tone->level_dbfs);
        EXPECT_EQ(options.tone->level_vrms, c.tone->level_vrms);
    }
    EXPECT_EQ(options.imd ? std::optional(options.imd->kind) : std::nullopt, c.imd);
    EXPECT_EQ(options.dither, c.dither);
    EXPECT_EQ(options.block_frames, c.block_frames);
    EXPECT_DOUBLE_EQ(options.analysis.band_lo_hz, c.band_lo_hz);
    EXPECT_DOUBLE_EQ(options.analysis.band_hi_hz, c.band_hi_hz);
    EXPECT_EQ(options.analysis.weighting, c.weighting);
}

constexpr auto kNone = Weighting::None;

INSTANTIATE_TEST_SUITE_P(
    Lines, ThdGoodLine,
    testing::Values(
        GoodLine{"nothing", {}, {}, {}, {}, false, 65536, 20, 20000, kNone},
        GoodLine{"tone_default_level",
                 {"--tone", "997"},
                 {},
                 ThdTone{997.0, -1.0, {}},
                 {},
                 false,
                 65536,
                 20,
                 20000,
                 kNone},
        // Taken to the source's 0.01 Hz.
        GoodLine{"tone_rounded",
                 {"--tone", "1234.567,-20.5", "--dither"},
                 {},
                 ThdTone{1234.57, -20.5, {}},
                 {},
                 true,
                 65536,
                 20,
                 20000,
                 kNone},
        // Volts stay volts here: the run turns them into dBFS with the output's calibration.
        GoodLine{"tone_volts",
                 {"--tone", "1000,0.5V"},
                 {},
                 ThdTone{1000.0, -1.0, 0.5},
                 {},
                 false,
                 65536,
                 20,
                 20000,
                 kNone},
        GoodLine{"tone_edges",
                 {"--tone", "0.01,-120"},
                 {},
                 ThdTone{0.01, -120.0, {}},
                 {},
                 false,
                 65536,
                 20,
                 20000,
                 kNone},
        GoodLine{"tone_top",
                 {"--tone", "22049.99,0"},
                 {},
                 ThdTone{22049.99, 0.0, {}},
                 {},
                 false,
                 65536,
                 20,
                 20000,
                 kNone},
        GoodLine{
            "imd_ccif", {"--imd", "ccif"}, {}, {}, ImdKind::Ccif, false, 65536, 20, 20000, kNone},
        GoodLine{"imd_smpte_dither",
                 {"--dither", "--imd", "smpte"},
                 {},
                 {},
                 ImdKind::Smpte,
                 true,
                 65536,
                 20,
                 20000,
                 kNone},
        // Any whole number of frames in the range, not only powers of two.
        GoodLine{"block_odd", {"--block", "10000"}, {}, {}, {}, false, 10000, 20, 20000, kNone},
        GoodLine{"block_edges", {"--block", "262144"}, {}, {}, {}, false, 262144, 20, 20000, kNone},
        GoodLine{
            "band_nyquist", {"--band", "20-nyquist"}, {}, {}, {}, false, 65536, 20, 22050, kNone},
        GoodLine{"band_numbers", {"--band", "0-22050"}, {}, {}, {}, false, 65536, 0, 22050, kNone},
        GoodLine{"band_fraction_a",
                 {"--band", "22.4-22400e-1", "--weighting", "a", "--seconds", "2.5"},
                 2.5,
                 {},
                 {},
                 false,
                 65536,
                 22.4,
                 2240,
                 Weighting::A}),
    [](const testing::TestParamInfo<GoodLine>& info) { return std::string(info.param.name); });

TEST(ThdOptions, HelpWinsOverWhatFollowsAndTheSignalIsWhatWasAskedFor) {
    ThdOptions options;
    std::string error;
    ASSERT_TRUE(ParseThdOptions({"--help", "--tone", "x"}, &options, &error));
    EXPECT_TRUE(options.help);

    ASSERT_TRUE(ParseThdOptions({}, &options, &error));
    EXPECT_FALSE(ThdTestSignal(options).has_value()) << "listening only: nothing is played";

    ASSERT_TRUE(ParseThdOptions({"--tone", "997,-6", "--dither"}, &options, &error));
    const auto tone = ThdTestSignal(options);
    ASSERT_TRUE(tone.has_value());
    EXPECT_EQ(tone->kind, TestSignalKind::Tone);
    EXPECT_DOUBLE_EQ(tone->freq_hz, 997.0);
    EXPECT_DOUBLE_EQ(tone->level_dbfs, -6.0);
    EXPECT_TRUE(tone->dither);

    ASSERT_TRUE(ParseThdOptions({"--imd", "ccif"}, &options, &error));
    const auto imd = ThdTestSignal(options);
    ASSERT_TRUE(imd.has_value());
    EXPECT_EQ(imd->kind, TestSignalKind::ImdPair);
    EXPECT_DOUBLE_EQ(imd->freq_hz, 19000.0);
    EXPECT_DOUBLE_EQ(imd->freq2_hz, 20000.0);
    EXPECT_DOUBLE_EQ(imd->ratio, 1.0);
    EXPECT_DOUBLE_EQ(imd->level_dbfs, -1.0);

    ASSERT_TRUE(ParseThdOptions({"--imd", "din", "--imd-level", "-6"}, &options, &error));
    const auto din = ThdTestSignal(options);
    ASSERT_TRUE(din.has_value());
    EXPECT_DOUBLE_EQ(din->freq_hz, 250.0);
    EXPECT_DOUBLE_EQ(din->freq2_hz, 8000.0);
    EXPECT_DOUBLE_EQ(din->ratio, 4.0);
    EXPECT_DOUBLE_EQ(din->level_dbfs, -6.0);

    ASSERT_TRUE(ParseThdOptions({"--imd", "100.004:5000:2.5"}, &options, &error)) << error;
    ASSERT_TRUE(options.imd.has_value());
    EXPECT_EQ(options.imd->kind, ImdKind::Custom);
    EXPECT_DOUBLE_EQ(options.imd->f1_hz, 100.0);
    EXPECT_DOUBLE_EQ(options.imd->f2_hz, 5000.0);
    EXPECT_DOUBLE_EQ(options.imd->ratio, 2.5);
    EXPECT_FALSE(options.imd->DifferenceFrequency());

    // The tone played is the fundamental the analysis looks for.
    ASSERT_TRUE(ParseThdOptions({"--tone", "100.004"}, &options, &error));
    EXPECT_EQ(options.analysis.tone_hz, 100.0);
}

} // namespace

namespace {

class ThdBoundary : public testing::TestWithParam<BoundaryCase> {};

TEST_P(ThdBoundary, LimitAcceptedOnePastRefused) {
    ThdOptions options;
    std::string error;
    EXPECT_EQ(ParseThdOptions(GetParam().args, &options, &error), GetParam().accepted) << error;
}

INSTANTIATE_TEST_SUITE_P(
    Ranges, ThdBoundary,
    testing::Values(
        BoundaryCase{"ToneLowest", {"--tone", "0.01"}, true},
        BoundaryCase{"ToneBelowLowest", {"--tone", "0.004"}, false},
        BoundaryCase{"ToneHighest", {"--tone", "22049.99"}, true},
        BoundaryCase{"ToneNyquist", {"--tone", "22050"}, false},
        BoundaryCase{"ToneLevelLowest", {"--tone", "997,-120"}, true},
        BoundaryCase{"ToneLevelBelow", {"--tone", "997,-120.01"}, false},
        BoundaryCase{"ToneLevelHighest", {"--tone", "997,0"}, true},
        BoundaryCase{"ToneLevelAbove", {"--tone", "997,0.01"}, false},
        BoundaryCase{"BlockSmallest", {"--block", "8192"}, true},
        BoundaryCase{"BlockBelow", {"--block", "8191"}, false},
        BoundaryCase{"BlockLargest", {"--block", "262144"}, true},
        BoundaryCase{"BlockAbove", {"--block", "262145"}, false},
        BoundaryCase{"BandLowest", {"--band", "0-20000"}, true},
        BoundaryCase{"BandBelow", {"--band", "-0.01-20000"}, false},
        BoundaryCase{"BandHighest", {"--band", "20-22050"}, true},
        BoundaryCase{"BandAbove", {"--band", "20-22050.01"}, false},
        BoundaryCase{"ImdLevelLowest", {"--imd", "smpte", "--imd-level", "-120"}, true},
        BoundaryCase{"ImdLevelBelow", {"--imd", "smpte", "--imd-level", "-120.01"}, false},
        BoundaryCase{"ImdLevelHighest", {"--imd", "smpte", "--imd-level", "0"}, true},
        BoundaryCase{"ImdLevelAbove", {"--imd", "smpte", "--imd-level", "0.01"}, false},
        BoundaryCase{"ImdRatioLowest", {"--imd", "19000:20000:1"}, true},
        BoundaryCase{"ImdRatioBelow", {"--imd", "19000:20000:0.99"}, false},
        BoundaryCase{"ImdRatioHighest", {"--imd", "60:7000:100"}, true},
        BoundaryCase{"ImdRatioAbove", {"--imd", "60:7000:100.01"}, false},
        BoundaryCase{"ImdSidebandsReachNyquist", {"--imd", "100:21749.99:4"}, true},
        BoundaryCase{"ImdSidebandsPastNyquist", {"--imd", "100:21750:4"}, false},
        BoundaryCase{"ImdLowestSidebandAboveDc", {"--imd", "100:300.01:4"}, true},
        BoundaryCase{"ImdLowestSidebandAtDc", {"--imd", "100:300:4"}, false},
        BoundaryCase{"ImdDifferenceProductAboveDc", {"--imd", "5000:9999.99:1"}, true},
        BoundaryCase{"ImdDifferenceProductAtDc", {"--imd", "5000:10000:1"}, false},
        BoundaryCase{"ImdDifferenceProductBelowNyquist", {"--imd", "19000:20524.99:1"}, true},
        BoundaryCase{"ImdDifferenceProductAtNyquist", {"--imd", "19000:20525:1"}, false},
        // The rate sets Nyquist wherever it stands on the line.
        BoundaryCase{"ToneHighestAt96k", {"--tone", "47999.99", "--rate", "96000"}, true},
        BoundaryCase{"ToneNyquistAt96k", {"--tone", "48000", "--rate", "96000"}, false},
        BoundaryCase{"BandHighestAt192k", {"--rate", "192000", "--band", "20-96000"}, true},
        BoundaryCase{"BandAboveAt192k", {"--rate", "192000", "--band", "20-96000.01"}, false},
        BoundaryCase{"RateLowest", {"--rate", "44100"}, true},
        BoundaryCase{"RateBelow", {"--rate", "44099"}, false},
        BoundaryCase{"RateHighest", {"--rate", "192000"}, true},
        BoundaryCase{"RateAbove", {"--rate", "192001"}, false},
        BoundaryCase{"RateBetween", {"--rate", "50000"}, false},
        BoundaryCase{"FormatRowsAndSamples", {"--format", "jsonl", "--format", "s24"}, true},
        BoundaryCase{"FormatSamplesTwice", {"--format", "s24", "--format", "float"}, false},
        BoundaryCase{"FormatRowsTwice", {"--format", "csv", "--format", "jsonl"}, false},
        BoundaryCase{"FormatUnknown", {"--format", "s8"}, false}),
    [](const testing::TestParamInfo<BoundaryCase>& info) { return BoundaryName(info.param); });

} // namespace
