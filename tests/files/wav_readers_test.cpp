// Recordings read back by readers we did not write, including one whose recorder was killed.
#include "wav_file.h"
#include "wav_test_util.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <sys/wait.h>
#include <unistd.h>

using namespace wavtest;

namespace {

std::string Run(const std::string& command) {
    std::string out;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return out;
    }
    char chunk[256];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) {
        out.append(chunk, n);
    }
    ::pclose(pipe);
    return out;
}

// channels, sample width, rate, frame count, and whether the frames equal the patterns.
std::string PythonWave(const std::string& path, int buffers) {
    const std::string script =
        "import sys, wave\n"
        "w = wave.open(sys.argv[1], 'rb')\n"
        "frames = w.readframes(w.getnframes())\n"
        "def pattern(b):\n"
        "    return bytes((i * 7 + b * 131 + (i >> 8)) & 255 for i in range(16384))\n"
        "same = frames == b''.join(pattern(b) for b in range(int(sys.argv[2])))\n"
        "print(w.getnchannels(), w.getsampwidth(), w.getframerate(), w.getnframes(), same)\n";
    return Run("python3 -c \"" + script + "\" '" + path + "' " + std::to_string(buffers) +
               " 2>&1");
}

std::string Soxi(const std::string& path) {
    return Run("soxi -c '" + path + "' && soxi -r '" + path + "' && soxi -b '" + path +
               "' && soxi -s '" + path + "' 2>&1");
}

void Record(const std::string& path, int buffers) {
    CPcmFormat pcm;
    CWavFile file(path, &pcm.m_format);
    for (int b = 0; b < buffers; ++b) {
        auto data = Pattern(b);
        SampleBuffer buffer(data.data(), int32_t(data.size()));
        ASSERT_TRUE(file.Write(buffer));
    }
}

class WavReaders : public ::testing::Test {
protected:
    ~WavReaders() override { std::filesystem::remove_all(m_dir); }
    std::string m_dir = ScratchDir();
    std::string m_path = m_dir + "/take.wav";
};

TEST_F(WavReaders, PythonWaveAndSoxiAgreeOnAFinishedRecording) {
    for (int k : {0, 3}) {
        Record(m_path, k);
        const std::string frames = std::to_string(4096 * k);
        EXPECT_EQ(PythonWave(m_path, k), "2 2 44100 " + frames + " True\n") << k;
        EXPECT_EQ(Soxi(m_path), "2\n44100\n16\n" + frames + "\n") << k;
    }
}

// The child records k buffers, says so through a pipe and waits to be killed; nothing of its
// recorder's Close ever runs.
TEST_F(WavReaders, RecordingOfAKilledProcessReadsAsEverythingWritten) {
    const int k = 5;
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(ready[0]);
        CPcmFormat pcm;
        auto* file = new CWavFile(m_path, &pcm.m_format);  // never closed: the child dies first
        for (int b = 0; b < k; ++b) {
            auto data = Pattern(b);
            SampleBuffer buffer(data.data(), int32_t(data.size()));
            if (!file->Write(buffer)) {
                ::_exit(1);
            }
        }
        const char done = 1;
        (void)::write(ready[1], &done, 1);
        for (;;) {
            ::pause();
        }
    }
    ::close(ready[1]);
    char done = 0;
    const bool signalled = ::read(ready[0], &done, 1) == 1;
    ::close(ready[0]);
    ::kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(signalled) << "child failed to record";
    ASSERT_TRUE(WIFSIGNALED(status));

    const auto bytes = ReadAll(m_path);
    EXPECT_EQ(bytes.size(), 46u + 16384u * k);
    EXPECT_EQ(U32At(bytes, 4), 38u + 16384u * k);
    EXPECT_EQ(U32At(bytes, 42), 16384u * k);
    EXPECT_EQ(PythonWave(m_path, k), "2 2 44100 " + std::to_string(4096 * k) + " True\n");
    EXPECT_EQ(Soxi(m_path), "2\n44100\n16\n" + std::to_string(4096 * k) + "\n");
}

} // namespace
