// `tavrin calibrate` and the volts it gives `tavrin measure`, as a script runs them on the
// simulated card: the figure printed and stored, the columns that follow from a calibration
// file, and the refusals.
#include "tests/headless/tool_checks.h"
#include "tests/headless/tool_process.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

const std::string kTavrin = TAVRIN_EXE;

// A folder of its own per test, standing in for XDG_CONFIG_HOME.
std::string ConfigFolder(const char* name) {
    const auto folder = std::filesystem::temp_directory_path() /
                        ("tavrin-calibrate-cli-" + std::to_string(getpid()) + name);
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder / "tavrin");
    return folder.string();
}

std::string ReadText(const std::string& path) {
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

TEST(CalibrateTool, OutputStoresTheReadingOverTheTonesLevel) {
    const std::string config = ConfigFolder("out");
    // 0.5 V read while -6 dBFS plays: 0.5 / 10^(-6/20) V at full scale.
    const ToolResult run = RunTool({kTavrin, "calibrate", "--device", "sim", "--output", "r",
                                    "--vrms", "0.5", "--seconds", "0.2"},
                                   {"XDG_CONFIG_HOME=" + config});
    ASSERT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_EQ(run.out, "0.997631\n");
    const std::string stored = ReadText(config + "/tavrin/calibration.json");
    EXPECT_NE(stored.find("\"side\": \"output\""), std::string::npos) << stored;
    EXPECT_NE(stored.find("\"channel\": 1"), std::string::npos) << stored;
    EXPECT_NE(stored.find("\"vrms_at_0dbfs\": 0.99763115"), std::string::npos) << stored;
}

TEST(CalibrateTool, FileOptionWinsOverTheConfigFolder) {
    const std::string config = ConfigFolder("file");
    const std::string file = config + "/elsewhere/cal.json";
    const ToolResult run =
        RunTool({kTavrin, "calibrate", "--device", "sim", "--output", "l", "--vrms", "2", "--level",
                 "-20", "--seconds", "0.2", "--file", file},
                {"XDG_CONFIG_HOME=" + config});
    ASSERT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_EQ(run.out, "20.000000\n");
    EXPECT_TRUE(std::filesystem::exists(file));
    EXPECT_FALSE(std::filesystem::exists(config + "/tavrin/calibration.json"));
}

// The measured rows in volts from a calibration written here: X1 of "sim" has 2 V at 0 dBFS,
// X2 is calibrated only on another device, which must not lend it its figure.
TEST(CalibrateTool, MeasureShowsVoltsForTheCalibratedChannelOnly) {
    const std::string config = ConfigFolder("measure");
    std::ofstream(config + "/tavrin/calibration.json")
        << R"({"version":1,"entries":[)"
        << R"({"device":"sim","side":"input","channel":0,"vrms_at_0dbfs":2.0,"set_on":"2026-12-08"},)"
        << R"({"device":"hw:9,0","side":"input","channel":1,"vrms_at_0dbfs":7.0,"set_on":"2026-12-08"},)"
        << R"({"device":"sim","side":"output","channel":1,"vrms_at_0dbfs":5.0,"set_on":"2026-12-08"}]})";
    const ToolResult run =
        RunTool({kTavrin, "measure", "--device", "sim", "--generate", "L=1000,sine,-12",
                 "--generate", "R=1000,sine,-6", "--seconds", "0.5"},
                {"XDG_CONFIG_HOME=" + config});
    ASSERT_EQ(run.exitStatus, 0) << run.err;
    const auto records = CsvRecords(run.out);
    ASSERT_GE(records.size(), 5u) << run.out;
    for (const auto& record : records) {
        // The generator's -12 dB is 32767 / 4: 2 V x 32767 / 32768 / 4 = 0.49998 V; a buffer
        // of 92.88 cycles reads within a few ten-thousandths of the whole tone's RMS.
        ASSERT_FALSE(record.at("x1_vrms").empty()) << run.out;
        EXPECT_NEAR(std::stod(record.at("x1_vrms")), 2.0 * 32767 / 32768 / 4, 6e-4);
        EXPECT_EQ(record.at("x2_vrms"), "") << "X2 of sim is not calibrated";
    }
}

TEST(CalibrateTool, MeasureWithADamagedFileSaysSoOnceAndRunsWithoutVolts) {
    const std::string config = ConfigFolder("damaged");
    std::ofstream(config + "/tavrin/calibration.json") << "{\"version\":1,";
    const ToolResult run = RunTool(
        {kTavrin, "measure", "--device", "sim", "--generate", "L=1000,sine,0", "--seconds", "0.3"},
        {"XDG_CONFIG_HOME=" + config});
    ASSERT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_NE(run.err.find("damaged"), std::string::npos) << run.err;
    const auto records = CsvRecords(run.out);
    ASSERT_FALSE(records.empty());
    for (const auto& record : records) {
        EXPECT_EQ(record.at("x1_vrms"), "");
    }
}

TEST(CalibrateTool, RefusesWithOneLineAndItsExitStatus) {
    const std::string config = ConfigFolder("refused");
    const std::vector<BadCall> calls = {
        {{"--input", "x3", "--vrms", "1"}, 2, "--input is x1 or x2"},
        {{"--output", "l"}, 2, "--vrms is needed"},
        {{"--vrms", "1"}, 2, "say what to calibrate"},
        {{"--output", "l", "--vrms", "1", "--level", "-200"}, 2, "--level wants dBFS"},
        {{"--device", "tavrin_no_such_device", "--input", "x1", "--vrms", "1"},
         3,
         "cannot open capture device 'tavrin_no_such_device'"},
    };
    ExpectRefusals({kTavrin, "calibrate"}, calls, {"XDG_CONFIG_HOME=" + config});
    EXPECT_FALSE(std::filesystem::exists(config + "/tavrin/calibration.json"));
}

// `tavrin thd --tone 1000,0.5V` on the simulated card, whose output L has 2 V at 0 dBFS and
// whose input X1 has 1 V: the tone plays at a quarter of full scale (-12.04 dBFS) and X1 reads
// it as 0.25 V; X2, uncalibrated, has no volts.
TEST(CalibrateTool, ThdPlaysATonesVoltsThroughTheOutputsCalibration) {
    const std::string config = ConfigFolder("thd");
    std::ofstream(config + "/tavrin/calibration.json")
        << R"({"version":1,"entries":[)"
        << R"({"device":"sim","side":"output","channel":0,"vrms_at_0dbfs":2.0,"set_on":"2026-12-08"},)"
        << R"({"device":"sim","side":"input","channel":0,"vrms_at_0dbfs":1.0,"set_on":"2026-12-08"}]})";
    const ToolResult run = RunTool({kTavrin, "thd", "--device", "sim", "--tone", "1000,0.5V",
                                    "--block", "8192", "--seconds", "0.4"},
                                   {"XDG_CONFIG_HOME=" + config});
    ASSERT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_NE(run.err.find("at -12.04 dBFS"), std::string::npos) << run.err;
    const auto records = CsvRecords(run.out);
    ASSERT_GE(records.size(), 2u) << run.out;
    for (const auto& record : records) {
        ASSERT_FALSE(record.at("x1_level_vrms").empty()) << run.out;
        // The fundamental's fit over a block: within a part in ten thousand.
        EXPECT_NEAR(std::stod(record.at("x1_level_vrms")), 0.25, 2.5e-5);
        EXPECT_EQ(record.at("x2_level_vrms"), "");
    }
}

TEST(CalibrateTool, ThdRefusesATonesVoltsWithoutTheOutputsCalibration) {
    const std::string config = ConfigFolder("thd-none");
    // An input calibration is not an output's.
    std::ofstream(config + "/tavrin/calibration.json")
        << R"({"version":1,"entries":[)"
        << R"({"device":"sim","side":"input","channel":0,"vrms_at_0dbfs":2.0,"set_on":"2026-12-08"}]})";
    ExpectRefusals({kTavrin, "thd"},
                   {{{"--device", "sim", "--tone", "1000,0.5V"}, 2, "needs the calibration of"}},
                   {"XDG_CONFIG_HOME=" + config});
    // 2 V at 0 dBFS: 3 V would be above full scale.
    std::ofstream(config + "/tavrin/calibration.json")
        << R"({"version":1,"entries":[)"
        << R"({"device":"sim","side":"output","channel":0,"vrms_at_0dbfs":2.0,"set_on":"2026-12-08"}]})";
    ExpectRefusals({kTavrin, "thd"},
                   {{{"--device", "sim", "--tone", "1000,3V"}, 2, "outside -120 to 0 dBFS"}},
                   {"XDG_CONFIG_HOME=" + config});
}

// Refusals after the device ran: its progress line comes first, and nothing is printed or
// stored.
TEST(CalibrateTool, RefusesWhatTheRunCannotCalibrateAndStoresNothing) {
    const std::string config = ConfigFolder("late");
    const std::vector<BadCall> calls = {
        // The simulated card's input is its own output, silent here.
        {{"--device", "sim", "--input", "x1", "--vrms", "1", "--seconds", "0.3"},
         2,
         "below -100 dBFS"},
        {{"--device", "sim", "--output", "l", "--vrms", "1", "--seconds", "0.2", "--file",
          "/proc/tavrin/cal.json"},
         2,
         "nothing stored"},
    };
    for (const BadCall& call : calls) {
        std::vector<std::string> argv = {kTavrin, "calibrate"};
        argv.insert(argv.end(), call.args.begin(), call.args.end());
        const ToolResult run = RunTool(argv, {"XDG_CONFIG_HOME=" + config});
        EXPECT_EQ(run.exitStatus, call.exitStatus) << run.err;
        EXPECT_NE(run.err.find(call.message), std::string::npos) << run.err;
        EXPECT_EQ(run.out, "");
    }
    EXPECT_FALSE(std::filesystem::exists(config + "/tavrin/calibration.json"));
}

} // namespace
