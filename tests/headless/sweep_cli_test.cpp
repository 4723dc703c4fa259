// `tavrin sweep` as a script runs it, on the simulated card: every refusal of its command line
// with its exit status, a plain cable measured flat with the CSV on stdout, and Ctrl-C.
#include "tests/headless/tool_checks.h"
#include "tests/headless/tool_process.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <complex>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

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
            {{"--window-ms", "4"}, 2, "--window-ms wants LEFT,RIGHT"},
            {{"--window-ms", "1,0"}, 2, "not '1,0'"},
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

// A known network through the whole tool: the simulated card's X1 runs through the cookbook's
// 1 kHz lowpass (Q 0.707) and X2 straight, so X1 over X2 is the filter's own response, which its
// coefficients give in closed form, to 0.01 dB and 0.1 degree wherever the filter passes at least
// -24 dB; further down the capture's 16-bit rounding, against what little passes, moves the
// reading by a few hundredths of a dB. The phase reads with the relative latency taken out, so it
// is put back here.
TEST(SweepTool, ReferenceReadsALowpassAsItsFormula) {
    const ToolResult run =
        RunTool({kTavrin, "sweep", "--device", "sim:dut=x1:lowpass:1000:0.707", "--reference", "x2",
                 "--length", "65536", "--points-per-octave", "3"},
                {}, 60000);
    ASSERT_EQ(run.exitStatus, 0) << run.err;
    double latency = 0;
    const size_t at = run.err.find("latency ");
    ASSERT_NE(at, std::string::npos) << run.err;
    ASSERT_EQ(std::sscanf(run.err.c_str() + at, "latency %lf", &latency), 1) << run.err;
    const double kPi = 3.141592653589793;
    const double w0 = 2 * kPi * 1000 / 44100.0;
    const double alpha = std::sin(w0) / (2 * 0.707);
    const double c = std::cos(w0);
    const double b0 = (1 - c) / 2, b1 = 1 - c, b2 = (1 - c) / 2;
    const double a0 = 1 + alpha, a1 = -2 * c, a2 = 1 - alpha;
    const auto records = CsvRecords(run.out);
    ASSERT_EQ(records.size(), 30u) << run.out.substr(0, 400); // 20 Hz to 20 kHz, 3 an octave
    int checked = 0;
    for (const auto& r : records) {
        const double hz = std::stod(r.at("freq_hz"));
        const std::complex<double> z1 = std::polar(1.0, -2 * kPi * hz / 44100.0);
        const std::complex<double> h =
            (b0 + b1 * z1 + b2 * z1 * z1) / (a0 + a1 * z1 + a2 * z1 * z1);
        if (std::abs(h) < 1.0 / 16) {
            continue;
        }
        ++checked;
        EXPECT_NEAR(std::stod(r.at("mag_db")), 20 * std::log10(std::abs(h)), 0.01) << hz;
        const double phase = std::stod(r.at("phase_deg")) - 360 * hz * latency / 44100.0;
        const double error = std::remainder(phase - std::arg(h) * 180 / kPi, 360.0);
        EXPECT_NEAR(error, 0.0, 0.1) << hz;
    }
    EXPECT_GE(checked, 18); // 20 Hz to 4 kHz
}

// Subwoofer-like devices, fourth-order lowpasses (two cookbook sections, Q 0.707), that were once
// refused as if nothing had come back: all they pass is measured, and the latency line says
// what it counts from.
class SweepToolBandLimited : public testing::TestWithParam<std::vector<std::string>> {};

TEST_P(SweepToolBandLimited, IsMeasured) {
    std::vector<std::string> args = {kTavrin, "sweep", "--points-per-octave", "3"};
    args.insert(args.end(), GetParam().begin(), GetParam().end());
    const ToolResult run = RunTool(args, {}, 60000);
    ASSERT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_NE(run.err.find("round trip: from the sweep leaving"), std::string::npos) << run.err;
    EXPECT_EQ(CsvRecords(run.out).size(), 30u);
}

INSTANTIATE_TEST_SUITE_P(
    Lowpasses, SweepToolBandLimited,
    testing::Values(
        std::vector<std::string>{"--device", "sim:dut=lowpass:50:0.707+lowpass:50:0.707"},
        std::vector<std::string>{"--device", "sim:dut=lowpass:200:0.707+lowpass:200:0.707",
                                 "--length", "65536"}));

// The round trip by the simulated card's own model: each period's output goes out on the cable
// over the same frames of the card's clock as that period's input captures, so a wire takes no
// time at all; a delay stage is a FIR kSimFirLatencyFrames (16384) late, plus the delay it is
// given, to the fraction of a frame. None of the output queued ahead of the sweep counts.
struct RoundTripCase {
    const char* device;
    double frames;
    const char* rate = "44100"; // another: the measurement stream at s24
};

void PrintTo(const RoundTripCase& c, std::ostream* os) {
    *os << c.device << " at " << c.rate;
}

class SweepToolRoundTrip : public testing::TestWithParam<RoundTripCase> {};

TEST_P(SweepToolRoundTrip, IsTheCardsModel) {
    const bool stream = std::string(GetParam().rate) != "44100";
    std::vector<std::string> args = {
        kTavrin, "sweep",       "--device", GetParam().device, "--points-per-octave",
        "1",     "--reference", "none"};
    const std::vector<std::string> length =
        stream ? std::vector<std::string>{"--rate", GetParam().rate, "--format",
                                          "s24",    "--length",      "262144"}
               : std::vector<std::string>{"--length", "65536"};
    args.insert(args.end(), length.begin(), length.end());
    const ToolResult run = RunTool(args, {}, 60000);
    ASSERT_EQ(run.exitStatus, 0) << run.err;
    double latency = 0, ms = 0;
    const size_t at = run.err.find("latency ");
    ASSERT_NE(at, std::string::npos) << run.err;
    ASSERT_EQ(std::sscanf(run.err.c_str() + at, "latency %lf samples (%lf ms)", &latency, &ms), 2)
        << run.err;
    EXPECT_NEAR(latency, GetParam().frames, 0.01) << run.err;
    EXPECT_NE(run.err.find("round trip: from the sweep leaving the program"), std::string::npos)
        << run.err;
}

INSTANTIATE_TEST_SUITE_P(Cables, SweepToolRoundTrip,
                         testing::Values(RoundTripCase{"sim", 0.0},
                                         RoundTripCase{"sim:dut=delay:0", 16384.0},
                                         RoundTripCase{"sim:dut=delay:37.25", 16421.25},
                                         RoundTripCase{"sim:dut=delay:900", 17284.0},
                                         RoundTripCase{"sim", 0.0, "96000"},
                                         RoundTripCase{"sim:dut=delay:37.25", 16421.25, "96000"}));

// The gate through the tool: stated on stderr with the lowest frequency it holds, and in the FRD.
TEST(SweepTool, WindowMsStatesWhereTheGatedResponseHolds) {
    const std::string frd = testing::TempDir() + "tavrin-sweep-gate.frd";
    const ToolResult run = RunTool({kTavrin, "sweep", "--device", "sim", "--length", "65536",
                                    "--window-ms", "1,5", "--points-per-octave", "3", "--frd", frd},
                                   {}, 60000);
    ASSERT_EQ(run.exitStatus, 0) << run.err;
    // 1 ms and 5 ms in whole frames: 44 and 221, so 44100 / 265 Hz.
    const std::string stated = "gate 1 ms before the peak to 5 ms after it: valid from 166.4 Hz up";
    EXPECT_NE(run.err.find(stated), std::string::npos) << run.err;
    std::ifstream file(frd);
    const std::string text((std::istreambuf_iterator<char>(file)),
                           std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("* " + stated), std::string::npos) << text;
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
