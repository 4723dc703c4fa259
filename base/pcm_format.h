#pragma once
// The PCM format record carried by the capture and playback threads and the WAV recorder.

#include <cstdint>

// Field names follow the wave interface's record so the file layout reads like its documentation.
// In memory the record may be padded; kWaveFormatBytes is its size on disk and on the wire.
struct WAVEFORMATEX {
    uint16_t wFormatTag = 0;
    uint16_t nChannels = 0;
    uint32_t nSamplesPerSec = 0;
    uint32_t nAvgBytesPerSec = 0;
    uint16_t nBlockAlign = 0;
    uint16_t wBitsPerSample = 0;
    uint16_t cbSize = 0;
};

inline constexpr int kWaveFormatBytes = 18;
inline constexpr uint16_t kWaveFormatPcm = 1;

// The one block format of the whole program.
inline constexpr int kSampleRate = 44100;         // frames per second
inline constexpr int kChannels = 2;               // left (X1 / L) first
inline constexpr int kFramesPerBuffer = 4096;     // one device buffer
inline constexpr int kBytesPerFrame = 4;          // two int16 samples
inline constexpr int kBufferBytes = kFramesPerBuffer * kBytesPerFrame;  // 16384
inline constexpr int kBlockFrames = 2048;         // what the display and meters look at
inline constexpr double kBufferSeconds = double(kFramesPerBuffer) / kSampleRate;  // ~92.9 ms

class CPcmFormat {
public:
    CPcmFormat();
    virtual ~CPcmFormat() = default;

    void SetSampleBits(int bits);
    void SetSampleRate(int rate);
    void SetChannelCount(int count);
    void UpdateDerived();

    // Bytes in one device buffer: nBlockAlign x m_framesPerBuffer.
    int BufferBytes() const { return int(m_format.nBlockAlign) * m_framesPerBuffer; }

    WAVEFORMATEX m_format;
    int32_t m_framesPerBuffer = 0;
};

// Little-endian 18-byte image of a format record, as it stands in a WAV file's format chunk.
void SerializeWaveFormat(const WAVEFORMATEX& format, uint8_t out[kWaveFormatBytes]);
void DeserializeWaveFormat(const uint8_t in[kWaveFormatBytes], WAVEFORMATEX& format);
