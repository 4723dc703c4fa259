#include "audio/sample_buffer.h"

#include <gtest/gtest.h>

TEST(SampleBuffer, WrappingNoDataGivesEmptyBuffer) {
    SampleBuffer b(nullptr, 5000);
    EXPECT_EQ(b.m_data, nullptr);
    EXPECT_EQ(b.m_length, 0);
    EXPECT_FALSE(b.m_ownsData);
}

TEST(SampleBuffer, NonOwningAllocationOutlivesTheRecord) {
    uint8_t* bytes = nullptr;
    {
        SampleBuffer b(16384, false);
        ASSERT_NE(b.m_data, nullptr);
        EXPECT_EQ(b.m_length, 16384);
        bytes = b.m_data;
        bytes[16383] = 7;
    }
    // Still ours to read (ASan would flag a use after free) and to release.
    EXPECT_EQ(bytes[16383], 7);
    ReleaseSampleBytes(bytes);
}
