// How WriteBmpFile treats the file system: what it creates, replaces and leaves behind.
#include "tests/files/bmp/bmp_test_support.h"

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>

using namespace bmp_test;

namespace {

std::optional<PackedImage> SampleBlock(int width = 301, int height = 50) {
    CTestRaster raster(width, height, 24);
    return CImageSaver().PackBitmap(raster.View(), kCompressionRgb, {});
}

void WriteText(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

// Caps the size any file of this process may reach, the way a nearly full disk would stop a
// write part way; the signal the kernel would send is ignored so the write just fails.
class CFileSizeCap {
public:
    explicit CFileSizeCap(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &m_saved);
        m_savedHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit cap = m_saved;
        cap.rlim_cur = bytes;
        EXPECT_EQ(::setrlimit(RLIMIT_FSIZE, &cap), 0);
    }
    ~CFileSizeCap() {
        ::setrlimit(RLIMIT_FSIZE, &m_saved);
        std::signal(SIGXFSZ, m_savedHandler);
    }

private:
    rlimit m_saved{};
    void (*m_savedHandler)(int) = nullptr;
};

} // namespace

TEST(BmpWriteTest, NothingToWriteOrNowhereToWriteCreatesNothing) {
    CScratchDir dir;
    CImageSaver saver;
    EXPECT_FALSE(saver.WriteBmpFile(dir.File("none.bmp"), std::nullopt));
    EXPECT_FALSE(saver.WriteBmpFile(dir.File("short.bmp"), PackedImage(39, 0)));

    const auto block = SampleBlock();
    EXPECT_FALSE(saver.WriteBmpFile(dir.File("missing/frame.bmp"), block));
    WriteText(dir.File("plain"), "x");
    EXPECT_FALSE(saver.WriteBmpFile(dir.File("plain/frame.bmp"), block));
    std::filesystem::create_directory(dir.File("folder"));
    EXPECT_FALSE(saver.WriteBmpFile(dir.File("folder"), block));

    EXPECT_EQ(dir.Names(), (std::vector<std::string>{"folder", "plain"}));
    EXPECT_TRUE(std::filesystem::is_empty(dir.File("folder")));
    EXPECT_EQ(ReadAll(dir.File("plain")), std::vector<uint8_t>{'x'});
}

TEST(BmpWriteTest, ExistingFileIsReplacedEntirelyKeepingItsPermissions) {
    CScratchDir dir;
    const std::string path = dir.File("frame.bmp");
    WriteText(path, std::string(500000, 'z'));
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);

    const auto block = SampleBlock();
    ASSERT_TRUE(CImageSaver().WriteBmpFile(path, block));
    const std::vector<uint8_t> file = ReadAll(path);
    ASSERT_EQ(file.size(), 14 + block->size());
    EXPECT_TRUE(std::equal(block->begin(), block->end(), file.begin() + 14));
    EXPECT_EQ(dir.Names(), std::vector<std::string>{"frame.bmp"});

    struct stat st;
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST(BmpWriteTest, SymbolicLinkIsWrittenThrough) {
    CScratchDir dir;
    WriteText(dir.File("real.bmp"), "old");
    std::filesystem::create_symlink(dir.File("real.bmp"), dir.File("link.bmp"));

    const auto block = SampleBlock(5, 5);
    ASSERT_TRUE(CImageSaver().WriteBmpFile(dir.File("link.bmp"), block));
    EXPECT_TRUE(std::filesystem::is_symlink(dir.File("link.bmp")));
    EXPECT_EQ(ReadAll(dir.File("real.bmp")).size(), 14 + block->size());
}

TEST(BmpWriteTest, FailureWhileWritingLeavesNoFileAndKeepsTheOldOne) {
    CScratchDir dir;
    const auto block = SampleBlock();
    ASSERT_GT(block->size(), 8192u);
    WriteText(dir.File("kept.bmp"), "previous picture");
    {
        CFileSizeCap cap(4096);
        std::string why;
        EXPECT_FALSE(CImageSaver().WriteBmpFile(dir.File("new.bmp"), block, &why));
        EXPECT_EQ(why, "File too large"); // the reason the user is shown
        EXPECT_FALSE(CImageSaver().WriteBmpFile(dir.File("kept.bmp"), block));
    }
    EXPECT_EQ(dir.Names(), std::vector<std::string>{"kept.bmp"});
    const std::vector<uint8_t> kept = ReadAll(dir.File("kept.bmp"));
    EXPECT_EQ(std::string(kept.begin(), kept.end()), "previous picture");

    // The same save succeeds once there is room again.
    EXPECT_TRUE(CImageSaver().WriteBmpFile(dir.File("new.bmp"), block));
}
