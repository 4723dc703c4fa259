#pragma once
// Shared by the engine tests: an alert sink that records, scratch files, and the generator's
// expected output for a recording.

#include "format_and_alert.h"
#include "generator.h"
#include "sound_device.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace enginetest {

// Records every alert and answers at once (or, with a gate, only once the gate opens).
class CAlertLog {
public:
    CAlertLog() {
        SetAlertSink([this](const Alert& alert) {
            std::unique_lock lock(m_mutex);
            m_alerts.push_back(alert);
            m_changed.notify_all();
            m_changed.wait(lock, [&] { return !m_holdBoxes || !alert.waits; });
        });
    }
    ~CAlertLog() {
        Release();
        SetAlertSink(nullptr);
    }
    void HoldBoxes() {
        std::lock_guard lock(m_mutex);
        m_holdBoxes = true;
    }
    void Release() {
        std::lock_guard lock(m_mutex);
        m_holdBoxes = false;
        m_changed.notify_all();
    }
    void Clear() {
        std::lock_guard lock(m_mutex);
        m_alerts.clear();
    }
    std::vector<Alert> Alerts() {
        std::lock_guard lock(m_mutex);
        return m_alerts;
    }
    bool WaitForCount(size_t count, std::chrono::milliseconds timeout) {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, timeout, [&] { return m_alerts.size() >= count; });
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<Alert> m_alerts;
    bool m_holdBoxes = false;
};

inline std::string ScratchDir() {
    std::string pattern = ::testing::TempDir() + "tavrin-engine-XXXXXX";
    EXPECT_NE(::mkdtemp(pattern.data()), nullptr);
    return pattern;
}

inline std::vector<uint8_t> ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline bool WaitUntil(const std::function<bool()>& done,
                      std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
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
