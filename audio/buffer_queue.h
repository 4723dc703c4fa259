#pragma once
// A list of buffer pointers with a counting semaphore. The engine owns two and creates them
// before its threads; buffers travel by direct callback, so nothing ever passes through them.

#include <semaphore>
#include <vector>

class SampleBuffer;

// Kept although no buffer ever passes through it: the engine is defined to own two.
class CBufferQueue {
public:
    CBufferQueue();
    ~CBufferQueue();

private:
    std::vector<SampleBuffer*> m_list;
    std::counting_semaphore<10000> m_semaphore{0};
};
