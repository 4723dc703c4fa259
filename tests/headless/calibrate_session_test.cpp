// `tavrin calibrate` in this process on the simulated card, whose inputs the test drives: what
// is stored for a known input level, and what is refused and leaves the file alone. Also its
// command line's refusals and the plain RMS it reads an input by.
#include "audio/sim/simulated_bench.h"
#include "headless/calibrate_options.h"
#include "headless/calibrate_session.h"
#include "headless/input_level.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <ostream>
#include <sstream>

namespace {

// 64 frames a cycle (689.06 Hz): every buffer of 4096 frames holds whole cycles, so the RMS of
// a sine of amplitude A is A / sqrt 2 whatever buffers the reading takes. Above full scale it
// clips as a card's converter does.
ChannelSignal Sine(double amplitude) {
    return [amplitude](int64_t frame) {
        const double value = amplitude * std::sin(2 * std::numbers::pi * double(frame) / 64.0);
        return int16_t(std::clamp(std::lround(value), -32768L, 32767L));
    };
}

std::string ScratchFile(const char* name) {
    const auto folder =
        std::filesystem::temp_directory_path() / ("tavrin-calibrate-" + std::to_string(getpid()));
    std::filesystem::create_directories(folder);
    const std::string path = (folder / name).string();
    std::filesystem::remove(path);
    return path;
}

std::string ReadText(const std::string& path) {
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

CalibrateOptions InputOptions(int channel, double vrms, const std::string& file) {
    CalibrateOptions options;
    options.device = "sim";
    options.side = CalibrationSide::Input;
    options.channel = channel;
    options.vrms = vrms;
    options.seconds = 0.3;
    options.file = file;
    return options;
}

class CalibrateInput : public ::testing::Test {
protected:
    void SetUp() override { CSimulatedBench::Instance().Reset(); }
    void TearDown() override { CSimulatedBench::Instance().Reset(); }
};

TEST_F(CalibrateInput, HalfScaleSineReadAsOneVoltIsTwoVoltsAtFullScale) {
    // X1 carries a sine of half full scale (-6.02 dBFS), X2 one of a quarter.
    CSimulatedBench::Instance().SetInputSignal(0, Sine(16384));
    CSimulatedBench::Instance().SetInputSignal(1, Sine(8192));
    const std::string file = ScratchFile("input.json");
    ASSERT_EQ(RunCalibrate(InputOptions(0, 1.0, file)), kExitDone);
    ASSERT_EQ(RunCalibrate(InputOptions(1, 0.25, file)), kExitDone);

    CCalibrationStore store;
    std::string message;
    ASSERT_TRUE(store.Load(file, &message)) << message;
    const auto x1 = store.Find("sim", CalibrationSide::Input, 0);
    const auto x2 = store.Find("sim", CalibrationSide::Input, 1);
    ASSERT_TRUE(x1 && x2);
    // Rounding to whole codes moves the RMS by about ten millionths (a ten-thousandth of a dB).
    EXPECT_NEAR(x1->vrms_at_0dbfs, 2.0, 2e-5 * 2.0);
    EXPECT_NEAR(x2->vrms_at_0dbfs, 1.0, 2e-5 * 1.0);
    EXPECT_EQ(x1->set_on.size(), 10u); // YYYY-MM-DD
    EXPECT_FALSE(store.Find("sim", CalibrationSide::Output, 0));
}

struct RefusedCase {
    const char* name;
    ChannelSignal signal;
};

// One code in 64 frames: RMS 1/8 code, -105.3 dBFS on the sine convention.
int16_t SparseClicks(int64_t frame) {
    return frame % 64 == 0 ? 1 : 0;
}

void PrintTo(const RefusedCase& c, std::ostream* out) {
    *out << c.name;
}

class CalibrateRefused : public CalibrateInput,
                         public ::testing::WithParamInterface<RefusedCase> {};

TEST_P(CalibrateRefused, StoresNothingAndLeavesTheFileAsItWas) {
    CSimulatedBench::Instance().SetInputSignal(0, GetParam().signal);
    const std::string file = ScratchFile("refused.json");
    const std::string before =
        R"({"version":1,"entries":[{"device":"sim","side":"input","channel":0,)"
        R"("vrms_at_0dbfs":3.5,"set_on":"2026-01-01"}]})";
    std::ofstream(file) << before;
    EXPECT_EQ(RunCalibrate(InputOptions(0, 1.0, file)), kExitBadArguments);
    EXPECT_EQ(ReadText(file), before);
}

INSTANTIATE_TEST_SUITE_P(Levels, CalibrateRefused,
                         ::testing::Values(RefusedCase{"Silence", Sine(0)},
                                           RefusedCase{"BelowTheNoise", SparseClicks},
                                           RefusedCase{"Clipped", Sine(40000)}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(CalibrateInput, DamagedFileIsNotOverwritten) {
    CSimulatedBench::Instance().SetInputSignal(0, Sine(16384));
    const std::string file = ScratchFile("damaged.json");
    std::ofstream(file) << "{\"version\":1,\"entries\":[";
    EXPECT_EQ(RunCalibrate(InputOptions(0, 1.0, file)), kExitBadArguments);
    EXPECT_EQ(ReadText(file), "{\"version\":1,\"entries\":[");
}

// The plain RMS against the definition: a full-scale square reads +3.01 dBFS, a sine of
// amplitude A reads 20 log10(A / 32768).
TEST(InputLevel, ReadsOnTheSineConvention) {
    std::vector<int16_t> square(2 * 128), sine(2 * 128);
    for (int frame = 0; frame < 128; ++frame) {
        square[2 * frame] = frame % 2 == 0 ? 16384 : -16384;
        square[2 * frame + 1] = 0;
        sine[2 * frame] = int16_t(std::lround(32767 * std::sin(2 * std::numbers::pi * frame / 64)));
        sine[2 * frame + 1] =
            int16_t(std::lround(1000 * std::sin(2 * std::numbers::pi * frame / 32)));
    }
    CInputLevel level;
    level.Add(square.data(), 128);
    EXPECT_NEAR(level.Level(0).rms_dbfs, 20 * std::log10(0.5) + 10 * std::log10(2.0), 1e-9);
    EXPECT_FALSE(level.Level(0).clipped);
    EXPECT_EQ(level.Level(1).rms_dbfs, -INFINITY);
    level.Clear();
    level.Add(sine.data(), 128);
    // Whole codes: a thousandth of a dB for the small sine, whose rounding is a larger part.
    EXPECT_NEAR(level.Level(0).rms_dbfs, 20 * std::log10(32767.0 / 32768), 1e-4);
    EXPECT_FALSE(level.Level(0).clipped) << "its peaks just reach full scale, one sample each";
    EXPECT_NEAR(level.Level(1).rms_dbfs, 20 * std::log10(1000.0 / 32768), 1e-3);
    EXPECT_FALSE(level.Level(1).clipped);
}

struct OptionsCase {
    std::vector<std::string> args;
    const char* error; // empty: accepted
};

class CalibrateCommandLine : public ::testing::TestWithParam<OptionsCase> {};

TEST_P(CalibrateCommandLine, AcceptsOrRefusesWithOneLine) {
    CalibrateOptions options;
    std::string error;
    const bool parsed = ParseCalibrateOptions(GetParam().args, &options, &error);
    if (std::string(GetParam().error).empty()) {
        EXPECT_TRUE(parsed) << error;
    } else {
        EXPECT_FALSE(parsed);
        EXPECT_NE(error.find(GetParam().error), std::string::npos) << error;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Lines, CalibrateCommandLine,
    ::testing::Values(OptionsCase{{"--input", "x1", "--vrms", "1"}, ""},
                      OptionsCase{{"--output", "R", "--vrms", "0.1", "--level", "-20"}, ""},
                      OptionsCase{{"--input", "x3", "--vrms", "1"}, "x1 or x2"},
                      OptionsCase{{"--output", "x1", "--vrms", "1"}, "l or r"},
                      OptionsCase{{"--input", "x1", "--output", "l", "--vrms", "1"}, "one of"},
                      OptionsCase{{"--vrms", "1"}, "say what to calibrate"},
                      OptionsCase{{"--input", "x1"}, "--vrms is needed"},
                      OptionsCase{{"--input", "x1", "--vrms", "0"}, "above 0"},
                      OptionsCase{{"--input", "x1", "--vrms", "-1"}, "above 0"},
                      OptionsCase{{"--input", "x1", "--vrms", "nan"}, "above 0"},
                      OptionsCase{{"--output", "l", "--vrms", "1", "--level", "3"}, "-120 to 0"},
                      OptionsCase{{"--input", "x1", "--vrms", "1", "--level", "-6"}, "--level"},
                      OptionsCase{{"--input", "x1", "--vrms", "1", "--file", ""}, "a path"}));

TEST(CalibrateCommandLine, EachSideHasItsOwnDefaultTime) {
    CalibrateOptions options;
    std::string error;
    ASSERT_TRUE(ParseCalibrateOptions({"--input", "x2", "--vrms", "1"}, &options, &error));
    EXPECT_EQ(options.seconds, kCalibrateInputSeconds);
    EXPECT_EQ(options.channel, 1);
    ASSERT_TRUE(ParseCalibrateOptions({"--output", "l", "--vrms", "1"}, &options, &error));
    EXPECT_EQ(options.seconds, kCalibrateOutputSeconds);
    EXPECT_EQ(options.level_dbfs, -6.0);
}

} // namespace
