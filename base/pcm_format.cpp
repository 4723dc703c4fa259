#include "pcm_format.h"

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

namespace {
void Put16(uint8_t* p, uint16_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
void Put32(uint8_t* p, uint32_t v) {
    Put16(p, uint16_t(v));
    Put16(p + 2, uint16_t(v >> 16));
}
uint16_t Get16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
uint32_t Get32(const uint8_t* p) { return Get16(p) | (uint32_t(Get16(p + 2)) << 16); }
} // namespace

void SerializeWaveFormat(const WAVEFORMATEX& f, uint8_t out[kWaveFormatBytes]) {
    Put16(out + 0, f.wFormatTag);
    Put16(out + 2, f.nChannels);
    Put32(out + 4, f.nSamplesPerSec);
    Put32(out + 8, f.nAvgBytesPerSec);
    Put16(out + 12, f.nBlockAlign);
    Put16(out + 14, f.wBitsPerSample);
    Put16(out + 16, f.cbSize);
}

void DeserializeWaveFormat(const uint8_t in[kWaveFormatBytes], WAVEFORMATEX& f) {
    f.wFormatTag = Get16(in + 0);
    f.nChannels = Get16(in + 2);
    f.nSamplesPerSec = Get32(in + 4);
    f.nAvgBytesPerSec = Get32(in + 8);
    f.nBlockAlign = Get16(in + 12);
    f.wBitsPerSample = Get16(in + 14);
    f.cbSize = Get16(in + 16);
}
