#pragma once
// Shared by the engine tests: scratch files and the generator's expected output for a
// recording.

#include "audio/generator.h"
#include "engine/sound_device.h"
#include "tests/support/alert_recorder.h"
#include "tests/support/wait_until.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace enginetest {

inline std::string ScratchDir() {
    std::string pattern = ::testing::TempDir() + "tavrin-engine-XXXXXX";
    EXPECT_NE(::mkdtemp(pattern.data()), nullptr);
    return pattern;
}

inline std::vector<uint8_t> ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The bytes of `buffers` generator buffers from frame position `first` on.
inline std::vector<uint8_t> GeneratorBytes(const GeneratorChannel& left,
                                           const GeneratorChannel& right, int64_t first,
                                           int buffers) {
    std::vector<uint8_t> bytes;
    static int16_t block[kFramesPerBuffer * kChannels];
    for (int b = 0; b < buffers; ++b) {
        SynthesizeBuffer(left, right, first + int64_t(b) * kFramesPerBuffer, block);
        const auto* at = reinterpret_cast<const uint8_t*>(block);
        bytes.insert(bytes.end(), at, at + sizeof block);
    }
    return bytes;
}

// Sets both output channels' waveform, frequency and divisor, as the panel's controls would.
inline void SetGenerator(CSoundDevice& device, const GeneratorChannel& left,
                         const GeneratorChannel& right) {
    device.m_waveL = left.waveform;
    device.m_freqL = left.frequency;
    device.m_attenL = left.divisor;
    device.m_waveR = right.waveform;
    device.m_freqR = right.frequency;
    device.m_attenR = right.divisor;
}

} // namespace enginetest
