// `tavrin measure` as a script runs it, on the simulated card: the rows, the exits, the signals,
// the recording, and that the measuring process never maps Qt's GUI.
#include "tests/headless/tool_checks.h"
#include "tests/headless/tool_process.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

const std::string kTavrin = TAVRIN_EXE;
const std::vector<std::string> kSim = {"TAVRIN_AUDIO=sim"};

std::string ScratchPath(const char* name) {
    return (std::filesystem::temp_directory_path() /
            (std::string("tavrin-measure-test-") + std::to_string(getpid()) + name))
        .string();
}

std::vector<std::string> Measure(std::vector<std::string> args) {
    args.insert(args.begin(), {kTavrin, "measure"});
    return args;
}

// Frames in a WAV file as sox's reader sees it.
long SoxFrames(const std::string& path) {
    const std::string command = "soxi -s '" + path + "' 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    long frames = -1;
    if (pipe != nullptr) {
        if (std::fscanf(pipe, "%ld", &frames) != 1) {
            frames = -1;
        }
        pclose(pipe);
    }
    return frames;
}

TEST(MeasureTool, ReadsTheGeneratorsToneWithTheReadoutsValueAndToHundredthsOfAHertz) {
    const std::string wav = ScratchPath("tone.wav");
    const ToolResult run = RunTool(Measure({"--device", "sim", "--generate", "L=1000,sine,0",
                                            "--seconds", "1", "--record", wav, "--meter", "V"}),
                                   {"XDG_CONFIG_HOME=/nonexistent-tavrin-config"});
    ASSERT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_EQ(run.out.substr(0, run.out.find('\n')),
              "time_s,x1_hz,x1_hz_precise,x1_dbfs_rms,x1_dbfs_peak,x2_hz,x2_hz_precise,"
              "x2_dbfs_rms,x2_dbfs_peak,meter,x1_vrms,x2_vrms");
    const auto rows = CsvRows(run.out);
    // One second is 10.8 buffers of 4096 frames: the run ends with the eleventh.
    ASSERT_EQ(rows.size(), 11u) << run.out;
    for (const auto& row : rows) {
        ASSERT_EQ(row.size(), 12u);
        EXPECT_EQ(row[1], "990");
        EXPECT_NEAR(std::stod(row[2]), 1000.0, 0.05) << row[2];
        EXPECT_NEAR(std::stod(row[3]), 0.0, 0.02) << row[3];
        EXPECT_EQ(row[6], "") << "X2 is silent";
        // V(AC): a full-scale sine reads about 33157 on the panel's readout.
        EXPECT_NEAR(std::stoi(row[9]), 33157, 60);
        EXPECT_EQ(row[10], "") << "no calibration, no volts";
    }
    // The recording holds exactly the measured buffers, and its sizes were written at the end.
    EXPECT_EQ(SoxFrames(wav), long(rows.size()) * 4096);
    std::filesystem::remove(wav);
}

// The generator's attenuation reaches the card: -24 dB on L and -6 dB on R read back at those
// levels (a sine of 32767/16 and 32767/2 on the 32768 full scale).
TEST(MeasureTool, GeneratedLevelsReadBackAtTheirDbfs) {
    const ToolResult run = RunTool(Measure({"--device", "sim", "--generate", "L=1000,sine,-24",
                                            "--generate", "R=1000,sine,-6", "--seconds", "0.3"}));
    ASSERT_EQ(run.exitStatus, 0) << run.err;
    const auto rows = CsvRows(run.out);
    ASSERT_FALSE(rows.empty()) << run.out;
    for (const auto& row : rows) {
        ASSERT_EQ(row.size(), 11u);
        EXPECT_NEAR(std::stod(row[3]), -24.08, 0.03) << "X1 RMS";
        EXPECT_NEAR(std::stod(row[4]), -24.08, 0.03) << "X1 peak";
        EXPECT_NEAR(std::stod(row[7]), -6.02, 0.03) << "X2 RMS";
        EXPECT_NEAR(std::stod(row[8]), -6.02, 0.03) << "X2 peak";
    }
}

TEST(MeasureTool, RefusesBadArgumentsAndAMissingDeviceWithOneLineAndItsExitStatus) {
    const std::vector<BadCall> calls = {
        {{"--seconds", "0"}, 2, "--seconds wants a number above 0"},
        {{"--seconds", "1e300"}, 2, "not '1e300'"},
        {{"--seconds"}, 2, "--seconds needs a value"},
        {{"--format", "xml"}, 2, "--format is csv or jsonl"},
        {{"--generate", "L=20001,sine,0"}, 2, "not 'L=20001,sine,0'"},
        {{"--generate", "R=1000,sine,-3"}, 2, "not 'R=1000,sine,-3'"},
        {{"--generate", "X=1000,sine,0"}, 2, "not 'X=1000,sine,0'"},
        {{"--generate", "L=1000,noise,0"}, 2, "not 'L=1000,noise,0'"},
        {{"--meter", "Z"}, 2, "--meter is R, C, L or V"},
        {{"--meter", "R", "--ref", "0"}, 2, "--ref wants a number from 0.001 to 10000"},
        {{"--ref", "100"}, 2, "--ref needs --meter"},
        {{"--colour", "red"}, 2, "unknown option '--colour'"},
        {{"--seconds", "1", "--record", "/nonexistent-dir/x.wav"},
         2,
         "cannot create '/nonexistent-dir/x.wav'"},
        {{"--seconds", "1", "--device", "tavrin_no_such_device"},
         3,
         "cannot open capture device 'tavrin_no_such_device': WAVEIN:"},
    };
    ExpectRefusals({kTavrin, "measure"}, calls, kSim);
}

std::string MappedFiles(pid_t pid) {
    std::ifstream maps("/proc/" + std::to_string(pid) + "/maps");
    std::stringstream text;
    text << maps.rdbuf();
    return text.str();
}

TEST(MeasureTool, RunsWithoutQtGuiAndEndsCleanlyOnSigtermWithTheRecordingFinished) {
    for (const int signal : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(signal);
        const std::string wav = ScratchPath("signal.wav");
        CToolProcess process;
        std::vector<std::string> env = kSim;
        env.push_back("DISPLAY=");
        env.push_back("WAYLAND_DISPLAY=");
        ASSERT_TRUE(process.Start(Measure({"--format", "jsonl", "--record", wav}), env));
        std::string header, row;
        ASSERT_TRUE(process.ReadLine(&header, 10000));
        ASSERT_TRUE(process.ReadLine(&row, 10000));
        EXPECT_EQ(row.rfind("{\"time_s\":0.000,", 0), 0u) << row;

        const std::string maps = MappedFiles(process.Pid());
        EXPECT_NE(maps.find("/tavrin-measure"), std::string::npos) << "not handed over";
        EXPECT_EQ(maps.find("libQt6Gui"), std::string::npos);
        EXPECT_EQ(maps.find("libQt6Widgets"), std::string::npos);

        kill(process.Pid(), signal);
        const ToolResult run = process.Finish(10000);
        EXPECT_EQ(run.exitStatus, 0) << run.err;
        EXPECT_NE(run.err.find("stopped by signal"), std::string::npos) << run.err;
        // Every buffer that has a row is in the file, which sox reads to its end.
        const long rows = 1 + long(std::count(run.out.begin(), run.out.end(), '\n'));
        EXPECT_GE(SoxFrames(wav), rows * 4096);
        EXPECT_EQ(SoxFrames(wav) % 4096, 0);
        std::filesystem::remove(wav);
    }
}

} // namespace
