// Files read back by readers we did not write: ImageMagick and QImage.
#include "tests/files/bmp/bmp_test_support.h"

#include <QColor>
#include <QImage>

#include <cstdio>
#include <sstream>

using namespace bmp_test;

namespace {

struct Ppm {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgb; // top row first
};

// ImageMagick's own decoder, converted to binary PPM (RGB, no alpha).
Ppm ConvertWithImageMagick(const std::string& bmp, const std::string& ppm) {
    const std::string command = "/usr/bin/convert '" + bmp + "' 'ppm:" + ppm + "' 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    const std::vector<uint8_t> bytes = ReadAll(ppm);
    std::string text(bytes.begin(), bytes.end());
    std::istringstream in(text);
    std::string magic;
    int maxValue = 0;
    Ppm out;
    in >> magic >> out.width >> out.height >> maxValue;
    in.get();
    EXPECT_EQ(magic, "P6");
    EXPECT_EQ(maxValue, 255);
    out.rgb.assign(bytes.begin() + in.tellg(), bytes.end());
    return out;
}

std::string Identify(const std::string& bmp) {
    const std::string command = "/usr/bin/identify -format '%m %w %h' '" + bmp + "'";
    std::string result;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[256];
        while (std::fgets(buffer, sizeof buffer, pipe)) {
            result += buffer;
        }
        ::pclose(pipe);
    }
    return result;
}

class BmpReadBackTest : public ::testing::TestWithParam<std::pair<int, int>> {};

} // namespace

TEST_P(BmpReadBackTest, ImageMagickAndQImageSeeTheSamePixels) {
    const auto [bits, width] = GetParam();
    const int height = 9;
    CTestRaster raster(width, height, bits);
    CImageSaver saver;
    CScratchDir dir;
    const std::string path = dir.File("frame.bmp");
    ASSERT_TRUE(saver.WriteBmpFile(path, saver.PackBitmap(raster.View(), kCompressionRgb, {})));

    // ImageMagick calls a file with the 40-byte info header "BMP3".
    EXPECT_EQ(Identify(path), "BMP3 " + std::to_string(width) + " " + std::to_string(height));

    const Ppm ppm = ConvertWithImageMagick(path, dir.File("frame.ppm"));
    ASSERT_EQ(ppm.width, width);
    ASSERT_EQ(ppm.height, height);
    ASSERT_EQ(ppm.rgb.size(), size_t(3 * width * height));

    const QImage image(QString::fromStdString(path));
    ASSERT_FALSE(image.isNull());
    ASSERT_EQ(image.width(), width);
    ASSERT_EQ(image.height(), height);

    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const auto rgb = raster.Rgb(x, y);
            const uint8_t* seen = &ppm.rgb[3 * (size_t(y) * width + x)];
            ASSERT_EQ(std::vector<uint8_t>(seen, seen + 3),
                      std::vector<uint8_t>(rgb.begin(), rgb.end()))
                << "ImageMagick at " << x << "," << y;
            const QRgb pixel = image.pixel(x, y);
            ASSERT_EQ(qRed(pixel), rgb[0]) << "QImage at " << x << "," << y;
            ASSERT_EQ(qGreen(pixel), rgb[1]) << "QImage at " << x << "," << y;
            ASSERT_EQ(qBlue(pixel), rgb[2]) << "QImage at " << x << "," << y;
            ASSERT_EQ(qAlpha(pixel), 255) << "QImage at " << x << "," << y;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(OddWidths, BmpReadBackTest,
                         ::testing::Values(std::pair{24, 301}, std::pair{24, 1}, std::pair{32, 301},
                                           std::pair{32, 3}, std::pair{32, 560}));

TEST(BmpReadBackTest, IndexedPixelsShowThePaletteColours) {
    std::vector<PaletteEntry> palette(255);
    for (int i = 0; i < 255; ++i) {
        palette[i] = {uint8_t(i), uint8_t(i * 3), uint8_t(255 - i), 0};
    }
    CTestRaster raster(13, 5, 8);
    raster.Row(0)[0] = 255; // beyond the palette: black
    CImageSaver saver;
    CScratchDir dir;
    const std::string path = dir.File("indexed.bmp");
    ASSERT_TRUE(
        saver.WriteBmpFile(path, saver.PackBitmap(raster.View(), kCompressionRgb, palette)));

    const Ppm ppm = ConvertWithImageMagick(path, dir.File("indexed.ppm"));
    const QImage image(QString::fromStdString(path));
    ASSERT_EQ(ppm.rgb.size(), size_t(3 * 13 * 5));
    ASSERT_EQ(image.size(), QSize(13, 5));
    for (int y = 0; y < 5; ++y) {
        for (int x = 0; x < 13; ++x) {
            const int index = raster.Row(y)[x];
            const PaletteEntry colour = index < 255 ? palette[index] : PaletteEntry{};
            const uint8_t* seen = &ppm.rgb[3 * (size_t(y) * 13 + x)];
            ASSERT_EQ(seen[0], colour.red) << x << "," << y;
            ASSERT_EQ(seen[1], colour.green) << x << "," << y;
            ASSERT_EQ(seen[2], colour.blue) << x << "," << y;
            ASSERT_EQ(image.pixel(x, y), qRgb(colour.red, colour.green, colour.blue));
        }
    }
}
