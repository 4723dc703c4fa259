#pragma once
// Helpers shared by the WAV recorder tests: a scratch directory, file bytes, a recognisable
// buffer pattern.

#include "pcm_format.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace wavtest {

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

} // namespace wavtest
