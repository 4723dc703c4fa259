// `tavrin sweep` as a script runs it, on the simulated card: every refusal of its command line
// with its exit status, a plain cable measured flat with the CSV on stdout, and Ctrl-C.
#include "tool_checks.h"
#include "tool_process.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <thread>

namespace {

const std::string kTavrin = TAVRIN_EXE;
const std::vector<std::string> kSim = {"TAVRIN_AUDIO=sim"};

TEST(SweepTool, RefusesBadArgumentsWithOneLineNamingTheOption) {
    ExpectRefusals(
        {kTavrin, "sweep"},
        {
            {{"--from", "0"}, 2, "--from wants hertz above 0"},
            {{"--to", "22051"}, 2, "--to wants hertz above 0 and up to 22050, not '22051'"},
            {{"--from", "1000", "--to", "500"}, 2, "--from must lie below --to"},
            {{"--from", "0.5"}, 2, "--from is too low for --length"},
            {{"--length", "100000"}, 2, "--length wants a power of two"},
            {{"--length", "32768"}, 2, "not '32768'"},
            {{"--length", "2097152"}, 2, "not '2097152'"},
            {{"--level", "0"}, 2, "--level wants dBFS from -60 to -1, not '0'"},
            {{"--level", "-61"}, 2, "not '-61'"},
            {{"--channel", "X"}, 2, "--channel is L, R or both"},
            {{"--reference", "x1"}, 2, "--reference is x2 or none"},
            {{"--average", "0"}, 2, "--average wants a whole number from 1 to 64"},
            {{"--average", "65"}, 2, "not '65'"},
            {{"--smoothing", "1/5"}, 2, "--smoothing is none, 1/48"},
            {{"--points-per-octave", "481"}, 2, "--points-per-octave wants"},
            {{"--csv", ""}, 2, "--csv wants a file name"},
            {{"--ir", "a.wav", "--csv", "a.wav"}, 2, "--ir and --csv name the same file"},
            {{"--seconds", "3"}, 2, "--seconds does not apply to a sweep"},
            {{"--format", "jsonl"}, 2, "--format does not apply to a sweep"},
            {{"--frd"}, 2, "--frd needs a value"},
            {{"--bogus"}, 2, "unknown option '--bogus'"},
            {{"--device", "hw:99", "--length", "65536"}, 3, "cannot open output device 'hw:99'"},
        },
        {});
}

// The cable from output to input is a wire: 0 dB and 0 degrees at every point of the band asked
// for, and a CSV a spreadsheet takes whole.
TEST(SweepTool, CableOnTheSimulatedCardIsFlat) {
    const ToolResult run = RunTool({kTavrin, "sweep", "--device", "sim", "--length", "65536",
                                    "--from", "50", "--to", "15000", "--points-per-octave", "12"},
                                   {}, 60000);
    ASSERT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_NE(run.err.find("tavrin-measure: latency "), std::string::npos) << run.err;
    const auto records = CsvRecords(run.out);
    // 50 Hz to 15 kHz at 12 an octave: log2(300) x 12 = 98.7, so 99 points.
    ASSERT_EQ(records.size(), 99u) << run.out.substr(0, 400);
    EXPECT_DOUBLE_EQ(std::stod(records.front().at("freq_hz")), 50.0);
    for (const auto& r : records) {
        EXPECT_NEAR(std::stod(r.at("mag_db")), 0.0, 0.01) << r.at("freq_hz");
        EXPECT_NEAR(std::stod(r.at("phase_deg")), 0.0, 0.1) << r.at("freq_hz");
    }
}

// Ctrl-C mid-sweep: the tool (handed over, without Qt's GUI) stops, says so, and writes no
// result from half a capture.
TEST(SweepTool, CtrlCStopsWithoutAResult) {
    CToolProcess process;
    ASSERT_TRUE(process.Start({kTavrin, "sweep", "--device", "sim"}));
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    ExpectHeadlessTool(process.Pid());
    kill(process.Pid(), SIGINT);
    const ToolResult run = process.Finish(10000);
    EXPECT_EQ(run.exitStatus, 1) << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find("stopped before the sweep had come back"), std::string::npos) << run.err;
}

} // namespace
