// `tavrin report` end to end through a private sound server's loopback: a wire that carries the
// samples unchanged, so every figure is the program's own signals' (the silence, the rounding of
// a tone to 16 bits, or a float tone's none) and every step ends done.
#include "tests/headless/tool_process.h"
#include "tests/support/loopback_server.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <unistd.h>

namespace {

// id -> value, as Python's json module reads report.json (and finds summary.csv agreeing).
std::map<std::string, double> Figures(const std::string& dir, std::string* errors) {
    const ToolResult read = RunTool(
        {"/usr/bin/env", "python3", TAVRIN_SOURCE_DIR "/tests/headless/read_report.py", dir});
    *errors = read.exitStatus == 0 ? "" : read.err + "(read_report.py failed)";
    std::map<std::string, double> values;
    std::istringstream lines(read.out);
    for (std::string line; std::getline(lines, line);) {
        const size_t tab = line.find('\t');
        const size_t tab2 = line.find('\t', tab + 1);
        const std::string value = line.substr(tab + 1, tab2 - tab - 1);
        if (!value.empty()) {
            values[line.substr(0, tab)] = std::stod(value);
        }
    }
    return values;
}

// The server's positions disagree now and then (about one run in four): the round trip is then
// left out of the figures, and the sweep's note gives the relative figure instead.
void ExpectRoundTripOrSaidRelative(const std::map<std::string, double>& f, const std::string& dir) {
    if (f.count("latency_ms") != 0) {
        EXPECT_GT(f.at("latency_ms"), 0.0);
        return;
    }
    const ToolResult steps =
        RunTool({"/usr/bin/env", "python3", TAVRIN_SOURCE_DIR "/tests/headless/read_report.py",
                 "--steps", dir});
    EXPECT_NE(steps.out.find("relative"), std::string::npos) << steps.out;
}

TEST(ReportToolE2E, LoopbackReadsAsAWireThatCarriesTheSamplesUnchanged) {
    CLoopbackServer server;
    std::string why;
    ASSERT_TRUE(server.Start(&why)) << why;
    const std::string device = server.AudioChoice().substr(5); // "alsa:pulse" -> "pulse"
    const std::string dir =
        (std::filesystem::temp_directory_path() / ("tavrin-report-e2e-" + std::to_string(getpid())))
            .string();
    std::filesystem::remove_all(dir);
    const ToolResult run =
        RunTool({TAVRIN_EXE, "report", "--device", device, "--out", dir}, {}, 110000);
    ASSERT_EQ(run.exitStatus, 0) << run.err;
    std::string errors;
    const auto f = Figures(dir, &errors);
    ASSERT_EQ(errors, "");

    EXPECT_EQ(f.at("output_ceiling_dbfs"), 0.0);
    // An ideal 16-bit tone: its rounding is the only noise, q^2 / 12 over the whole band
    // (-98.09 dB re a full-scale sine), of which 20 Hz-20 kHz holds 19980 / 22050.
    const double floorDb = -(6.02 * 16 + 1.76) + 10 * std::log10(19980.0 / 22050);
    for (const char* ch : {"_l", "_r"}) {
        const std::string c = ch;
        EXPECT_NEAR(f.at("gain_db" + c), 0.0, 0.001);
        for (const char* id : {"response_max_db", "response_min_db", "response_wide_max_db",
                               "response_wide_min_db"}) {
            EXPECT_NEAR(f.at(id + c), 0.0, 0.02) << id;
        }
        EXPECT_FALSE(f.count("response_low_hz" + c)) << "a wire has no -3 dB point";
        EXPECT_LT(f.at("noise_dbfs" + c), -140) << "the wire adds nothing to silence";
        EXPECT_NEAR(f.at("thdn_m1dbfs_db" + c), floorDb + 1, 0.3);
        EXPECT_NEAR(f.at("thdn_m20dbfs_db" + c), floorDb + 20, 0.3);
        EXPECT_LT(f.at("thd_m1dbfs_db" + c), -110);
        EXPECT_LT(f.at("imd_smpte_pct" + c), 0.001);
        EXPECT_FALSE(f.count("clipping_dbfs" + c)) << "a 0 dBFS tone stays below full scale";
    }
    for (const char* id : {"crosstalk_l_to_r_1khz_db", "crosstalk_r_to_l_1khz_db"}) {
        EXPECT_LT(f.at(id), -140) << id;
    }
    EXPECT_NEAR(f.at("balance_level_db"), 0.0, 1e-6);
    EXPECT_NEAR(f.at("balance_phase_deg"), 0.0, 1e-4);
    ExpectRoundTripOrSaidRelative(f, dir);
}

// The same wire run at 96000 Hz float, the report opening the card at that format: nothing rounds
// the tones, so THD+N reads far below the 16-bit floor above, and report.json records the format.
TEST(ReportToolE2E, FloatLoopbackAt96kReadsBelowAny16BitFloor) {
    CLoopbackServer server;
    std::string why;
    setenv("TAVRIN_TEST_SINK", "float32le:96000", 1);
    const bool started = server.Start(&why);
    unsetenv("TAVRIN_TEST_SINK");
    ASSERT_TRUE(started) << why;
    const std::string device = server.AudioChoice().substr(5); // "alsa:pulse" -> "pulse"
    const std::string dir = (std::filesystem::temp_directory_path() /
                             ("tavrin-report-e2e-float-" + std::to_string(getpid())))
                                .string();
    std::filesystem::remove_all(dir);
    const ToolResult run = RunTool({TAVRIN_EXE, "report", "--device", device, "--out", dir,
                                    "--rate", "96000", "--format", "float"},
                                   {}, 110000);
    ASSERT_EQ(run.exitStatus, 0) << run.err;
    std::string errors;
    const auto f = Figures(dir, &errors);
    ASSERT_EQ(errors, "");
    const ToolResult header =
        RunTool({"/usr/bin/env", "python3", TAVRIN_SOURCE_DIR "/tests/headless/read_report.py",
                 "--header", dir});
    EXPECT_EQ(header.out, "96000\tfloat\t96 kHz/32-bit float, stereo\n");
    for (const char* ch : {"_l", "_r"}) {
        const std::string c = ch;
        EXPECT_NEAR(f.at("gain_db" + c), 0.0, 0.001);
        EXPECT_NEAR(f.at("response_wide_min_db" + c), 0.0, 0.02);
        EXPECT_LT(f.at("thdn_m1dbfs_db" + c), -130);
        EXPECT_LT(f.at("noise_dbfs" + c), -140);
    }
    EXPECT_LT(f.at("crosstalk_l_to_r_1khz_db"), -140);
    ExpectRoundTripOrSaidRelative(f, dir);
}

} // namespace
