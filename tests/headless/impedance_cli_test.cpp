// `tavrin impedance` as a script runs it, on the simulated card's divider: parts read against
// their impedances in closed form, the refusals with their exit statuses, and a sweep whose ZMA
// file parses back to the network's curve.
#include "analysis/calibration/impedance_calibration.h"
#include "analysis/impedance/impedance_files.h"
#include "tests/headless/tool_checks.h"
#include "tests/headless/tool_process.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

namespace {

using Complex = std::complex<double>;
constexpr double kPi = 3.141592653589793;
constexpr double kDegPerRad = 180.0 / kPi;
const std::string kTavrin = TAVRIN_EXE;

// A configuration folder of the test's own: no stored corrections from elsewhere apply.
std::vector<std::string> Env() {
    const std::string folder = std::filesystem::temp_directory_path() / "tavrin_impedance_cli";
    std::filesystem::create_directories(folder);
    return {"TAVRIN_AUDIO=sim", "XDG_CONFIG_HOME=" + folder};
}

std::vector<std::string> Impedance(std::vector<std::string> args) {
    args.insert(args.begin(), {kTavrin, "impedance"});
    return args;
}

Complex JOmega(double freq_hz) {
    return {0.0, 2 * kPi * freq_hz};
}

TEST(ImpedanceTool, RefusesBadArgumentsAndAMissingDeviceWithOneLineAndItsExitStatus) {
    ExpectRefusals(
        {kTavrin, "impedance"},
        {
            {{"--freq", "1000"}, 2, "--ref is needed"},
            {{"--ref", "0"}, 2, "--ref wants the reference resistor in ohms from 0.1 to 1e6"},
            {{"--ref", "100", "--freq", "9.99"}, 2, "--freq wants a frequency in hertz from 10"},
            {{"--ref", "100", "--freq", "20001"}, 2, "not '20001'"},
            {{"--ref", "100", "--sweep", "2000-20"}, 2, "--sweep wants LO-HI in hertz"},
            {{"--ref", "100", "--sweep", "20"}, 2, "not '20'"},
            {{"--ref", "100", "--sweep", "20-200", "--points-per-octave", "0"},
             2,
             "--points-per-octave wants a whole number from 1 to 96"},
            {{"--ref", "100", "--model", "tank"}, 2, "--model wants series or parallel"},
            {{"--ref", "100", "--input-impedance", "-5"}, 2, "--input-impedance wants"},
            {{"--ref", "100", "--level", "1"}, 2, "--level wants the test tone's RMS"},
            {{"--ref", "100", "--freq", "1000", "--sweep", "20-200"}, 2, "give one of them"},
            {{"--ref", "100", "--external", "--freq", "1000"}, 2, "--external measures the tone"},
            {{"--ref", "100", "--zma", "x.zma"}, 2, "--zma and --points-per-octave belong"},
            {{"--ref", "100", "--sweep", "20-200", "--seconds", "3"}, 2, "--seconds does not"},
            {{"--ref", "100", "--sweep", "20-200", "--format", "jsonl"}, 2, "--format and --model"},
            {{"--ref", "100", "--calibrate", "leads"}, 2, "--calibrate wants match, open, short"},
            {{"--ref", "100", "--calibrate", "match", "--external"},
             2,
             "--calibrate plays its own"},
            {{"--calibrate", "clear", "--ref", "100"}, 2, "--calibrate clear measures nothing"},
            {{"--ref", "10", "--sweep", "20-200", "--added-mass", "5", "--sd", "100", "--free-air",
              "/nonexistent/free.zma"},
             2,
             "cannot read --free-air '/nonexistent/free.zma'"},
            {{"--ref", "100", "--sweep", "20-200", "--zma", "/nonexistent/dir/x.zma"},
             2,
             "cannot write --zma '/nonexistent/dir/x.zma'"},
            {{"--ref", "100", "--seconds", "1", "--device", "tavrin_no_such_device"},
             3,
             "cannot open capture device 'tavrin_no_such_device'"},
        },
        Env());
}

TEST(ImpedanceTool, HelpShowsItsUsageAndEveryCommand) {
    const ToolResult run = RunTool(Impedance({"--help"}));
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(run.out.rfind("usage: tavrin impedance --ref OHMS", 0), 0u) << run.out;
    for (const char* command : {"tavrin measure  ", "tavrin thd  ", "tavrin impedance  "}) {
        EXPECT_NE(run.out.find(command), std::string::npos) << command;
    }
}

struct PartCase {
    const char* name;
    std::string network; // the divider's, in the simulated card's grammar
    double r_ref_ohm;
    double freq_hz;
    std::function<Complex(double freq_hz)> z_ohm;
    std::vector<std::string> extra; // added to the command line
    std::string stages;             // after the divider
    double tol_share;               // of |Z|
    double tol_deg;
    const char* value_column; // "c_f", "l_h" or "r_ohm": the part's value, to tol_share
    double value;
};

void PrintTo(const PartCase& c, std::ostream* os) {
    *os << c.name;
}

class ImpedancePart : public ::testing::TestWithParam<PartCase> {};

// The median of a second's rows against the closed form: the card's own X1 and X2 are alike, so
// only the tone's rounding to codes and the noise asked for stand between them.
TEST_P(ImpedancePart, ReadsThePartAsItsClosedForm) {
    const PartCase& c = GetParam();
    char ref[32];
    std::snprintf(ref, sizeof ref, "%g", c.r_ref_ohm);
    const std::string device = "sim:dut=divider:" + std::string(ref) + ":" + c.network + c.stages;
    std::vector<std::string> args = {"--ref",     ref,   "--freq",   std::to_string(c.freq_hz),
                                     "--seconds", "1.5", "--device", device};
    args.insert(args.end(), c.extra.begin(), c.extra.end());
    const ToolResult run = RunTool(Impedance(args), Env());
    ASSERT_EQ(run.exitStatus, 0) << run.err;
    const auto rows = CsvRecords(run.out);
    ASSERT_GE(rows.size(), 2u) << run.out;
    const Complex z = c.z_ohm(c.freq_hz);
    const auto ohms = MedianOf(rows, "z_ohm");
    const auto phase = MedianOf(rows, "phase_deg");
    const auto value = MedianOf(rows, c.value_column);
    ASSERT_TRUE(ohms && phase && value) << run.out;
    EXPECT_NEAR(*ohms / std::abs(z), 1.0, c.tol_share);
    EXPECT_NEAR(*phase, std::arg(z) * kDegPerRad, c.tol_deg);
    EXPECT_NEAR(*value / c.value, 1.0, c.tol_share);
}

INSTANTIATE_TEST_SUITE_P(
    Parts, ImpedancePart,
    ::testing::Values(PartCase{"capacitor_1uF",
                               "C1e-6",
                               100,
                               1000,
                               [](double f) { return 1.0 / (JOmega(f) * 1e-6); },
                               {},
                               "",
                               1e-3,
                               0.05,
                               "c_f",
                               1e-6},
                      PartCase{"inductor_10mH",
                               "L10e-3",
                               100,
                               1000,
                               [](double f) { return JOmega(f) * 10e-3; },
                               {},
                               "",
                               1e-3,
                               0.05,
                               "l_h",
                               10e-3},
                      PartCase{"resistor_1k",
                               "R1000",
                               100,
                               1000,
                               [](double) { return Complex(1000); },
                               {},
                               "",
                               1e-3,
                               0.05,
                               "r_ohm",
                               1000},
                      // A tenth and ten times R_ref, with noise: the error grows away from R_ref.
                      PartCase{"noisy_tenth_of_ref",
                               "R10",
                               100,
                               1000,
                               [](double) { return Complex(10); },
                               {},
                               "+noise:-90",
                               5e-3,
                               0.3,
                               "r_ohm",
                               10},
                      PartCase{"noisy_ten_times_ref",
                               "R1000",
                               100,
                               1000,
                               [](double) { return Complex(1000); },
                               {},
                               "+noise:-90",
                               5e-3,
                               0.3,
                               "r_ohm",
                               1000},
                      // R_ref loaded by the card's 10 kOhm: told, the reading takes it out.
                      PartCase{"input_impedance_given",
                               "C1e-6",
                               100,
                               1000,
                               [](double f) { return 1.0 / (JOmega(f) * 1e-6); },
                               {"--input-impedance", "1e4"},
                               "+zin:1e4",
                               1e-3,
                               0.05,
                               "c_f",
                               1e-6},
                      // A leaky capacitor read in the parallel model gives back its parallel C.
                      PartCase{"parallel_model",
                               "C1e-7|R2000",
                               1000,
                               500,
                               [](double f) { return 1.0 / (JOmega(f) * 1e-7 + 1.0 / 2000); },
                               {"--model", "parallel"},
                               "",
                               1e-3,
                               0.05,
                               "c_f",
                               1e-7}),
    [](const auto& info) { return std::string(info.param.name); });

struct RefusedCase {
    const char* name;
    std::vector<std::string> args;
    const char* message;
};

void PrintTo(const RefusedCase& c, std::ostream* os) {
    *os << c.name;
}

class ImpedanceRefused : public ::testing::TestWithParam<RefusedCase> {};

// Every block refused: status 4, and the reason on stderr.
TEST_P(ImpedanceRefused, EndsWithStatusFourSayingWhy) {
    std::vector<std::string> args = GetParam().args;
    args.insert(args.end(), {"--seconds", "1.5"});
    const ToolResult run = RunTool(Impedance(args), Env());
    EXPECT_EQ(run.exitStatus, 4) << run.err;
    EXPECT_NE(run.err.find(GetParam().message), std::string::npos) << run.err;
}

INSTANTIATE_TEST_SUITE_P(
    Refusals, ImpedanceRefused,
    ::testing::Values(
        RefusedCase{"x2_silent",
                    {"--ref", "100", "--device", "sim:dut=divider:100:C1e-12"},
                    "X2 is silent"},
        RefusedCase{"out_of_range",
                    {"--ref", "100", "--device", "sim:dut=divider:100:R2e5"},
                    "impedance outside R_ref/1000 .. 1000 R_ref"},
        RefusedCase{"clipped",
                    {"--ref", "100", "--level", "0", "--device", "sim:dut=divider:100:R100+gain:6"},
                    "input clipped"},
        RefusedCase{"no_external_tone",
                    {"--ref", "100", "--external", "--device", "sim"},
                    "no test tone on X1"},
        // Nothing is stored, and the way round it is named.
        RefusedCase{"open_unreadable",
                    {"--ref", "10", "--calibrate", "open", "--device", "sim:dut=divider:10:R1e9"},
                    "the short alone corrects the leads of a small part"}),
    [](const auto& info) { return std::string(info.param.name); });

// A loudspeaker-like network: a voice coil's resistance and inductance in series with the
// motional L | C | R, resonant at 1 / (2 pi sqrt(0.02 x 3e-4)) = 64.97 Hz.
// A resistor's rows: its reactance is below what the readings resolve, so L, C, Q and D are empty
// in every row, where they once printed C = 8.1e8 F and D = 3.1e13; the capacitor's rows above
// keep theirs.
TEST(ImpedanceTool, AResistorsRowsLeaveTheReactiveFieldsEmpty) {
    const ToolResult run = RunTool(
        Impedance({"--ref", "10", "--seconds", "1.5", "--device", "sim:dut=divider:10:R6.15"}),
        Env());
    ASSERT_EQ(run.exitStatus, 0) << run.err;
    const auto rows = CsvRecords(run.out);
    ASSERT_GE(rows.size(), 2u) << run.out;
    for (const auto& row : rows) {
        EXPECT_NEAR(std::stod(row.at("r_ohm")), 6.15, 6.15e-3) << run.out;
        for (const char* column : {"l_h", "c_f", "q", "d"}) {
            EXPECT_EQ(row.at(column), "") << column << "\n" << run.out;
        }
    }
}

Complex Driver(double f) {
    return 6.0 + JOmega(f) * 0.3e-3 +
           1.0 / (1.0 / (JOmega(f) * 0.02) + JOmega(f) * 3e-4 + 1.0 / 30);
}

TEST(ImpedanceTool, SweepsADriverIntoAZmaFileThatParsesBackToItsCurve) {
    const std::string zma =
        (std::filesystem::temp_directory_path() / "tavrin_impedance_cli_sweep.zma").string();
    std::filesystem::remove(zma);
    const ToolResult run =
        RunTool(Impedance({"--ref", "10", "--sweep", "40-120", "--points-per-octave", "4", "--zma",
                           zma, "--device", "sim:dut=divider:10:R6+L0.3e-3+(L0.02|C3e-4|R30)"}),
                Env(), 60000);
    ASSERT_EQ(run.exitStatus, 0) << run.err;
    std::ifstream file(zma);
    std::stringstream text;
    text << file.rdbuf();
    std::string error;
    const auto fromZma = ParseZma(text.str(), &error);
    ASSERT_TRUE(fromZma) << error;
    const auto fromCsv = ParseImpedanceCsv(run.out, &error);
    ASSERT_TRUE(fromCsv) << error;
    ASSERT_EQ(fromZma->size(), 8u); // 40 .. 120 Hz is 1.58 octaves: 7 steps
    ASSERT_EQ(fromCsv->size(), fromZma->size());
    for (size_t k = 0; k < fromZma->size(); ++k) {
        const ImpedanceCurvePoint& p = (*fromZma)[k];
        SCOPED_TRACE(p.freq_hz);
        const Complex z = Driver(p.freq_hz);
        EXPECT_NEAR(std::abs(p.z_ohm) / std::abs(z), 1.0, 1e-3);
        EXPECT_NEAR(std::arg(p.z_ohm) * kDegPerRad, std::arg(z) * kDegPerRad, 0.05);
        EXPECT_NEAR(std::abs((*fromCsv)[k].z_ohm - p.z_ohm) / std::abs(z), 0.0, 1e-8);
    }
    // Where the phase crosses zero, between points a quarter of an octave apart.
    const size_t at = run.err.find("resonance at ");
    ASSERT_NE(at, std::string::npos) << run.err;
    EXPECT_NEAR(std::stod(run.err.substr(at + 13)), 64.97, 0.5) << run.err;
    EXPECT_NE(run.err.find("Qts"), std::string::npos) << run.err;
}

// The added-mass method's second run: the driver above read as Bl 5 T m, Mms 7.5 g, Cms 0.8 mm/N,
// Rms 0.833 kg/s (its motional 20 mH | 300 uF | 30 ohm is Cms Bl^2 | Mms/Bl^2 | Bl^2/Rms), swept
// with 7.5 g more on the cone (the capacitor doubled), against its free-air curve in closed form;
// Re given. The figures are those the network was built from.
TEST(ImpedanceTool, AddedMassGivesTheDriversMechanicalFigures) {
    const auto free_air = [](double f) {
        return 6.0 + JOmega(f) * 0.3e-3 +
               1.0 / (1.0 / (JOmega(f) * 0.02) + JOmega(f) * 3e-4 + 1.0 / 30);
    };
    std::vector<ImpedanceCurvePoint> curve;
    for (double f = 10; f <= 1000; f *= std::pow(2.0, 1.0 / 24)) {
        curve.push_back({f, free_air(f)});
    }
    const std::string zma =
        (std::filesystem::temp_directory_path() / "tavrin_impedance_cli_free_air.zma").string();
    std::ofstream(zma) << FormatZma(curve, {"free air"});
    const ToolResult run =
        RunTool(Impedance({"--ref", "10", "--sweep", "30-90", "--points-per-octave", "6", "--re",
                           "6", "--added-mass", "7.5", "--sd", "100", "--free-air", zma, "--device",
                           "sim:dut=divider:10:R6+L0.3e-3+(L0.02|C6e-4|R30)"}),
                Env(), 90000);
    ASSERT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_NE(run.err.find("Re 6.000 ohm (given)"), std::string::npos) << run.err;
    const auto figure = [&](const std::string& name) {
        const size_t at = run.err.find(" " + name + " ");
        EXPECT_NE(at, std::string::npos) << name << "\n" << run.err;
        return at == std::string::npos ? 0.0 : std::stod(run.err.substr(at + name.size() + 2));
    };
    // Through a sweep six points an octave; the analysis itself is held to 1 %.
    EXPECT_NEAR(figure("Mms") / 7.5, 1, 0.05) << run.err; // g
    EXPECT_NEAR(figure("Cms") / 0.8, 1, 0.05) << run.err; // mm/N
    EXPECT_NEAR(figure("Bl") / 5.0, 1, 0.05) << run.err;  // T m
    // V_as = rho c^2 Sd^2 Cms: 1.42e5 Pa x (0.01 m2)^2 x 0.8e-3 m/N = 11.36 l.
    EXPECT_NEAR(figure("Vas") / 11.36, 1, 0.05) << run.err;
}

// A short in place of the part on a card whose X2 path is 0.06 dB and 0.6 deg off X1's: the
// match stored at each of the sweep's frequencies is that mismatch's inverse, kept for the
// card; clearing forgets it.
TEST(ImpedanceTool, CalibratesTheChannelMatchOverASweepAndClearsIt) {
    const std::string device = "sim:dut=divider:100:R0+mismatch:0.06:0.6";
    const std::vector<std::string> env = Env();
    setenv("XDG_CONFIG_HOME", env[1].substr(env[1].find('=') + 1).c_str(), 1);
    const std::string path = CImpedanceCalibrationStore::DefaultPath();
    std::filesystem::remove(path);
    const ToolResult run =
        RunTool(Impedance({"--ref", "100", "--calibrate", "match", "--sweep", "500-2000",
                           "--points-per-octave", "2", "--device", device}),
                env, 60000);
    ASSERT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find("stored 5 channel-match points from 500.00 to 2000.00 Hz for '" +
                           device + "'"),
              std::string::npos)
        << run.err;
    CImpedanceCalibrationStore store;
    std::string message;
    ASSERT_TRUE(store.Load(path, &message)) << message;
    ASSERT_NE(store.Find(device), nullptr);
    const auto& points = store.Find(device)->match.Points();
    ASSERT_EQ(points.size(), 5u);
    const Complex mismatch = std::polar(std::pow(10.0, 0.06 / 20), 0.6 / kDegPerRad);
    for (const ImpedanceCalPoint& p : points) {
        SCOPED_TRACE(p.freq_hz);
        const Complex ratio = p.value * mismatch; // 1 when V1/V2 is the mismatch's inverse
        EXPECT_NEAR(std::abs(ratio), 1.0, 1e-3);
        EXPECT_NEAR(std::arg(ratio) * kDegPerRad, 0.0, 0.05);
    }

    const ToolResult cleared =
        RunTool(Impedance({"--calibrate", "clear", "--device", device}), env);
    ASSERT_EQ(cleared.exitStatus, 0) << cleared.err;
    ASSERT_TRUE(store.Load(path, &message)) << message;
    ASSERT_NE(store.Find(device), nullptr);
    EXPECT_TRUE(store.Find(device)->match.Empty());
}

} // namespace
