// `tavrin sweep` in this process on the simulated card, with the faults a test can plant there:
// xruns counted while the sweep is captured, a converter driven past full scale. What the run
// ends with, and that the files it was asked for are written whole.
#include "audio/sim/simulated_bench.h"
#include "audio/wave/wave_backends.h"
#include "headless/sweep_session.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

SweepOptions Options(const std::string& device) {
    SweepOptions options;
    options.device = device;
    options.measurement.sweep.frames = 1 << 16;
    options.measurement.analysis.points_per_octave = 3;
    return options;
}

std::string Scratch(const char* name) {
    const auto folder =
        std::filesystem::temp_directory_path() / ("tavrin-sweep-" + std::to_string(getpid()));
    std::filesystem::create_directories(folder);
    const std::string path = (folder / name).string();
    std::filesystem::remove(path);
    return path;
}

class SweepSession : public ::testing::Test {
protected:
    void SetUp() override { CSimulatedBench::Instance().Reset(); }
    void TearDown() override { CSimulatedBench::Instance().Reset(); }

    // X2 carries nothing; while X1 loops the sweep back, each of the frames listed counts an
    // xrun when the bench captures it (the frame index runs on across both attempts).
    void XrunsAt(std::vector<int64_t> frames) {
        CSimulatedBench::Instance().SetInputSignal(1, [frames](int64_t frame) {
            if (std::find(frames.begin(), frames.end(), frame) != frames.end()) {
                CountXrun();
            }
            return int16_t(0);
        });
    }
};

TEST_F(SweepSession, WritesTheFilesAskedFor) {
    SweepOptions options = Options("sim");
    options.csv = Scratch("cable.csv");
    options.frd = Scratch("cable.frd");
    options.ir = Scratch("cable.wav");
    ASSERT_EQ(RunSweep(options), kExitDone);
    std::ifstream csv(*options.csv);
    std::stringstream text;
    text << csv.rdbuf();
    EXPECT_EQ(text.str().rfind("freq_hz,mag_db,phase_deg,", 0), 0u);
    EXPECT_GT(std::filesystem::file_size(*options.frd), 100u);
    // The cable's impulse response: its float samples after the data chunk's header peak at 1.
    std::ifstream wav(*options.ir, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(wav)),
                            std::istreambuf_iterator<char>());
    const size_t data = bytes.find("data");
    ASSERT_NE(data, std::string::npos);
    uint32_t size = 0;
    std::memcpy(&size, bytes.data() + data + 4, 4);
    ASSERT_EQ(bytes.size(), data + 8 + size);
    float peak = 0;
    for (size_t at = data + 8; at + 4 <= bytes.size(); at += 4) {
        float sample = 0;
        std::memcpy(&sample, bytes.data() + at, 4);
        peak = std::max(peak, std::fabs(sample));
    }
    EXPECT_NEAR(peak, 1.0f, 2e-3f);
}

// One gap is measured again and the second sweep stands; a storm spoils both and is refused.
TEST_F(SweepSession, OneGapIsMeasuredAgain) {
    XrunsAt({40000});
    EXPECT_EQ(RunSweep(Options("sim")), kExitDone);
}

TEST_F(SweepSession, AnXrunStormIsRefused) {
    std::vector<int64_t> storm;
    for (int64_t frame = 20000; frame < 2000000; frame += 10000) {
        storm.push_back(frame);
    }
    XrunsAt(storm);
    EXPECT_EQ(RunSweep(Options("sim")), kExitSweepRefused);
}

// -12 dBFS on AES17 peaks at a quarter of full scale; an amplifier of x4.2 passes it.
TEST_F(SweepSession, ClippingIsRefused) {
    CSimulatedBench::Instance().SetDeviceUnderTest({4.2, 0, 0, kSimDutNoNoiseDbfs, false});
    EXPECT_EQ(RunSweep(Options("sim:dut")), kExitSweepRefused);
}

} // namespace
