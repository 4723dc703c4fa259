// The WAV recorder: byte layout, replacement, locking, failures, and recordings read back by
// readers we did not write (Python's wave, soxi), including one whose process was killed.
#include "files/wav_file.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {


inline std::string ScratchDir() {
    std::string pattern = ::testing::TempDir() + "tavrin-wav-XXXXXX";
    const char* dir = ::mkdtemp(pattern.data());
    EXPECT_NE(dir, nullptr);
    return pattern;
}

inline std::vector<uint8_t> ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline uint32_t U32At(const std::vector<uint8_t>& bytes, size_t at) {
    return uint32_t(bytes.at(at)) | uint32_t(bytes.at(at + 1)) << 8 |
           uint32_t(bytes.at(at + 2)) << 16 | uint32_t(bytes.at(at + 3)) << 24;
}

// Buffer number `index` of a recording: every byte depends on the buffer and its position, so
// a lost, repeated or shifted buffer shows.
inline std::vector<uint8_t> Pattern(int index, size_t bytes = kBufferBytes) {
    std::vector<uint8_t> data(bytes);
    for (size_t i = 0; i < bytes; ++i) {
        data[i] = uint8_t(i * 7 + size_t(index) * 131 + (i >> 8));
    }
    return data;
}



bool WriteBuffer(CWavFile& file, std::vector<uint8_t> data) {
    SampleBuffer buffer(data.data(), int32_t(data.size()));
    return file.Write(buffer);
}

void ExpectHeader(const std::vector<uint8_t>& bytes, uint32_t dataBytes, uint32_t pad = 0) {
    ASSERT_GE(bytes.size(), 46u);
    EXPECT_EQ(std::memcmp(bytes.data(), "RIFF", 4), 0);
    EXPECT_EQ(U32At(bytes, 4), 38 + dataBytes + pad);
    EXPECT_EQ(std::memcmp(bytes.data() + 8, "WAVEfmt ", 8), 0);
    EXPECT_EQ(U32At(bytes, 16), 18u);
    const uint8_t format[18] = {1, 0, 2, 0, 0x44, 0xAC, 0, 0, 0x10, 0xB1, 2, 0, 4, 0, 16, 0, 0, 0};
    EXPECT_EQ(std::memcmp(bytes.data() + 20, format, 18), 0);
    EXPECT_EQ(std::memcmp(bytes.data() + 38, "data", 4), 0);
    EXPECT_EQ(U32At(bytes, 42), dataBytes);
}

class WavFileTest : public ::testing::Test {
protected:
    ~WavFileTest() override { std::filesystem::remove_all(m_dir); }

    std::string m_dir = ScratchDir();
    std::string m_path = m_dir + "/take.wav";
    CPcmFormat m_pcm;
};

TEST_F(WavFileTest, KBuffersGiveHeaderPlusSamplesInOrder) {
    for (int k : {0, 1, 3}) {
        {
            CWavFile file(m_path, &m_pcm.m_format);
            ASSERT_EQ(file.m_mode, CWavFile::kModeWrite);
            for (int b = 0; b < k; ++b) {
                EXPECT_TRUE(WriteBuffer(file, Pattern(b)));
            }
        }
        const auto bytes = ReadAll(m_path);
        ASSERT_EQ(bytes.size(), 46u + 16384u * unsigned(k)) << k;
        ExpectHeader(bytes, 16384u * unsigned(k));
        for (int b = 0; b < k; ++b) {
            const auto expected = Pattern(b);
            EXPECT_EQ(std::memcmp(bytes.data() + 46 + 16384 * b, expected.data(), 16384), 0) << b;
        }
    }
}

TEST_F(WavFileTest, SizesAreCurrentBeforeClose) {
    CWavFile file(m_path, &m_pcm.m_format);
    ExpectHeader(ReadAll(m_path), 0);
    ASSERT_TRUE(WriteBuffer(file, Pattern(0)));
    ASSERT_TRUE(WriteBuffer(file, Pattern(1)));
    const auto bytes = ReadAll(m_path);
    EXPECT_EQ(bytes.size(), 46u + 2 * 16384u);
    ExpectHeader(bytes, 2 * 16384u);
}

TEST_F(WavFileTest, ReplacesAnExistingFile) {
    {
        std::ofstream old(m_path, std::ios::binary);
        old << std::string(100000, 'x');
    }
    {
        CWavFile file(m_path, &m_pcm.m_format);
        EXPECT_TRUE(WriteBuffer(file, Pattern(4)));
    }
    const auto bytes = ReadAll(m_path);
    ASSERT_EQ(bytes.size(), 46u + 16384u);
    ExpectHeader(bytes, 16384u);
}

TEST_F(WavFileTest, SecondRecorderOnTheSameFileFailsAndLeavesTheFirstIntact) {
    CWavFile first(m_path, &m_pcm.m_format);
    ASSERT_TRUE(WriteBuffer(first, Pattern(0)));
    {
        CWavFile second(m_path, &m_pcm.m_format);
        EXPECT_EQ(second.m_mode, 0);
        EXPECT_FALSE(WriteBuffer(second, Pattern(9)));
    }
    ASSERT_TRUE(WriteBuffer(first, Pattern(1)));
    first.Close();
    const auto bytes = ReadAll(m_path);
    ASSERT_EQ(bytes.size(), 46u + 2 * 16384u);
    const auto expected = Pattern(0);
    EXPECT_EQ(std::memcmp(bytes.data() + 46, expected.data(), 16384), 0);

    CWavFile third(m_path, &m_pcm.m_format);
    EXPECT_EQ(third.m_mode, CWavFile::kModeWrite);
}

TEST_F(WavFileTest, UnusableFileRefusesEveryWrite) {
    CWavFile file(m_dir + "/no/such/dir/take.wav", &m_pcm.m_format);
    EXPECT_EQ(file.m_mode, 0);
    EXPECT_LT(file.m_fd, 0);
    EXPECT_FALSE(WriteBuffer(file, Pattern(0)));
    EXPECT_FALSE(WriteBuffer(file, Pattern(1)));
    file.Close();
    file.Close();
}

TEST_F(WavFileTest, FullDeviceFailsEveryWrite) {
    CWavFile file("/dev/full", &m_pcm.m_format);
    ASSERT_EQ(file.m_mode, CWavFile::kModeWrite);
    EXPECT_FALSE(WriteBuffer(file, Pattern(0)));
    EXPECT_FALSE(WriteBuffer(file, Pattern(1)));
}

// Bytes before the first sample: RIFF header, 18-byte format chunk, data chunk header.
constexpr int64_t kHeaderBytes = 12 + 8 + 18 + 8;

// A recorder whose header and size-field writes fail while armed; samples still reach the file.
class CStaleHeaderWav : public CWavFile {
public:
    using CWavFile::CWavFile;
    bool m_failHeader = false;

protected:
    bool WriteAt(int64_t offset, const void* bytes, size_t count, size_t* written) override {
        if (m_failHeader && offset < kHeaderBytes) {
            *written = 0;
            return false;
        }
        return CWavFile::WriteAt(offset, bytes, count, written);
    }
};

TEST_F(WavFileTest, FailedHeaderOrSizeUpdateIsAFailedWrite) {
    CStaleHeaderWav file(m_path, &m_pcm.m_format);
    file.Close();
    file.m_failHeader = true;
    ASSERT_TRUE(file.OpenForWriting()); // the file is ours; its header is not written
    EXPECT_FALSE(WriteBuffer(file, Pattern(0)));
    file.m_failHeader = false;
    EXPECT_TRUE(WriteBuffer(file, Pattern(1)));
    file.m_failHeader = true;
    EXPECT_FALSE(WriteBuffer(file, Pattern(2))); // the sizes could not follow it
    file.m_failHeader = false;
    file.Close();
    // The header written late and the final sizes cover every buffer.
    const std::vector<uint8_t> bytes = ReadAll(m_path);
    ExpectHeader(bytes, 3 * 16384);
    EXPECT_EQ(bytes.size(), 46u + 3 * 16384);
}

TEST_F(WavFileTest, WriteAfterCloseFails) {
    CWavFile file(m_path, &m_pcm.m_format);
    file.Close();
    EXPECT_FALSE(WriteBuffer(file, Pattern(0)));
    EXPECT_EQ(ReadAll(m_path).size(), 46u);
}

TEST_F(WavFileTest, StopsGrowingBeforeThe32BitSizesWrap) {
    CWavFile file(m_path, &m_pcm.m_format);
    file.m_dataBytes = 0xFFFFFFFFLL - 38 - 16384;  // one buffer short of the limit
    EXPECT_FALSE(WriteBuffer(file, Pattern(0)));
    EXPECT_EQ(file.m_dataBytes, 0xFFFFFFFFLL - 38 - 16384);
    file.m_dataBytes = 0;
    EXPECT_TRUE(WriteBuffer(file, Pattern(0)));
}

// A write cut short by the file size limit: false, and the next buffer follows the part that
// did reach the file. Run in a child so the limit and the ignored SIGXFSZ stay there.
TEST_F(WavFileTest, ShortWriteReturnsFalseAndLaterBuffersFollowIt) {
    const size_t partial = 1001;  // odd, so Close also has to pad
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{};
        ::getrlimit(RLIMIT_FSIZE, &limit);
        const rlimit original = limit;
        CWavFile file(m_path, &m_pcm.m_format);
        limit.rlim_cur = 46 + 16384 + partial;
        ::setrlimit(RLIMIT_FSIZE, &limit);
        int fault = 0;
        fault |= WriteBuffer(file, Pattern(0)) ? 0 : 1;
        fault |= WriteBuffer(file, Pattern(1)) ? 2 : 0;
        fault |= WriteBuffer(file, Pattern(2)) ? 4 : 0;
        ::setrlimit(RLIMIT_FSIZE, &original);
        fault |= WriteBuffer(file, Pattern(3)) ? 0 : 8;
        file.Close();
        ::_exit(fault);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "bit 1: first write, 2: cut write true, "
                                         "4: write past limit true, 8: write after limit";
    const auto bytes = ReadAll(m_path);
    const uint32_t dataBytes = uint32_t(2 * 16384 + partial);
    ASSERT_EQ(bytes.size(), 46u + dataBytes + 1);
    ExpectHeader(bytes, dataBytes, 1);
    const auto cut = Pattern(1);
    EXPECT_EQ(std::memcmp(bytes.data() + 46 + 16384, cut.data(), partial), 0);
    const auto after = Pattern(3);
    EXPECT_EQ(std::memcmp(bytes.data() + 46 + 16384 + partial, after.data(), 16384), 0);
    EXPECT_EQ(bytes.back(), 0);
}



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

// The header could not be written when the file was opened, and no buffer came after to write
// it: Close is the last chance, and the empty recording still opens in a reader.
TEST_F(WavReaders, EmptyRecordingWhoseHeaderFailedAtOpenIsWholeOnceClosed) {
    const CPcmFormat pcm;
    CStaleHeaderWav file(m_path, &pcm.m_format);
    file.Close();
    file.m_failHeader = true;
    ASSERT_TRUE(file.OpenForWriting());
    file.m_failHeader = false;
    file.Close();
    const std::vector<uint8_t> bytes = ReadAll(m_path);
    EXPECT_EQ(bytes.size(), 46u);
    ExpectHeader(bytes, 0);
    EXPECT_EQ(PythonWave(m_path, 0), "2 2 44100 0 True\n");
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
