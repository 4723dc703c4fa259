// `tavrin thd` at 96 kHz in float end to end, through a private sound server's loopback run at
// 96000 Hz float: the tool's own tone read back far below any 16-bit stage's floor, and a
// 24-bit file with harmonics planted 120 and 125 dB down, made by sox and played by it, read
// against the plant.
#include "tests/headless/tool_process.h"
#include "tests/support/loopback_server.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <random>
#include <thread>
#include <unistd.h>

namespace {

constexpr int kRateHz = 96000;
// The rows after the first: the first block may hold the tone's onset or the server's start.
constexpr size_t kOnsetRows = 1;

// The ALSA device of a loopback whose sink runs at 96000 Hz float; "" with the reason in *why.
std::string StartFloatLoopback(CLoopbackServer& server, std::string* why) {
    setenv("TAVRIN_TEST_SINK", "float32le:96000", 1);
    const bool started = server.Start(why);
    unsetenv("TAVRIN_TEST_SINK");
    return started ? server.AudioChoice().substr(server.AudioChoice().find(':') + 1) : "";
}

TEST(HiresThdE2E, ReadsItsOwn96kFloatToneBelowMinus130Db) {
    CLoopbackServer server;
    std::string why;
    const std::string device = StartFloatLoopback(server, &why);
    ASSERT_FALSE(device.empty()) << why;
    const ToolResult run = RunTool({TAVRIN_EXE, "thd", "--rate", "96000", "--format", "float",
                                    "--tone", "997,-1", "--seconds", "3", "--device", device},
                                   {}, 60000);
    ASSERT_EQ(run.exitStatus, 0) << run.err;
    const auto rows = CsvRecords(run.out);
    ASSERT_GE(rows.size(), 4u) << run.out;
    for (const std::string channel : {"x1_", "x2_"}) {
        const auto thdn = MedianOf(rows, channel + "thdn_db", kOnsetRows);
        ASSERT_TRUE(thdn.has_value()) << run.out;
        EXPECT_LE(*thdn, -130.0) << channel << "\n" << run.out;
        std::printf("%sthdn_db %.2f\n", channel.c_str(), *thdn);
    }
}

// A -6 dBFS 997 Hz tone with H2 120 dB and H3 125 dB below it, as signed 24-bit samples with
// TPDF dither of one step (so the rounding does not follow the tone), raw, for sox.
std::string WritePlantedRaw(const std::string& path, double seconds) {
    std::ofstream file(path, std::ios::binary);
    const double fundamental = 0.5 * 8388608.0;
    std::mt19937_64 random(20261210);
    std::uniform_real_distribution<double> uniform(0.0, 1.0);
    const int frames = int(seconds * kRateHz);
    for (int n = 0; n < frames; ++n) {
        const double w = 2.0 * std::numbers::pi * std::fmod(997.0 * n, double(kRateHz)) / kRateHz;
        const double x =
            fundamental * (std::sin(w) + std::pow(10.0, -120.0 / 20.0) * std::sin(2 * w + 0.3) +
                           std::pow(10.0, -125.0 / 20.0) * std::sin(3 * w + 1.1));
        for (int channel = 0; channel < 2; ++channel) {
            const auto code = int32_t(std::nearbyint(x + uniform(random) - uniform(random)));
            const char bytes[3] = {char(code & 0xff), char((code >> 8) & 0xff),
                                   char((code >> 16) & 0xff)};
            file.write(bytes, 3);
        }
    }
    return path;
}

TEST(HiresThdE2E, ReadsHarmonicsPlanted120And125DbDownWithinHalfADb) {
    CLoopbackServer server;
    std::string why;
    const std::string device = StartFloatLoopback(server, &why);
    ASSERT_FALSE(device.empty()) << why;

    const auto dir =
        std::filesystem::temp_directory_path() / ("tavrin-hires-e2e-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    const std::string raw = WritePlantedRaw((dir / "planted.raw").string(), 12.0);
    const std::string wav = (dir / "planted.wav").string();
    const ToolResult made = RunTool({"/usr/bin/sox", "-t", "raw", "-r", "96000", "-e", "signed",
                                     "-b", "24", "-c", "2", "-L", raw, "-b", "24", wav});
    ASSERT_EQ(made.exitStatus, 0) << made.err;
    const ToolResult rate = RunTool({"/usr/bin/soxi", "-r", wav});
    ASSERT_EQ(rate.out, "96000\n");

    CToolProcess player;
    ASSERT_TRUE(player.Start({"/usr/bin/sox", "-D", wav, "-t", "alsa", device}));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    // Nothing played by the tool: it measures what comes in.
    const ToolResult run = RunTool({TAVRIN_EXE, "thd", "--rate", "96000", "--format", "float",
                                    "--seconds", "5", "--device", device},
                                   {}, 60000);
    std::filesystem::remove_all(dir);
    ASSERT_EQ(run.exitStatus, 0) << run.err;
    const auto rows = CsvRecords(run.out);
    for (const std::string channel : {"x1_", "x2_"}) {
        const auto h2 = MedianOf(rows, channel + "h2_db", kOnsetRows);
        const auto h3 = MedianOf(rows, channel + "h3_db", kOnsetRows);
        ASSERT_TRUE(h2 && h3) << run.out;
        EXPECT_NEAR(*h2, -120.0, 0.5) << channel << "\n" << run.out;
        EXPECT_NEAR(*h3, -125.0, 0.5) << channel << "\n" << run.out;
        std::printf("%sh2_db %.2f h3_db %.2f\n", channel.c_str(), *h2, *h3);
    }
}

} // namespace
