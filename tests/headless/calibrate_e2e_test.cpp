// `tavrin calibrate` and `tavrin measure` end to end through a private sound server's loopback:
// sox plays a sine at half full scale, read as 1 V, and then one at a quarter, which must read
// 0.5 V. sox makes both tones, so the figure rests on sox's amplitudes, not on the program's own
// generator.
#include "tests/headless/tool_process.h"
#include "tests/support/loopback_server.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <thread>
#include <unistd.h>

namespace {

constexpr double kToneHertz = 1000.0;

// A tone from sox into the loopback for `seconds`, at `amplitude` of full scale, undithered.
bool PlaySine(CToolProcess* sox, const std::string& device, double amplitude, int seconds) {
    return sox->Start({"/usr/bin/sox", "-D", "-n", "-r", "44100", "-c", "2", "-b", "16", "-t",
                       "alsa", device, "synth", std::to_string(seconds), "sine",
                       std::to_string(kToneHertz), "vol", std::to_string(amplitude)});
}

TEST(CalibrateToolE2E, AnInputCalibratedAtOneVoltReadsHalfTheAmplitudeAsHalfAVolt) {
    CLoopbackServer server;
    std::string why;
    ASSERT_TRUE(server.Start(&why)) << why;
    const std::string device = server.AudioChoice().substr(5); // "alsa:pulse" -> "pulse"
    const auto config = std::filesystem::temp_directory_path() /
                        ("tavrin-calibrate-e2e-" + std::to_string(getpid()));
    std::filesystem::remove_all(config);
    const std::vector<std::string> env = {"XDG_CONFIG_HOME=" + config.string()};

    {
        CToolProcess sox;
        ASSERT_TRUE(PlaySine(&sox, device, 0.5, 8));
        std::this_thread::sleep_for(std::chrono::seconds(1));
        const ToolResult run = RunTool({TAVRIN_EXE, "calibrate", "--device", device, "--input",
                                        "x1", "--vrms", "1.000", "--seconds", "2"},
                                       env, 60000);
        ASSERT_EQ(run.exitStatus, 0) << run.err;
        // Whatever the loopback's gain, half full scale is near 2 V at 0 dBFS.
        EXPECT_NEAR(std::stod(run.out), 2.0, 0.1) << run.out;
        sox.Finish();
    }

    CToolProcess sox;
    ASSERT_TRUE(PlaySine(&sox, device, 0.25, 8));
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const ToolResult run =
        RunTool({TAVRIN_EXE, "measure", "--device", device, "--seconds", "3"}, env, 60000);
    ASSERT_EQ(run.exitStatus, 0) << run.err;
    const auto rows = CsvRecords(run.out);
    ASSERT_GE(rows.size(), 20u) << run.out;
    // The rows after the first second: the sound server's start is behind them.
    const auto vrms = MedianOf(rows, "x1_vrms", 11);
    ASSERT_TRUE(vrms.has_value()) << run.out;
    EXPECT_NEAR(20 * std::log10(*vrms / 0.5), 0.0, 0.01) << *vrms;
    // X2 carries the same tone but was never calibrated.
    EXPECT_FALSE(MedianOf(rows, "x2_vrms").has_value());
    std::filesystem::remove_all(config);
}

} // namespace
