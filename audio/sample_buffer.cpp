#include "audio/sample_buffer.h"

#include "base/format_and_alert.h"

#include <new>

SampleBuffer::SampleBuffer(int32_t size, bool owns) : m_ownsData(owns) {
    m_data = size >= 0 ? new (std::nothrow) uint8_t[size_t(size)] : nullptr;
    if (m_data == nullptr) {
        FormatAndAlert("Out of memory!");
        m_length = 0;
        return;
    }
    m_length = size;
}

SampleBuffer::SampleBuffer(uint8_t* data, int32_t length) : m_ownsData(false) {
    if (data != nullptr) {
        m_data = data;
        m_length = length;
    }
}

SampleBuffer::~SampleBuffer() {
    if (m_ownsData && m_data != nullptr) {
        ReleaseSampleBytes(m_data);
    }
}

void ReleaseSampleBytes(uint8_t* data) {
    delete[] data;
}
