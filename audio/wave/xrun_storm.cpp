#include "audio/wave/xrun_storm.h"

CXrunStorm::Verdict CXrunStorm::Xrun(Clock::time_point now) {
    if (!m_recovered || m_moved || now - m_recoveredAt >= kWindow) {
        m_repeats = 0;
        return Verdict::Count;
    }
    return ++m_repeats >= kLostAfter ? Verdict::Lost : Verdict::Repeat;
}

void CXrunStorm::Recovered(Clock::time_point now) {
    m_recovered = true;
    m_moved = false;
    m_recoveredAt = now;
}
