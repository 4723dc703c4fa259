#include "audio/buffer_queue.h"

CBufferQueue::CBufferQueue() {
    m_list.reserve(10);
}

CBufferQueue::~CBufferQueue() {
    m_list.clear();
}
