#pragma once
// The record by which audio bytes travel between device threads, callbacks, generator and recorder.

#include "base/clock_stamp.h"

#include <cstdint>

class SampleBuffer {
public:
    // Allocating: size bytes, contents uninitialised; released by the destructor only if owns.
    // On allocation failure shows "Out of memory!" and leaves the buffer empty.
    SampleBuffer(int32_t size, bool owns);
    // Wrapping: never owns. No data gives an empty buffer, whatever the length.
    SampleBuffer(uint8_t* data, int32_t length);
    virtual ~SampleBuffer();

    SampleBuffer(const SampleBuffer&) = delete;
    SampleBuffer& operator=(const SampleBuffer&) = delete;

    uint8_t* m_data = nullptr;
    int32_t m_length = 0;
    bool m_ownsData = false;
    // Capture: the bytes the device recorded (fewer, or none, in a buffer a reset handed back)
    // and the gap counts it stamped on the buffer (WAVEHDR::gapCount, inputGapCount).
    int32_t m_recordedBytes = 0;
    uint64_t m_gapCount = 0;
    uint64_t m_inputGapCount = 0;
    // WAVEHDR::stamp of the header the bytes came in: capture, when the first frame was
    // captured; playback, when the first frame of what the buffer held before left for the line.
    ClockStamp m_stamp;
};

// Releases bytes allocated by the allocating constructor once their header leaves circulation.
void ReleaseSampleBytes(uint8_t* data);
