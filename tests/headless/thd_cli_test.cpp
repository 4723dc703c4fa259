// `tavrin thd` as a script runs it, on the simulated card: the refusals and their exit statuses,
// the device under test read against its analytic harmonics, the plain cable against the test
// tone's own rounding, and a run in JSON lines ended by a signal without Qt's GUI.
#include "audio/sim/simulated_dut.h"
#include "tests/headless/rounded_tone.h"
#include "tests/headless/tool_checks.h"
#include "tests/headless/tool_process.h"

#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
#include <fstream>
#include <optional>
#include <sstream>

namespace {

const std::string kTavrin = TAVRIN_EXE;
const std::vector<std::string> kSim = {"TAVRIN_AUDIO=sim"};

std::vector<std::string> Thd(std::vector<std::string> args) {
    args.insert(args.begin(), {kTavrin, "thd"});
    return args;
}

TEST(ThdTool, RefusesBadArgumentsAndAMissingDeviceWithOneLineAndItsExitStatus) {
    ExpectRefusals(
        {kTavrin, "thd"},
        {
            {{"--tone", "0"}, 2, "--tone wants HZ[,DBFS] or HZ,VOLTSV with HZ from 0.01"},
            {{"--tone", "1000,0V"}, 2, "not '1000,0V'"},
            {{"--tone", "1000,-0.5V"}, 2, "not '1000,-0.5V'"},
            {{"--tone", "1000,V"}, 2, "not '1000,V'"},
            {{"--tone", "22050"}, 2, "not '22050'"},
            {{"--tone", "0.004"}, 2, "not '0.004'"}, // rounds to 0.00 Hz
            {{"--tone", "997,-121"}, 2, "not '997,-121'"},
            {{"--tone", "997,0.5"}, 2, "not '997,0.5'"},
            {{"--tone", "997,"}, 2, "not '997,'"},
            {{"--tone", "1k"}, 2, "not '1k'"},
            {{"--tone"}, 2, "--tone needs a value"},
            {{"--imd", "dim"}, 2, "--imd is smpte, ccif, din or F1:F2:RATIO"},
            {{"--block", "8191"}, 2, "--block wants a whole number of frames from 8192 to 262144"},
            {{"--block", "262145"}, 2, "not '262145'"},
            {{"--block", "65536.5"}, 2, "not '65536.5'"},
            {{"--band", "20"}, 2, "--band wants LO-HI in hertz"},
            {{"--band", "20000-20"}, 2, "not '20000-20'"},
            {{"--band", "20-30000"}, 2, "not '20-30000'"},
            {{"--band", "20-nyq"}, 2, "not '20-nyq'"},
            {{"--weighting", "c"}, 2, "--weighting is none or a, not 'c'"},
            {{"--dither"}, 2, "--dither needs --tone or --imd"},
            {{"--tone", "997", "--imd", "smpte"}, 2, "--tone and --imd are two different signals"},
            {{"--format", "xml"}, 2, "--format is csv or jsonl"},
            {{"--seconds", "-1"}, 2, "--seconds wants a number above 0"},
            {{"--meter", "V"}, 2, "unknown option '--meter'"},
            {{"--seconds", "1", "--device", "tavrin_no_such_device"},
             3,
             "cannot open capture device 'tavrin_no_such_device': WAVEIN:"},
            {{"--seconds", "1", "--tone", "997", "--device", "tavrin_no_such_device"},
             3,
             "cannot open output device 'tavrin_no_such_device': WAVEOUT:"},
        },
        kSim);
}

TEST(ThdTool, HelpOfEachCommandListsThemAll) {
    for (const char* command : {"thd", "measure", "calibrate"}) {
        const ToolResult run = RunTool({kTavrin, command, "--help"});
        EXPECT_EQ(run.exitStatus, 0);
        EXPECT_EQ(run.out.rfind(std::string("usage: tavrin ") + command, 0), 0u) << run.out;
        EXPECT_NE(run.out.find("tavrin measure  "), std::string::npos) << run.out;
        EXPECT_NE(run.out.find("tavrin thd  "), std::string::npos) << run.out;
        EXPECT_NE(run.out.find("tavrin calibrate  "), std::string::npos) << run.out;
    }
}

// The device under test's harmonics of a tone of amplitude A, from the identities
// sin^2 = (1 - cos 2wt) / 2 and sin^3 = (3 sin wt - sin 3wt) / 4.
struct DutOracle {
    double fundamental, h2_db, h3_db;
};

DutOracle DutHarmonics(const SimulatedDut& dut, double amplitude) {
    const double a = amplitude;
    const double fundamental = dut.gain * a + 3.0 * dut.a3 * a * a * a / 4.0;
    return {fundamental, 20.0 * std::log10(dut.a2 * a * a / 2.0 / fundamental),
            20.0 * std::log10(dut.a3 * a * a * a / 4.0 / fundamental)};
}

TEST(ThdTool, ReadsTheDeviceUnderTestsHarmonicsWithinHalfADbOfTheAnalyticFigures) {
    const ToolResult run =
        RunTool(Thd({"--device", "sim:dut", "--tone", "997,-1", "--seconds", "4"}));
    ASSERT_EQ(run.exitStatus, 0) << run.err;
    const auto rows = CsvRecords(run.out);
    ASSERT_EQ(rows.size(), 3u) << run.out; // 4 s is 2.7 blocks of 65536 frames
    EXPECT_EQ(rows[1].at("time_s"), "1.486");

    const DutOracle oracle = DutHarmonics(kSimDutModel, std::pow(10.0, -1.0 / 20.0));
    for (const std::string channel : {"x1_", "x2_"}) {
        SCOPED_TRACE(channel);
        const auto f0 = MedianOf(rows, channel + "f0_hz");
        const auto level = MedianOf(rows, channel + "level_dbfs");
        const auto h2 = MedianOf(rows, channel + "h2_db");
        const auto h3 = MedianOf(rows, channel + "h3_db");
        ASSERT_TRUE(f0 && level && h2 && h3) << run.out;
        EXPECT_NEAR(*f0, 997.0, 0.01);
        EXPECT_NEAR(*level, 20.0 * std::log10(oracle.fundamental), 0.05);
        EXPECT_NEAR(*h2, oracle.h2_db, 0.5);
        EXPECT_NEAR(*h3, oracle.h3_db, 0.5);
    }
}

TEST(ThdTool, ReadsAPlainCablesThdnWithinADbOfTheTonesOwnRounding) {
    const ToolResult run = RunTool(Thd({"--device", "sim", "--tone", "997,-1", "--seconds", "4"}));
    ASSERT_EQ(run.exitStatus, 0) << run.err;
    const auto rows = CsvRecords(run.out);
    const double expected = RoundedToneThdnDb(997.0, -1.0, 20.0, 20000.0);
    for (const std::string channel : {"x1_", "x2_"}) {
        const auto thdn = MedianOf(rows, channel + "thdn_db");
        ASSERT_TRUE(thdn.has_value()) << run.out;
        EXPECT_NEAR(*thdn, expected, 1.0) << channel;
        const auto sinad = MedianOf(rows, channel + "sinad_db");
        ASSERT_TRUE(sinad.has_value());
        EXPECT_NEAR(*sinad, -*thdn, 0.011);
    }
}

// SMPTE intermodulation of a device y = gain x + a2 x^2 + a3 x^3 for tones of amplitudes A1
// (60 Hz) and A2 (7 kHz): x^2 puts a2 A1 A2 at f2 +- f1, x^3 puts 3/4 a3 A1^2 A2 at f2 +- 2 f1 (and
// a3 (3/2 A1^2 A2 + 3/4 A2^3) onto f2 itself); nothing reaches f2 +- 3 f1. By the modulation
// method each order's two sidebands add, then the orders add as squares, over the 7 kHz amplitude.
struct SmpteOracle {
    double d2, d3, total;
};

SmpteOracle DutSmpte(double gain, double a2, double a3, double amp1, double amp2) {
    const double first = a2 * amp1 * amp2;
    const double second = 0.75 * a3 * amp1 * amp1 * amp2;
    const double carrier =
        gain * amp2 + a3 * (1.5 * amp1 * amp1 * amp2 + 0.75 * amp2 * amp2 * amp2);
    const double d2 = 2 * first / carrier;
    const double d3 = 2 * second / carrier;
    return {d2, d3, std::sqrt(d2 * d2 + d3 * d3)};
}

double DutSmpteImdDb(const SimulatedDut& dut, double a1, double a2) {
    return 20.0 * std::log10(DutSmpte(dut.gain, dut.a2, dut.a3, a1, a2).total);
}

// A number field of a JSON line; nothing when it is null or absent.
std::optional<double> JsonNumber(const std::string& line, const std::string& name) {
    const size_t at = line.find("\"" + name + "\":");
    if (at == std::string::npos || line.compare(at + name.size() + 3, 4, "null") == 0) {
        return std::nullopt;
    }
    return std::stod(line.substr(at + name.size() + 3));
}

TEST(ThdTool, WritesJsonLinesWithTheImdColumnsWithoutQtGuiUntilSigterm) {
    CToolProcess process;
    ASSERT_TRUE(process.Start(
        Thd({"--device", "sim:dut", "--imd", "smpte", "--format", "jsonl", "--block", "8192"}),
        {"DISPLAY=", "WAYLAND_DISPLAY="}));
    std::string header, row;
    ASSERT_TRUE(process.ReadLine(&header, 10000));
    EXPECT_EQ(header.rfind("{\"device\":\"sim:dut\",\"columns\":[\"time_s\",\"x1_f0_hz\",", 0), 0u)
        << header;
    EXPECT_NE(header.find(",\"x2_h10_db\",\"x1_imd_pct\",\"x1_imd_db\",\"x2_imd_pct\","
                          "\"x2_imd_db\",\"x1_level_vrms\",\"x2_level_vrms\",\"x1_imd_d2_pct\","
                          "\"x1_imd_d3_pct\",\"x2_imd_d2_pct\",\"x2_imd_d3_pct\"]}"),
              std::string::npos)
        << header;
    ASSERT_TRUE(process.ReadLine(&row, 10000));
    EXPECT_EQ(row.rfind("{\"time_s\":0.000,\"x1_f0_hz\":", 0), 0u) << row;
    std::vector<std::string> rows;
    for (int i = 0; i < 6 && process.ReadLine(&row, 10000); ++i) {
        rows.push_back(row);
    }
    ASSERT_EQ(rows.size(), 6u);
    // 8192 frames a block.
    EXPECT_EQ(rows[0].rfind("{\"time_s\":0.186,", 0), 0u) << rows[0];
    // The two tones' peaks add up to -1 dBFS, at 4:1.
    const double peak = std::pow(10.0, -1.0 / 20.0);
    const double expected = DutSmpteImdDb(kSimDutModel, 0.8 * peak, 0.2 * peak);
    for (const std::string& line : rows) {
        for (const char* column : {"x1_imd_db", "x2_imd_db"}) {
            const auto imd = JsonNumber(line, column);
            ASSERT_TRUE(imd.has_value()) << line;
            EXPECT_NEAR(*imd, expected, 0.5) << column;
        }
    }

    ExpectHeadlessTool(process.Pid());

    kill(process.Pid(), SIGTERM);
    const ToolResult run = process.Finish(10000);
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_NE(run.err.find("playing the SMPTE two-tone signal"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("stopped by signal"), std::string::npos) << run.err;
}

// Through the simulated card, a polynomial device under test: SMPTE's figure and each order
// within 1 % of the sidebands worked out by hand (DutSmpte) at the level asked for.
TEST(ThdTool, SmpteImdOfAPolynomialDeviceIsTheHandWorkedSidebands) {
    const double a2 = 0.02;
    const double a3 = 0.05;
    const ToolResult run = RunTool(Thd({"--device", "sim:dut=poly:0.02:0.05", "--imd", "smpte",
                                        "--imd-level", "-3", "--seconds", "3"}));
    ASSERT_EQ(run.exitStatus, 0) << run.err;
    const auto rows = CsvRecords(run.out);
    ASSERT_GE(rows.size(), 2u) << run.out;
    const double peak = std::pow(10.0, -3.0 / 20.0);
    const SmpteOracle oracle = DutSmpte(1.0, a2, a3, 0.8 * peak, 0.2 * peak);
    for (const std::string channel : {"x1_", "x2_"}) {
        SCOPED_TRACE(channel);
        const auto total = MedianOf(rows, channel + "imd_pct");
        const auto d2 = MedianOf(rows, channel + "imd_d2_pct");
        const auto d3 = MedianOf(rows, channel + "imd_d3_pct");
        ASSERT_TRUE(total && d2 && d3) << run.out;
        EXPECT_NEAR(*total, 100 * oracle.total, oracle.total);
        EXPECT_NEAR(*d2, 100 * oracle.d2, oracle.d2);
        EXPECT_NEAR(*d3, 100 * oracle.d3, oracle.d3);
    }
}

// Odd block lengths are within the promise: rows, not an abort.
TEST(ThdTool, AnOddBlockLengthGivesRows) {
    const ToolResult run =
        RunTool(Thd({"--device", "sim", "--tone", "997", "--block", "8193", "--seconds", "0.5"}));
    ASSERT_EQ(run.exitStatus, 0) << run.err;
    const auto rows = CsvRecords(run.out);
    ASSERT_GE(rows.size(), 2u) << run.out;
    const auto f0 = MedianOf(rows, "x1_f0_hz");
    ASSERT_TRUE(f0.has_value()) << run.out;
    EXPECT_NEAR(*f0, 997.0, 0.01);
}

// A fundamental below the THD+N band is still the fundamental, whether the program plays it or
// another source does (with harmonics from a poly stage after it); its H5, the strongest line in
// the band, is never taken for it.
TEST(ThdTool, AFundamentalBelowTheBandIsStillTheFundamental) {
    const std::vector<std::vector<std::string>> runs = {
        {"--device", "sim:dut=poly:0.05:0.05", "--tone", "100,-6"},
        {"--device", "sim:dut=tone:100:-6+poly:0.05:0.05"}};
    for (std::vector<std::string> args : runs) {
        SCOPED_TRACE(args[1]);
        args.insert(args.end(), {"--band", "400-20000", "--seconds", "3"});
        const ToolResult run = RunTool(Thd(args));
        ASSERT_EQ(run.exitStatus, 0) << run.err;
        const auto rows = CsvRecords(run.out);
        ASSERT_GE(rows.size(), 2u) << run.out;
        for (const std::string channel : {"x1_", "x2_"}) {
            const auto f0 = MedianOf(rows, channel + "f0_hz");
            const auto level = MedianOf(rows, channel + "level_dbfs");
            ASSERT_TRUE(f0 && level) << run.out << run.err;
            EXPECT_NEAR(*f0, 100.0, 0.01) << channel;
            EXPECT_NEAR(*level, -6.0, 0.1) << channel;
        }
    }
}

// A row without figures says why on stderr, once while the reason stays.
TEST(ThdTool, EmptyRowsSayWhyOnceWhileTheReasonStays) {
    const ToolResult run = RunTool(Thd({"--device", "sim", "--block", "8192", "--seconds", "1"}));
    ASSERT_EQ(run.exitStatus, 0) << run.err;
    const std::string reason = "no tone to measure against";
    const size_t first = run.err.find(reason);
    ASSERT_NE(first, std::string::npos) << run.err;
    EXPECT_EQ(run.err.find(reason, first + 1), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("tavrin-measure: 0.000 s: " + reason), std::string::npos) << run.err;
}

} // namespace
