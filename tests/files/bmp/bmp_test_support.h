#pragma once
// Rasters, scratch folders and little-endian reads for the BMP tests.

#include "files/image_saver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace bmp_test {

// A top-down raster whose rows are longer than the pixels need, with the slack filled with a
// marker, so a writer that copies the stride instead of the pixels is caught.
class CTestRaster {
public:
    CTestRaster(int width, int height, int bits)
        : m_width(width), m_height(height), m_bits(bits),
          m_stride(int((size_t(width) * bits + 7) / 8) + 5),
          m_bytes(size_t(m_stride) * height, 0xEE) {
        Paint();
    }

    // A pattern that differs between neighbouring pixels, rows and colour channels.
    void Paint() {
        const int used = int((size_t(m_width) * m_bits + 7) / 8);
        for (int y = 0; y < m_height; ++y) {
            for (int i = 0; i < used; ++i) {
                if (m_bits == 32 && i % 4 == 3) {
                    continue; // the byte without colour keeps whatever Fill put there
                }
                Row(y)[i] = uint8_t(y * 31 + i * 7 + (i % 3) * 50);
            }
        }
    }
    void Fill(uint8_t value) { std::fill(m_bytes.begin(), m_bytes.end(), value); }

    uint8_t* Row(int y) { return m_bytes.data() + size_t(y) * m_stride; }
    FrameRaster View() const { return {m_width, m_height, m_bits, m_stride, m_bytes.data()}; }

    // Red, green, blue of pixel (x, y) for 24 and 32 bits per pixel.
    std::array<uint8_t, 3> Rgb(int x, int y) const {
        const uint8_t* p = m_bytes.data() + size_t(y) * m_stride + size_t(x) * (m_bits / 8);
        return {p[2], p[1], p[0]};
    }

private:
    int m_width;
    int m_height;
    int m_bits;
    int m_stride;
    std::vector<uint8_t> m_bytes;
};

class CScratchDir {
public:
    CScratchDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "tavrin-bmp-XXXXXX");
        m_path = ::mkdtemp(pattern.data()) ? pattern : std::string();
        EXPECT_FALSE(m_path.empty());
    }
    ~CScratchDir() {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    std::string File(const std::string& name) const { return m_path + "/" + name; }
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(m_path)) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }
    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
};

inline std::vector<uint8_t> ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline uint32_t Le16(const std::vector<uint8_t>& b, size_t at) {
    return uint32_t(b.at(at)) | uint32_t(b.at(at + 1)) << 8;
}

inline uint32_t Le32(const std::vector<uint8_t>& b, size_t at) {
    return Le16(b, at) | Le16(b, at + 2) << 16;
}

} // namespace bmp_test
