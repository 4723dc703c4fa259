#pragma once
// A fixed ring of rows between the capture worker, which makes them, and the main thread, which
// prints them. The worker never waits on the output: a main thread a whole ring behind loses
// the oldest row, counted. Not locked itself: its owner holds one mutex around every call.

#include <array>
#include <cstdint>
#include <vector>

template <typename Row, int Capacity> class CRowRing {
public:
    void Push(const Row& row) {
        if (m_count == Capacity) {
            m_first = (m_first + 1) % Capacity;
            --m_count;
            ++m_dropped;
        }
        m_rows[(m_first + m_count) % Capacity] = row;
        ++m_count;
    }
    // Appends every row waiting, oldest first, and empties the ring.
    void TakeAll(std::vector<Row>& rows) {
        for (; m_count > 0; --m_count) {
            rows.push_back(m_rows[m_first]);
            m_first = (m_first + 1) % Capacity;
        }
    }
    int64_t Dropped() const { return m_dropped; }

private:
    std::array<Row, Capacity> m_rows{};
    int m_first = 0;
    int m_count = 0;
    int64_t m_dropped = 0;
};
