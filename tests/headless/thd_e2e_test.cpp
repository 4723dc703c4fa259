// `tavrin thd` end to end through a private sound server's loopback: the tool's own tone read
// back against the THD+N its 16-bit samples carry, and a file with planted harmonics, played by
// sox, read against the THD the plant makes.
#include "tests/headless/rounded_tone.h"
#include "tests/headless/tool_process.h"
#include "tests/support/loopback_server.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <thread>
#include <unistd.h>

namespace {

// The rows after the first: the first block may hold the tone's onset (or the sound server's
// start), which the analyser refuses or which is not yet steady.
constexpr size_t kOnsetRows = 1;

TEST(ThdToolE2E, ReadsItsOwnToneThroughTheLoopbackWithinADbOfItsRounding) {
    CLoopbackServer server;
    std::string why;
    ASSERT_TRUE(server.Start(&why)) << why;
    const std::string device = server.AudioChoice().substr(5); // "alsa:pulse" -> "pulse"

    const ToolResult run = RunTool(
        {TAVRIN_EXE, "thd", "--tone", "997,-1", "--seconds", "4", "--device", device}, {}, 60000);
    ASSERT_EQ(run.exitStatus, 0) << run.err;
    const auto rows = CsvRecords(run.out);
    ASSERT_EQ(rows.size(), 3u) << run.out;
    const double expected = RoundedToneThdnDb(997.0, -1.0, 20.0, 20000.0);
    for (const std::string channel : {"x1_", "x2_"}) {
        const auto thdn = MedianOf(rows, channel + "thdn_db", kOnsetRows);
        ASSERT_TRUE(thdn.has_value()) << run.out;
        EXPECT_NEAR(*thdn, expected, 1.0) << channel << "\n" << run.out;
    }
}

// H2 at -60 dB and H3 at -70 dB below a -6 dBFS fundamental at 997 Hz, rounded to 16 bits:
// THD = sqrt(10^-6 + 10^-7), -59.59 dB.
std::string WritePlantedFile(double seconds) {
    const std::string path = (std::filesystem::temp_directory_path() /
                              ("tavrin-thd-e2e-" + std::to_string(getpid()) + ".raw"))
                                 .string();
    std::ofstream file(path, std::ios::binary);
    const double fundamental = 0.5 * 32768.0;
    const int frames = int(seconds * 44100);
    for (int n = 0; n < frames; ++n) {
        const double cycles = std::fmod(997.0 * n, 44100.0) / 44100.0;
        const double w = 2.0 * std::numbers::pi * cycles;
        const double x = fundamental * (std::sin(w) + 1e-3 * std::sin(2 * w + 0.3) +
                                        std::pow(10.0, -70.0 / 20.0) * std::sin(3 * w + 1.1));
        const int16_t code = int16_t(std::nearbyint(x));
        const char bytes[2] = {char(code & 0xff), char((code >> 8) & 0xff)};
        file.write(bytes, 2); // L
        file.write(bytes, 2); // R
    }
    return path;
}

TEST(ThdToolE2E, ReadsPlantedHarmonicsFromSoxWithinAFifthOfADb) {
    CLoopbackServer server;
    std::string why;
    ASSERT_TRUE(server.Start(&why)) << why;
    const std::string device = server.AudioChoice().substr(5);

    const std::string raw = WritePlantedFile(12.0);
    CToolProcess sox;
    ASSERT_TRUE(sox.Start({"/usr/bin/sox", "-D", "-t", "raw", "-r", "44100", "-e", "signed", "-b",
                           "16", "-c", "2", "-L", raw, "-t", "alsa", device}));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));

    // Nothing played by the tool: it measures what comes in.
    const ToolResult run =
        RunTool({TAVRIN_EXE, "thd", "--seconds", "4", "--device", device}, {}, 60000);
    std::filesystem::remove(raw);
    ASSERT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_EQ(run.err.find("playing"), std::string::npos) << run.err;
    const auto rows = CsvRecords(run.out);
    const double expected = 10.0 * std::log10(1e-6 + 1e-7);
    for (const std::string channel : {"x1_", "x2_"}) {
        const auto thd = MedianOf(rows, channel + "thd_db", kOnsetRows);
        ASSERT_TRUE(thd.has_value()) << run.out;
        EXPECT_NEAR(*thd, expected, 0.2) << channel << "\n" << run.out;
        const auto h2 = MedianOf(rows, channel + "h2_db", kOnsetRows);
        const auto h3 = MedianOf(rows, channel + "h3_db", kOnsetRows);
        ASSERT_TRUE(h2 && h3);
        EXPECT_NEAR(*h2, -60.0, 0.2);
        EXPECT_NEAR(*h3, -70.0, 0.3);
    }
}

} // namespace
