#pragma once
// The impedance run between the capture tap and the measuring run's main thread: readings into a
// fixed ring, the next tone of a sweep and the run's progress in atomics, and a wake through the
// stop pipe. Tap runs on the capture worker and allocates nothing; everything else is the main
// thread's.

#include "analysis/impedance/impedance_live.h"
#include "base/clock_stamp.h"
#include "headless/row_ring.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

class CImpedanceCapture {
public:
    // frameLimit: live readings stop after this many frames (0: never); a sweep runs to its end.
    CImpedanceCapture(const ImpedanceLiveSettings& live, const ImpedanceCorrections& corrections,
                      const ImpedanceSweepSettings& sweep, std::vector<ImpedanceStep> plan,
                      int64_t frameLimit);

    // The engine's capture tap; self is the capture.
    static void Tap(const int16_t* interleaved, int frames, uint64_t gapCount, void* self);
    // A measurement stream's tap: its I/O thread stands for the capture worker.
    static void StreamTap(const float* interleaved, int frames, uint64_t gapCount, ClockStamp,
                          void* self);

    void TakeReadings(std::vector<ImpedanceLiveReading>& readings);
    int64_t Dropped();
    // A tone the sweep wants played next, once; 0 for none.
    double TakeNextTone() { return m_nextToneHz.exchange(0.0); }
    int64_t FramesIn() const { return m_framesIn.load(); }
    bool ToneSeen() const { return m_toneSeen.load(); }
    bool Finished() const { return m_finished.load(); }
    // After the capture has stopped.
    const CImpedanceSweep* Sweep() const { return m_run.Sweep(); }

private:
    static constexpr int kRingRows = 64;

    template <class Sample> void OnBuffer(const Sample* interleaved, int frames, uint64_t gapCount);

    CImpedanceRun m_run; // capture worker, until the capture stops
    const int64_t m_frameLimit;
    std::atomic<int64_t> m_framesIn{0};
    std::atomic<bool> m_toneSeen{false};
    std::atomic<bool> m_finished{false};
    std::atomic<double> m_nextToneHz{0.0};
    std::mutex m_mutex;
    CRowRing<ImpedanceLiveReading, kRingRows> m_ring;
};
