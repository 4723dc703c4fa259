// Byte layout of packed images and BMP files, checked field by field.
#include "tests/files/bmp/bmp_test_support.h"

#include <gtest/gtest.h>

using namespace bmp_test;

namespace {

struct DepthCase {
    int bits;
    int width;
    uint32_t rowBytes;
    uint32_t entries;
    uint32_t pixelOffset;
};

std::ostream& operator<<(std::ostream& out, const DepthCase& c) {
    return out << c.bits << " bpp, " << c.width << " px wide";
}

class BmpLayoutTest : public ::testing::TestWithParam<DepthCase> {};

} // namespace

TEST_P(BmpLayoutTest, HeadersSizesAndOffsets) {
    const DepthCase c = GetParam();
    const int height = 7;
    CTestRaster raster(c.width, height, c.bits);
    CImageSaver saver;
    const std::optional<PackedImage> block = saver.PackBitmap(raster.View(), kCompressionRgb, {});
    ASSERT_TRUE(block);
    ASSERT_EQ(block->size(), 40 + 4 * c.entries + c.rowBytes * height);

    CScratchDir dir;
    const std::string path = dir.File("frame.bmp");
    ASSERT_TRUE(saver.WriteBmpFile(path, block));
    const std::vector<uint8_t> file = ReadAll(path);
    ASSERT_EQ(file.size(), 14 + block->size());

    EXPECT_EQ(file[0], 'B');
    EXPECT_EQ(file[1], 'M');
    EXPECT_EQ(Le32(file, 2), file.size());
    EXPECT_EQ(Le16(file, 6), 0);
    EXPECT_EQ(Le16(file, 8), 0);
    EXPECT_EQ(Le32(file, 10), c.pixelOffset);

    EXPECT_EQ(Le32(file, 14), 40u);                 // biSize
    EXPECT_EQ(Le32(file, 18), uint32_t(c.width));   // biWidth
    EXPECT_EQ(Le32(file, 22), uint32_t(height));    // biHeight: positive, bottom-up
    EXPECT_EQ(Le16(file, 26), 1);                   // biPlanes
    EXPECT_EQ(Le16(file, 28), c.bits);              // biBitCount
    EXPECT_EQ(Le32(file, 30), 0u);                  // biCompression
    EXPECT_EQ(Le32(file, 34), c.rowBytes * height); // biSizeImage
    for (size_t at = 38; at < 54; at += 4) {
        EXPECT_EQ(Le32(file, at), 0u) << "offset " << at; // resolution, colours used/important
    }
    // The block follows the file header unchanged.
    EXPECT_TRUE(std::equal(block->begin(), block->end(), file.begin() + 14));
}

INSTANTIATE_TEST_SUITE_P(
    Depths, BmpLayoutTest,
    ::testing::Values(DepthCase{24, 301, 904, 0, 54}, DepthCase{24, 560, 1680, 0, 54},
                      DepthCase{32, 301, 1204, 0, 54}, DepthCase{16, 3, 8, 0, 54},
                      DepthCase{8, 5, 8, 256, 1078}, DepthCase{4, 9, 8, 16, 118},
                      DepthCase{1, 33, 8, 2, 62}));

TEST(BmpRowsTest, BottomRowFirstWithZeroPadding) {
    CTestRaster raster(301, 4, 24);
    const std::optional<PackedImage> block =
        CImageSaver().PackBitmap(raster.View(), kCompressionRgb, {});
    ASSERT_TRUE(block);
    for (int row = 0; row < 4; ++row) {
        const uint8_t* stored = block->data() + 40 + row * 904;
        const uint8_t* source = raster.Row(3 - row);
        ASSERT_TRUE(std::equal(source, source + 903, stored)) << "row " << row;
        EXPECT_EQ(stored[903], 0) << "padding of row " << row;
    }
}

TEST(BmpRowsTest, ThirtyTwoBitPixelsKeepColourAndClearTheFourthByte) {
    CTestRaster raster(37, 3, 32);
    raster.Fill(0xAB); // the raster's fourth bytes carry something that is not colour
    raster.Paint();
    const std::optional<PackedImage> block =
        CImageSaver().PackBitmap(raster.View(), kCompressionRgb, {});
    ASSERT_TRUE(block);
    for (int row = 0; row < 3; ++row) {
        for (int x = 0; x < 37; ++x) {
            const uint8_t* stored = block->data() + 40 + row * 148 + 4 * x;
            const uint8_t* source = raster.Row(2 - row) + 4 * x;
            ASSERT_EQ(stored[0], source[0]);
            ASSERT_EQ(stored[1], source[1]);
            ASSERT_EQ(stored[2], source[2]);
            ASSERT_EQ(stored[3], 0);
        }
    }
}

TEST(BmpColorTableTest, HoldsTheCallersPaletteThenBlack) {
    // 255 entries, as a palette read from a 256-colour system palette leaves one out.
    std::vector<PaletteEntry> palette(255);
    for (int i = 0; i < 255; ++i) {
        palette[i] = {uint8_t(i), uint8_t(255 - i), uint8_t(i * 7), 0x04};
    }
    CTestRaster raster(3, 2, 8);
    const std::optional<PackedImage> block =
        CImageSaver().PackBitmap(raster.View(), kCompressionRgb, palette);
    ASSERT_TRUE(block);
    for (int i = 0; i < 255; ++i) {
        const uint8_t* entry = block->data() + 40 + 4 * i;
        ASSERT_EQ(entry[0], palette[i].blue) << i;
        ASSERT_EQ(entry[1], palette[i].green) << i;
        ASSERT_EQ(entry[2], palette[i].red) << i;
        ASSERT_EQ(entry[3], 0) << i;
    }
    EXPECT_EQ(Le32(*block, 40 + 4 * 255), 0u);
}

TEST(BmpColorTableTest, MonochromeWithoutPaletteIsBlackAndWhite) {
    CTestRaster raster(8, 1, 1);
    const std::optional<PackedImage> block =
        CImageSaver().PackBitmap(raster.View(), kCompressionRgb, {});
    ASSERT_TRUE(block);
    EXPECT_EQ(Le32(*block, 40), 0x00000000u);
    EXPECT_EQ(Le32(*block, 44), 0x00FFFFFFu);
}

TEST(BmpPackTest, RefusesWhatItCannotPack) {
    CTestRaster raster(10, 10, 32);
    CImageSaver saver;
    EXPECT_FALSE(saver.PackBitmap(raster.View(), kCompressionBitfields, {}));
    EXPECT_FALSE(saver.PackBitmap(raster.View(), 1, {})); // run-length: no encoder
    EXPECT_FALSE(saver.PackBitmap(raster.View(), 2, {}));

    FrameRaster bad = raster.View();
    bad.bitsPerPixel = 12;
    EXPECT_FALSE(saver.PackBitmap(bad, kCompressionRgb, {}));
    bad = raster.View();
    bad.rowStride = 39; // shorter than the 40 bytes one row needs
    EXPECT_FALSE(saver.PackBitmap(bad, kCompressionRgb, {}));
    bad = raster.View();
    bad.width = 0;
    EXPECT_FALSE(saver.PackBitmap(bad, kCompressionRgb, {}));
    bad = raster.View();
    bad.pixels = nullptr;
    EXPECT_FALSE(saver.PackBitmap(bad, kCompressionRgb, {}));
}
