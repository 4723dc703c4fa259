#pragma once
// When the first frame of the samples a test-signal source plays (a sweep) left for the line, as
// the stamps of later periods of them tell it. A sound server's first position reports after a
// start are its least reliable, and later ones jitter: the word kept is the latest while
// kSettleReturns have come, then the mean of those after. The word belongs to one signal, by the
// count of the source's Sets, so one told after a newer Set is never taken for the newer
// signal's.
// Threads: Begin and Note on the filling thread; For on any.

#include "base/clock_stamp.h"

#include <atomic>
#include <cmath>
#include <cstdint>

class CSamplesDeparture {
public:
    // The filling thread starts the signal of Set count `setCount`: no word for it yet.
    void Begin(uint64_t setCount) {
        m_playing = setCount;
        m_returns = 0;
    }

    // A frame `offset` frames after the samples' first left for the line at `stamp` (none: the
    // device could not tell, and nothing is learnt).
    void Note(ClockStamp stamp, int64_t offset, double rate_hz) {
        if (!stamp.Known()) {
            return;
        }
        ClockStamp first = StampAfterFrames(stamp, -double(offset), rate_hz);
        const int settled = ++m_returns - kSettleReturns;
        if (settled == 1) {
            m_settledAt = first.ns;
            m_settledSum = 0;
        } else if (settled > 1) {
            m_settledSum += double(first.ns - m_settledAt);
            first.ns = m_settledAt + int64_t(std::llround(m_settledSum / settled));
        }
        m_ns.store(first.ns, std::memory_order_relaxed);
        m_clock.store(first.clock, std::memory_order_relaxed);
        m_of.store(m_playing, std::memory_order_release);
    }

    // The word for the signal of Set count `setCount`; none before one was noted.
    ClockStamp For(uint64_t setCount) const {
        if (m_of.load(std::memory_order_acquire) != setCount) {
            return {};
        }
        return {m_ns.load(std::memory_order_relaxed), m_clock.load(std::memory_order_relaxed)};
    }

private:
    static constexpr int kSettleReturns = 8;

    std::atomic<uint64_t> m_of{0};
    std::atomic<int64_t> m_ns{0};
    std::atomic<DeviceClock> m_clock{DeviceClock::None};

    // Filling thread only.
    uint64_t m_playing = 0;
    int m_returns = 0;       // stamped periods noted since the samples began
    int64_t m_settledAt = 0; // the first settled word, ns; the mean is kept from it
    double m_settledSum = 0; // of the settled words' differences from m_settledAt
};
