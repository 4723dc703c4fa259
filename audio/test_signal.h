#pragma once
// The analysers' test-signal source: a tone at any frequency to 0.01 Hz and any level from
// -120 to 0 dBFS with optional TPDF dither, and the two intermodulation signals (SMPTE
// 60 Hz + 7 kHz at 4:1, CCIF 19 + 20 kHz at 1:1). The same signal on both channels.
// Unlike the panel's generator its phase runs on from one buffer to the next in double
// precision, so a tone stays clean over blocks of a quarter of a million frames.
//
// Threads: Set on any thread; Fill on the one thread that plays (the playback worker, or the
// GUI thread for the primed buffers, never both at once). A new signal starts at phase 0 at the
// next Fill.

#include <cstdint>
#include <mutex>

enum class TestSignalKind { Tone, ImdSmpte, ImdCcif };

struct TestSignal {
    TestSignalKind kind = TestSignalKind::Tone;
    double freq_hz = 997.0;  // the tone's; ignored for the IMD signals
    double level_dbfs = -1.0; // a tone's RMS on AES17 (0 dBFS: amplitude 32768 x 1.0, clipped
                              // to 32767); for IMD, the two tones' summed peak
    bool dither = false;     // TPDF, +-1 LSB, added before rounding
};

inline constexpr double kTestToneMinHz = 0.01;
inline constexpr double kTestLevelMinDbfs = -120.0;
inline constexpr double kTestLevelMaxDbfs = 0.0;

class CTestSignalSource {
public:
    void Set(const TestSignal& signal);
    TestSignal Current() const;
    // Writes `frames` interleaved stereo frames (L first).
    void Fill(int16_t* interleaved, int frames);

private:
    mutable std::mutex m_mutex; // guards m_pending/m_changed only, never held while filling
    TestSignal m_pending;
    bool m_changed = true;
    // Filling thread only.
    TestSignal m_signal;
    int64_t m_frame = 0;
    uint64_t m_ditherState = 0x9E3779B97F4A7C15ull;
};
