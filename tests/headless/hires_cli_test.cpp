// The measuring commands at the card's own rate and sample format, as a script runs them on the
// simulated card: THD+N against the rounding of the format's depth worked out here, a filter and
// a capacitor above the panel's Nyquist against their closed forms, a calibration that records
// its format, and the one-line refusal of a device that does not offer the format.
#include "tests/headless/rounded_tone.h"
#include "tests/headless/tool_process.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

namespace {

const std::string kTavrin = TAVRIN_EXE;
constexpr double kPi = 3.141592653589793;

std::vector<std::string> Tool(const char* command, std::vector<std::string> args) {
    args.insert(args.begin(), {kTavrin, command});
    return args;
}

struct ThdCase {
    const char* name;
    const char* format;
    double most_db;  // the reading's ceiling
    int oracle_bits; // 0: none worked out
};

void PrintTo(const ThdCase& c, std::ostream* os) {
    *os << c.name;
}

class HiresThd : public testing::TestWithParam<ThdCase> {};

// A plain cable at 96 kHz: what is left beside the tone is the rounding to the format's depth,
// in the band's share (20 Hz-20 kHz of 48 kHz). At 16 bits that is (2^-15)^2 / 12 against the
// tone's power, worked out here from the rounded samples themselves.
TEST_P(HiresThd, PlainCableReadsTheFormatsOwnRounding) {
    const ThdCase& c = GetParam();
    const ToolResult run = RunTool(Tool("thd", {"--device", "sim", "--rate", "96000", "--format",
                                                c.format, "--tone", "997,-1", "--seconds", "2"}));
    ASSERT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_NE(run.err.find("blocks of 65536 frames (0.683 s)"), std::string::npos) << run.err;
    const auto rows = CsvRecords(run.out);
    ASSERT_EQ(rows.size(), 3u) << run.out; // 2 s is 2.9 blocks of 65536 frames at 96 kHz
    EXPECT_EQ(rows[1].at("time_s"), "0.683");
    for (const std::string channel : {"x1_", "x2_"}) {
        SCOPED_TRACE(channel);
        const auto f0 = MedianOf(rows, channel + "f0_hz");
        const auto thdn = MedianOf(rows, channel + "thdn_db");
        ASSERT_TRUE(f0 && thdn) << run.out;
        EXPECT_NEAR(*f0, 997.0, 0.01);
        EXPECT_LT(*thdn, c.most_db);
        if (c.oracle_bits > 0) {
            const double expected =
                RoundedToneThdnDb(997.0, -1.0, 20.0, 20000.0, 65536, 96000.0, c.oracle_bits);
            EXPECT_NEAR(*thdn, expected, 0.5);
            std::printf("%s%s: THD+N %.2f dB, the rounding's %.2f dB\n", c.name, channel.c_str(),
                        *thdn, expected);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, HiresThd,
                         testing::Values(ThdCase{"s24", "s24", -140.0, 0},
                                         ThdCase{"float", "float", -140.0, 0},
                                         ThdCase{"s16", "s16", -95.0, 16}),
                         [](const auto& info) { return std::string(info.param.name); });

// The cookbook's 30 kHz lowpass (Q 0.707) on X1 at 96 kHz, X2 straight: X1 over X2 is the
// filter's own response, in closed form from its coefficients, above the panel's Nyquist too.
TEST(HiresSweep, ReferenceReadsA30kHzLowpassAsItsFormula) {
    const std::string dir =
        std::filesystem::temp_directory_path() / ("tavrin-hires-sweep-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    const std::string ir = dir + "/ir.wav";
    const ToolResult run =
        RunTool(Tool("sweep", {"--device", "sim:dut=x1:lowpass:30000:0.707", "--reference", "x2",
                               "--rate", "96000", "--format", "s24", "--to", "40000",
                               "--points-per-octave", "3", "--ir", ir}),
                {}, 60000);
    ASSERT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_NE(run.err.find("a sweep of 524288 frames (5.461 s)"), std::string::npos) << run.err;
    double latency = 0;
    const size_t at = run.err.find("latency ");
    ASSERT_NE(at, std::string::npos) << run.err;
    ASSERT_EQ(std::sscanf(run.err.c_str() + at, "latency %lf", &latency), 1) << run.err;
    const double fs = 96000.0;
    const double w0 = 2 * kPi * 30000 / fs;
    const double alpha = std::sin(w0) / (2 * 0.707);
    const double c = std::cos(w0);
    const double b0 = (1 - c) / 2, b1 = 1 - c, b2 = (1 - c) / 2;
    const double a0 = 1 + alpha, a1 = -2 * c, a2 = 1 - alpha;
    const auto records = CsvRecords(run.out);
    ASSERT_GE(records.size(), 33u) << run.out.substr(0, 400); // 20 Hz to 40 kHz, 3 an octave
    EXPECT_GT(std::stod(records.back().at("freq_hz")), 30000.0);
    for (const auto& r : records) {
        const double hz = std::stod(r.at("freq_hz"));
        const std::complex<double> z1 = std::polar(1.0, -2 * kPi * hz / fs);
        const std::complex<double> h =
            (b0 + b1 * z1 + b2 * z1 * z1) / (a0 + a1 * z1 + a2 * z1 * z1);
        EXPECT_NEAR(std::stod(r.at("mag_db")), 20 * std::log10(std::abs(h)), 0.01) << hz;
        const double phase = std::stod(r.at("phase_deg")) - 360 * hz * latency / fs;
        EXPECT_NEAR(std::remainder(phase - std::arg(h) * 180 / kPi, 360.0), 0.0, 0.1) << hz;
    }
    // The impulse response is written at the rate measured, as sox reads it.
    const ToolResult wav = RunTool({"/usr/bin/soxi", "-r", ir});
    EXPECT_EQ(wav.out, "96000\n") << wav.err;
    std::filesystem::remove_all(dir);
}

// A 1 uF capacitor against 100 ohm at 30 kHz, a frequency the panel's rate cannot play:
// |Z| = 1 / (2 pi f C) and -90 degrees.
TEST(HiresImpedance, ReadsACapacitorAt30kHzAsItsClosedForm) {
    const ToolResult run = RunTool(
        Tool("impedance", {"--device", "sim:dut=divider:100:C1e-6", "--ref", "100", "--freq",
                           "30000", "--rate", "96000", "--format", "s24", "--seconds", "1.5"}));
    ASSERT_EQ(run.exitStatus, 0) << run.err;
    const auto rows = CsvRecords(run.out);
    ASSERT_GE(rows.size(), 2u) << run.out;
    const auto ohms = MedianOf(rows, "z_ohm");
    const auto phase = MedianOf(rows, "phase_deg");
    ASSERT_TRUE(ohms && phase) << run.out;
    EXPECT_NEAR(*ohms * (2 * kPi * 30000 * 1e-6), 1.0, 1e-3);
    EXPECT_NEAR(*phase, -90.0, 0.05);
}

// An input calibrated at 96 kHz/24-bit records it; a run at 48 kHz/24-bit applies its volts and
// says where they were taken. The cable carries a -20 dBFS tone of its own, read as 0.1 V.
TEST(HiresCalibrate, RecordsItsFormatAndARunAtAnotherSaysSo) {
    const auto config = std::filesystem::temp_directory_path() /
                        ("tavrin-hires-calibrate-" + std::to_string(getpid()));
    std::filesystem::remove_all(config);
    std::filesystem::create_directories(config / "tavrin");
    const std::vector<std::string> env = {"XDG_CONFIG_HOME=" + config.string()};
    const std::string device = "sim:dut=tone:1000:-20";
    const ToolResult calibrate =
        RunTool(Tool("calibrate", {"--device", device, "--rate", "96000", "--format", "s24",
                                   "--input", "x1", "--vrms", "0.1", "--seconds", "0.5"}),
                env);
    ASSERT_EQ(calibrate.exitStatus, 0) << calibrate.err;
    EXPECT_NEAR(std::stod(calibrate.out), 1.0, 1e-3); // 0.1 V at -20 dBFS
    std::ifstream file(config / "tavrin" / "calibration.json");
    std::stringstream stored;
    stored << file.rdbuf();
    EXPECT_NE(stored.str().find("\"rate_hz\": 96000"), std::string::npos) << stored.str();
    EXPECT_NE(stored.str().find("\"sample_format\": \"s24\""), std::string::npos) << stored.str();

    const ToolResult thd = RunTool(
        Tool("thd", {"--device", device, "--rate", "48000", "--format", "s24", "--seconds", "1"}),
        env);
    ASSERT_EQ(thd.exitStatus, 0) << thd.err;
    EXPECT_NE(thd.err.find("input X1 of '" + device + "' calibrated at 96 kHz/24-bit"),
              std::string::npos)
        << thd.err;
    const auto volts = MedianOf(CsvRecords(thd.out), "x1_level_vrms");
    ASSERT_TRUE(volts) << thd.out;
    EXPECT_NEAR(*volts, 0.1, 1e-3);
    std::filesystem::remove_all(config);
}

// A device that offers 48000 Hz s16 alone (a private ALSA configuration, tavrin_48k): each command
// asked for another format refuses in one line naming what it offers, and exits 3.
TEST(HiresRefusal, ADeviceWithoutTheFormatIsRefusedInOneLine) {
    const std::vector<std::string> env = {std::string("ALSA_CONFIG_PATH=") +
                                          TAVRIN_ALSA_RESTRICTED_CONF};
    const std::vector<std::vector<std::string>> lines = {
        Tool("thd", {"--device", "tavrin_48k", "--rate", "96000", "--seconds", "1"}),
        Tool("sweep", {"--device", "tavrin_48k", "--rate", "96000", "--format", "s24"}),
        Tool("impedance", {"--device", "tavrin_48k", "--rate", "96000", "--ref", "100"}),
        Tool("calibrate",
             {"--device", "tavrin_48k", "--format", "float", "--input", "x1", "--vrms", "1"}),
        Tool("report", {"--device", "tavrin_48k", "--rate", "96000", "--format", "s24", "--out",
                        (std::filesystem::temp_directory_path() /
                         ("tavrin_report_refused_" + std::to_string(getpid())))
                            .string()}),
    };
    for (const auto& line : lines) {
        SCOPED_TRACE(line[1]);
        const ToolResult run = RunTool(line, env);
        EXPECT_EQ(run.exitStatus, 3) << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
        EXPECT_NE(run.err.find("'tavrin_48k' does not offer"), std::string::npos) << run.err;
        EXPECT_NE(run.err.find("it offers 48000 Hz and s16"), std::string::npos) << run.err;
        EXPECT_TRUE(run.out.empty()) << run.out;
    }
}

} // namespace
