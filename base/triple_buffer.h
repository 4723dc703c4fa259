#pragma once
// A lock-free handover of the newest value from one writer thread to one reader thread, in three
// slots made beforehand: the writer fills its slot and swaps it into the middle; the reader swaps
// the middle out when it holds something new. Neither waits for the other, nothing is allocated
// once the slots are made (a value whose copy reuses its target's storage, such as a vector that
// fits the slot's capacity, copies in place), and a slow reader sees the newest value, never an
// old one. Unlike CLatestValue (latest_value.h), it needs no queued call per value: the reader
// polls Fresh(), which costs one atomic load.
//
// Threads: Publish on the one writer thread; Fresh and Take on the one reader thread.

#include <array>
#include <atomic>
#include <cstdint>

template <class T> class CTripleBuffer {
public:
    // Each slot starts as a copy of `prototype`: give it the storage the values will need.
    explicit CTripleBuffer(const T& prototype) : m_slots{prototype, prototype, prototype} {}

    // Writer: copies value into the writer's slot and hands it over.
    void Publish(const T& value) {
        m_slots[m_write] = value;
        const uint8_t old = m_middle.exchange(uint8_t(m_write | kFresh), std::memory_order_acq_rel);
        m_write = old & kIndex;
    }

    // Reader: whether a value was published since the last Take.
    bool Fresh() const { return (m_middle.load(std::memory_order_acquire) & kFresh) != 0; }

    // Reader: the newest value published, or nullptr when there is none since the last Take. It
    // stays the reader's, unchanged, until the next Take.
    const T* Take() {
        if (!Fresh()) {
            return nullptr;
        }
        const uint8_t old = m_middle.exchange(uint8_t(m_read), std::memory_order_acq_rel);
        m_read = old & kIndex;
        return &m_slots[m_read];
    }

private:
    static constexpr uint8_t kIndex = 3;
    static constexpr uint8_t kFresh = 4;

    std::array<T, 3> m_slots;
    std::atomic<uint8_t> m_middle{1};
    int m_write = 0; // writer only
    int m_read = 2;  // reader only
};
