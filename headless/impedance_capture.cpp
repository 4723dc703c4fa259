#include "headless/impedance_capture.h"

#include "headless/stop_signal.h"

CImpedanceCapture::CImpedanceCapture(const ImpedanceLiveSettings& live,
                                     const ImpedanceCorrections& corrections,
                                     const ImpedanceSweepSettings& sweep,
                                     std::vector<ImpedanceStep> plan, int64_t frameLimit)
    : m_run(live, corrections, sweep, std::move(plan)), m_frameLimit(frameLimit) {}

void CImpedanceCapture::Tap(const int16_t* interleaved, int frames, uint64_t gapCount, void* self) {
    static_cast<CImpedanceCapture*>(self)->OnBuffer(interleaved, frames, gapCount);
}

void CImpedanceCapture::StreamTap(const float* interleaved, int frames, uint64_t gapCount,
                                  ClockStamp, void* self) {
    static_cast<CImpedanceCapture*>(self)->OnBuffer(interleaved, frames, gapCount);
}

void CImpedanceCapture::TakeReadings(std::vector<ImpedanceLiveReading>& readings) {
    std::lock_guard lock(m_mutex);
    m_ring.TakeAll(readings);
}

int64_t CImpedanceCapture::Dropped() {
    std::lock_guard lock(m_mutex);
    return m_ring.Dropped();
}

template <class Sample>
void CImpedanceCapture::OnBuffer(const Sample* interleaved, int frames, uint64_t gapCount) {
    m_framesIn += frames;
    if (m_finished) {
        return;
    }
    ImpedanceLiveReading reading;
    double toneHz = 0;
    const CImpedanceRun::Event event = m_run.Feed(interleaved, frames, gapCount, &reading, &toneHz);
    m_toneSeen = m_run.ToneSeen();
    if (event == CImpedanceRun::Event::Reading) {
        std::lock_guard lock(m_mutex);
        m_ring.Push(reading);
    } else if (event == CImpedanceRun::Event::NextTone) {
        m_nextToneHz = toneHz;
    }
    const bool sweeping = m_run.Sweep() != nullptr;
    m_finished = event == CImpedanceRun::Event::Finished ||
                 (!sweeping && m_frameLimit > 0 && m_framesIn >= m_frameLimit);
    if (event != CImpedanceRun::Event::None || m_finished) {
        WakeMainThread();
    }
}
