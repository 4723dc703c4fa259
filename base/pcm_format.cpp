#include "base/pcm_format.h"

#include "base/le_bytes.h"

CPcmFormat::CPcmFormat() {
    m_format.wFormatTag = kWaveFormatPcm;
    m_format.cbSize = 0;
    m_framesPerBuffer = kFramesPerBuffer;
    SetSampleBits(16);
    SetSampleRate(kSampleRate);
    SetChannelCount(kChannels);
}

void CPcmFormat::SetSampleBits(int bits) {
    m_format.wBitsPerSample = uint16_t(bits);
    UpdateDerived();
}

void CPcmFormat::SetSampleRate(int rate) {
    m_format.nSamplesPerSec = uint32_t(rate);
    UpdateDerived();
}

void CPcmFormat::SetChannelCount(int count) {
    m_format.nChannels = uint16_t(count);
    UpdateDerived();
}

void CPcmFormat::UpdateDerived() {
    const uint32_t bytesPerSample = m_format.wBitsPerSample / 8u;
    m_format.nAvgBytesPerSec = bytesPerSample * m_format.nSamplesPerSec * m_format.nChannels;
    m_format.nBlockAlign = uint16_t(bytesPerSample * m_format.nChannels);
}

void SerializeWaveFormat(const WAVEFORMATEX& f, uint8_t out[kWaveFormatBytes]) {
    PutLe16(out + 0, f.wFormatTag);
    PutLe16(out + 2, f.nChannels);
    PutLe32(out + 4, f.nSamplesPerSec);
    PutLe32(out + 8, f.nAvgBytesPerSec);
    PutLe16(out + 12, f.nBlockAlign);
    PutLe16(out + 14, f.wBitsPerSample);
    PutLe16(out + 16, f.cbSize);
}

void DeserializeWaveFormat(const uint8_t in[kWaveFormatBytes], WAVEFORMATEX& f) {
    f.wFormatTag = GetLe16(in + 0);
    f.nChannels = GetLe16(in + 2);
    f.nSamplesPerSec = GetLe32(in + 4);
    f.nAvgBytesPerSec = GetLe32(in + 8);
    f.nBlockAlign = GetLe16(in + 12);
    f.wBitsPerSample = GetLe16(in + 14);
    f.cbSize = GetLe16(in + 16);
}
