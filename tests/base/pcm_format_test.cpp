#include "base/pcm_format.h"

#include <gtest/gtest.h>

TEST(PcmFormat, FreshRecordDescribesTheOneBlockFormat) {
    CPcmFormat f;
    EXPECT_EQ(f.m_format.wFormatTag, 1);
    EXPECT_EQ(f.m_format.nChannels, 2);
    EXPECT_EQ(f.m_format.nSamplesPerSec, 44100u);
    EXPECT_EQ(f.m_format.wBitsPerSample, 16);
    EXPECT_EQ(f.m_format.nBlockAlign, 4);
    EXPECT_EQ(f.m_format.nAvgBytesPerSec, 176400u);
    EXPECT_EQ(f.m_format.cbSize, 0);
    EXPECT_EQ(f.m_framesPerBuffer, 4096);
    EXPECT_EQ(f.BufferBytes(), 16384);
}

TEST(PcmFormat, EverySetterKeepsDerivedFieldsConsistent) {
    CPcmFormat f;
    f.SetChannelCount(1);
    EXPECT_EQ(f.m_format.nBlockAlign, 2);
    EXPECT_EQ(f.m_format.nAvgBytesPerSec, 88200u);
    f.SetSampleBits(8);
    EXPECT_EQ(f.m_format.nBlockAlign, 1);
    EXPECT_EQ(f.m_format.nAvgBytesPerSec, 44100u);
    f.SetSampleRate(8000);
    EXPECT_EQ(f.m_format.nAvgBytesPerSec, 8000u);
}

TEST(PcmFormat, SerializesToEighteenLittleEndianBytes) {
    CPcmFormat f;
    uint8_t bytes[kWaveFormatBytes];
    SerializeWaveFormat(f.m_format, bytes);
    const uint8_t expected[kWaveFormatBytes] = {1, 0, 2, 0, 0x44, 0xAC, 0, 0, 0x10, 0xB1,
                                                2, 0, 4, 0, 16, 0, 0, 0};
    EXPECT_EQ(0, memcmp(bytes, expected, sizeof expected));
    WAVEFORMATEX back;
    DeserializeWaveFormat(bytes, back);
    EXPECT_EQ(back.nAvgBytesPerSec, 176400u);
    EXPECT_EQ(back.nBlockAlign, 4);
}
