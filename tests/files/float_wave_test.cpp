// The float WAV writer, checked by a reader we did not write (sox), and its refusals.
#include "files/float_wave.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

std::string Output(const std::string& command) {
    std::string out;
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), ::pclose);
    char chunk[4096];
    size_t n = 0;
    while (pipe && (n = std::fread(chunk, 1, sizeof chunk, pipe.get())) > 0) {
        out.append(chunk, n);
    }
    return out;
}

std::string ScratchPath(const char* name) {
    std::string pattern = ::testing::TempDir() + "tavrin-float-XXXXXX";
    EXPECT_NE(::mkdtemp(pattern.data()), nullptr);
    return pattern + "/" + name;
}

TEST(FloatWave, SoxReadsEverySampleBack) {
    // Values a 16-bit file would round away. (sox clips above full scale as it reads, so the
    // samples stay within it.)
    std::vector<float> samples = {0.0f, 1.0f, -1.0f, -3.5e-6f, 0.123456789f};
    for (int i = 0; i < 1000; ++i) {
        samples.push_back(float(std::sin(0.01 * i) * std::exp(-0.003 * i)));
    }
    const std::string path = ScratchPath("impulse.wav");
    std::string error;
    ASSERT_TRUE(WriteFloatWave(path, samples, 96000, error)) << error;

    const std::string info = Output("soxi '" + path + "' 2>&1");
    EXPECT_NE(info.find("32-bit Floating Point PCM"), std::string::npos) << info;
    EXPECT_NE(info.find("Channels       : 1"), std::string::npos) << info;
    EXPECT_NE(info.find("Sample Rate    : 96000"), std::string::npos) << info;
    EXPECT_NE(info.find(std::to_string(samples.size()) + " samples"), std::string::npos) << info;

    // sox's text format: two comment lines, then "time value" per sample.
    std::istringstream text(Output("sox '" + path + "' -t dat -"));
    std::string line;
    size_t read = 0;
    while (std::getline(text, line)) {
        if (line.empty() || line[0] == ';') {
            continue;
        }
        std::istringstream fields(line);
        double seconds = 0, value = 0;
        fields >> seconds >> value;
        ASSERT_LT(read, samples.size()) << line;
        EXPECT_NEAR(seconds, double(read) / 96000, 1e-6);
        EXPECT_NEAR(value, samples[read], 1e-8);
        ++read;
    }
    EXPECT_EQ(read, samples.size());

    // sox reads the sample count from the data chunk; the fact chunk must agree with it for
    // readers that take it from there.
    std::ifstream file(path, std::ios::binary);
    std::vector<char> header(54);
    file.read(header.data(), std::streamsize(header.size()));
    uint32_t factFrames = 0;
    std::memcpy(&factFrames, &header[46], 4); // little-endian host, as every target we build for
    EXPECT_EQ(std::string(&header[38], 4), "fact");
    EXPECT_EQ(factFrames, samples.size());
}

// Every header byte as the format lays it out: RIFF's size is the file's length less its own
// 8 bytes (a reader that trusts it looks 8 bytes past the end when it is too large), and the
// data chunk's size is the samples' bytes. sox tolerates either being wrong, so only the bytes
// themselves show it.
TEST(FloatWave, HeaderSizesAreExactByteForByte) {
    const std::string path = ScratchPath("three.wav");
    std::string error;
    ASSERT_TRUE(WriteFloatWave(path, {0.5f, -1.0f, 0.25f}, 48000, error)) << error;
    std::ifstream file(path, std::ios::binary);
    const std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(file)),
                                           std::istreambuf_iterator<char>());
    const std::vector<unsigned char> want = {
        'R',  'I',  'F',  'F',  62,   0,    0,    0, // the file's 70 bytes less these 8
        'W',  'A',  'V',  'E',  'f',  'm',  't',  ' ',
        18,   0,    0,    0,             // fmt chunk of 18 bytes
        3,    0,    1,    0,             // IEEE float, mono
        0x80, 0xBB, 0,    0,             // 48000 Hz
        0x00, 0xEE, 0x02, 0,             // 192000 bytes a second
        4,    0,    32,   0,    0,    0, // block 4, 32 bits, no extension
        'f',  'a',  'c',  't',  4,    0,    0,    0,
        3,    0,    0,    0,                         // 3 frames
        'd',  'a',  't',  'a',  12,   0,    0,    0, // 12 data bytes
        0x00, 0x00, 0x00, 0x3F, 0x00, 0x00, 0x80, 0xBF,
        0x00, 0x00, 0x80, 0x3E};
    EXPECT_EQ(bytes, want);
}

TEST(FloatWave, FailuresNameThePathAndTheCause) {
    std::string error;
    EXPECT_FALSE(WriteFloatWave("/dev/full", std::vector<float>(50000, 0.5f), 48000, error));
    EXPECT_NE(error.find("/dev/full"), std::string::npos) << error;
    EXPECT_NE(error.find("No space left"), std::string::npos) << error;

    const std::string missing = ScratchPath("no-such-folder/impulse.wav");
    error.clear();
    EXPECT_FALSE(WriteFloatWave(missing, {0.5f}, 48000, error));
    EXPECT_NE(error.find(missing + ": No such file"), std::string::npos) << error;
    EXPECT_FALSE(std::filesystem::exists(missing));
}

} // namespace
