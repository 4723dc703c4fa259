// `tavrin impedance --external` end to end through a private sound server's loopback: sox plays
// what a real divider with a 1 uF capacitor over 100 Ohm would put on the two inputs, and the
// tool reads the capacitor back.
#include "tests/headless/tool_process.h"
#include "tests/support/loopback_server.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <complex>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <thread>
#include <unistd.h>

namespace {

constexpr double kFreqHz = 1000.0;
constexpr double kRefOhm = 100.0;
constexpr double kCapF = 1e-6;

// X1 the source, X2 the source times R / (Z + R) for Z = 1 / (j w C): a 0.532 share of it,
// leading by 57.86 degrees. 16-bit stereo, both channels rounded.
std::string WriteDividerFile(double seconds) {
    const std::string path = (std::filesystem::temp_directory_path() /
                              ("tavrin-impedance-e2e-" + std::to_string(getpid()) + ".raw"))
                                 .string();
    const std::complex<double> z(0.0, -1.0 / (2 * std::numbers::pi * kFreqHz * kCapF));
    const std::complex<double> h = kRefOhm / (z + kRefOhm);
    std::ofstream file(path, std::ios::binary);
    const double peak = 0.7 * 32768.0;
    const int frames = int(seconds * 44100);
    for (int n = 0; n < frames; ++n) {
        const double w = 2.0 * std::numbers::pi * std::fmod(kFreqHz * n, 44100.0) / 44100.0;
        for (const double x :
             {peak * std::sin(w), peak * std::abs(h) * std::sin(w + std::arg(h))}) {
            const int16_t code = int16_t(std::nearbyint(x));
            const char bytes[2] = {char(code & 0xff), char((code >> 8) & 0xff)};
            file.write(bytes, 2);
        }
    }
    return path;
}

TEST(ImpedanceToolE2E, ReadsARealDividersCapacitorFromSoxWithinHalfAPerCent) {
    CLoopbackServer server;
    std::string why;
    ASSERT_TRUE(server.Start(&why)) << why;
    const std::string device = server.AudioChoice().substr(5); // "alsa:pulse" -> "pulse"

    const std::string raw = WriteDividerFile(12.0);
    CToolProcess sox;
    ASSERT_TRUE(sox.Start({"/usr/bin/sox", "-D", "-t", "raw", "-r", "44100", "-e", "signed", "-b",
                           "16", "-c", "2", "-L", raw, "-t", "alsa", device}));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));

    const std::string config =
        (std::filesystem::temp_directory_path() / "tavrin_impedance_e2e").string();
    const ToolResult run = RunTool({TAVRIN_EXE, "impedance", "--ref", "100", "--external",
                                    "--seconds", "3", "--device", device},
                                   {"XDG_CONFIG_HOME=" + config}, 60000);
    std::filesystem::remove(raw);
    ASSERT_EQ(run.exitStatus, 0) << run.err;
    const auto rows = CsvRecords(run.out);
    ASSERT_GE(rows.size(), 2u) << run.out;
    const auto freq = MedianOf(rows, "freq_hz");
    const auto cap = MedianOf(rows, "c_f");
    const auto phase = MedianOf(rows, "phase_deg");
    ASSERT_TRUE(freq && cap && phase) << run.out;
    EXPECT_NEAR(*freq, kFreqHz, 0.01) << run.out;
    EXPECT_NEAR(*cap / kCapF, 1.0, 5e-3) << run.out;
    EXPECT_NEAR(*phase, -90.0, 0.2) << run.out;
}

} // namespace
