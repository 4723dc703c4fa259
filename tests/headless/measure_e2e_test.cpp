// `tavrin measure` end to end: sox plays a tone into a private sound server's loopback and the
// tool reads it back through the server's ALSA device. The program's own generator stays off, so
// nothing of the program's arithmetic is on both sides of the comparison.
#include "tests/headless/tool_process.h"
#include "tests/support/loopback_server.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <thread>

namespace {

// Not a whole number of hertz, and not a multiple of the readout's 21.53 Hz bins.
constexpr double kToneHertz = 1234.56;
constexpr double kToneDbfs = -6.0;

TEST(MeasureToolE2E, ReadsAToneFromSoxToAHundredthOfAHertzAndATenthOfADb) {
    CLoopbackServer server;
    std::string why;
    ASSERT_TRUE(server.Start(&why)) << why;
    // "alsa:pulse" or "alsa:pipewire": both programs open that ALSA device by name.
    const std::string device = server.AudioChoice().substr(5);

    // 16-bit without dither, so the level is the synthesised one; longer than the measurement.
    CToolProcess sox;
    ASSERT_TRUE(sox.Start({"/usr/bin/sox", "-D", "-n", "-r", "44100", "-c", "2", "-b", "16", "-t",
                           "alsa", device, "synth", "12", "sine", std::to_string(kToneHertz), "vol",
                           std::to_string(kToneDbfs) + "dB"}));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));

    const ToolResult run = RunTool({TAVRIN_EXE, "measure", "--seconds", "3", "--device", device});
    ASSERT_EQ(run.exitStatus, 0) << run.err;
    const auto rows = CsvRows(run.out);
    ASSERT_GE(rows.size(), 30u) << run.out;
    int checked = 0;
    for (const auto& row : rows) {
        // From 1.5 s on, the one-second average no longer reaches back to the tone's onset.
        if (std::stod(row[0]) < 1.5) {
            continue;
        }
        for (int first : {2, 6}) { // X1, then X2: sox plays the tone on both channels
            ASSERT_FALSE(row[first].empty()) << run.out;
            EXPECT_NEAR(std::stod(row[first]), kToneHertz, 0.01) << row[0];
            EXPECT_NEAR(std::stod(row[first + 1]), kToneDbfs, 0.1) << row[0];
            EXPECT_NEAR(std::stod(row[first + 2]), kToneDbfs, 0.1) << row[0];
        }
        ++checked;
    }
    EXPECT_GE(checked, 10);
}

} // namespace
