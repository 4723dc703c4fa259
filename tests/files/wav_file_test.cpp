#include "wav_file.h"
#include "wav_test_util.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <cstring>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace wavtest;

namespace {

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

} // namespace
