#include "audio/wave/wave_device.h"

#include "audio/wave/wave_backends.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <new>

namespace {
struct WaveOutage {
    MMRESULT code;
    char detail[256];
};

// Devices lost and not back, in every backend: an outage lasts while any is.
std::atomic<int> g_lostDevices{0};
} // namespace

CWaveDevice::CWaveDevice(WaveDirection direction, MessageTarget target)
    : m_direction(direction), m_target(target) {}

CWaveDevice::~CWaveDevice() {
    MarkBack();
}

MMRESULT CWaveDevice::Prepare(WAVEHDR* header) {
    if (header == nullptr || header->lpData == nullptr) {
        return WaveFail(MMSYSERR_INVALPARAM, "buffer has no memory (allocation failed)");
    }
    header->dwFlags |= WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT CWaveDevice::Unprepare(WAVEHDR* header) {
    if (header == nullptr) {
        return WaveFail(MMSYSERR_INVALPARAM, "no buffer header");
    }
    if (header->dwFlags & WHDR_INQUEUE) {
        return WaveFail(WAVERR_STILLPLAYING, "buffer is still queued on the device");
    }
    header->dwFlags &= ~WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT CWaveDevice::Add(WAVEHDR* header) {
    if (header == nullptr) {
        return WaveFail(MMSYSERR_INVALPARAM, "no buffer header");
    }
    if (!(header->dwFlags & WHDR_PREPARED)) {
        return WaveFail(WAVERR_UNPREPARED, "buffer header is not prepared");
    }
    if (header->dwFlags & WHDR_INQUEUE) {
        return WaveFail(MMSYSERR_INVALPARAM, "buffer is already queued");
    }
    {
        std::lock_guard lock(m_mutex);
        if (m_count == kMaxQueued) {
            return WaveFail(MMSYSERR_NOMEM, "too many buffers queued on the device");
        }
        header->dwFlags = (header->dwFlags | WHDR_INQUEUE) & ~WHDR_DONE;
        header->dwBytesRecorded = 0;
        m_ring[(m_head + m_count) % kMaxQueued] = header;
        ++m_count;
    }
    OnHeaderQueued();
    return MMSYSERR_NOERROR;
}

size_t CWaveDevice::QueuedHeaders() {
    std::lock_guard lock(m_mutex);
    return m_count;
}

WAVEHDR* CWaveDevice::Front() {
    return At(0);
}

WAVEHDR* CWaveDevice::At(size_t index) {
    std::lock_guard lock(m_mutex);
    return index < m_count ? m_ring[(m_head + index) % kMaxQueued] : nullptr;
}

void CWaveDevice::CompleteFront() {
    WAVEHDR* header = nullptr;
    {
        std::lock_guard lock(m_mutex);
        if (m_count == 0) {
            return;
        }
        header = m_ring[m_head];
        m_head = (m_head + 1) % kMaxQueued;
        --m_count;
    }
    if (m_direction == WaveDirection::In) {
        header->gapCount = WaveGapCount();
        header->inputGapCount = WaveInputGapCount();
    }
    header->dwFlags = (header->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
    const uint32_t id = m_direction == WaveDirection::In ? MM_WIM_DATA : MM_WOM_DONE;
    m_target->Post({id, this, header});
}

void CWaveDevice::CompleteAll() {
    PostTaken(TakeAll());
}

CWaveDevice::TakenHeaders CWaveDevice::TakeAll() {
    TakenHeaders taken;
    taken.device = this;
    taken.target = m_target;
    taken.id = m_direction == WaveDirection::In ? MM_WIM_DATA : MM_WOM_DONE;
    std::lock_guard lock(m_mutex);
    for (; taken.count < m_count; ++taken.count) {
        taken.headers[taken.count] = m_ring[(m_head + taken.count) % kMaxQueued];
    }
    m_head = m_count = 0;
    return taken;
}

void CWaveDevice::PostTaken(const TakenHeaders& taken) {
    // The owner may close and delete the device as soon as it has its last header back, so
    // nothing of the object is touched once the posting starts.
    for (size_t i = 0; i < taken.count; ++i) {
        taken.headers[i]->dwFlags = (taken.headers[i]->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
    }
    for (size_t i = 0; i < taken.count; ++i) {
        taken.target->Post({taken.id, taken.device, taken.headers[i]});
    }
}

void CWaveDevice::MarkBack() {
    if (m_lost) {
        m_lost = false;
        g_lostDevices.fetch_sub(1);
    }
}

void CWaveDevice::MarkLost(MMRESULT code, const char* detailFormat, ...) {
    if (m_lost) {
        return;
    }
    m_lost = true;
    // Counted per device, before the report is shared: every lost capture is a hole.
    if (m_direction == WaveDirection::In) {
        CountInputOutage();
    }
    if (g_lostDevices.fetch_add(1) != 0) {
        return; // the outage is already reported
    }
    auto* outage = new (std::nothrow) WaveOutage{code, ""};
    if (outage == nullptr) {
        return; // the owner learns nothing, but the device still comes back by itself
    }
    va_list args;
    va_start(args, detailFormat);
    std::vsnprintf(outage->detail, sizeof outage->detail, detailFormat, args);
    va_end(args);
    m_target->Post({m_direction == WaveDirection::In ? MM_WIM_LOST : MM_WOM_LOST, this, outage});
}

MMRESULT TakeWaveOutage(void* outage) {
    auto* taken = static_cast<WaveOutage*>(outage);
    if (taken == nullptr) {
        return WaveFail(MMSYSERR_ERROR, "audio device lost");
    }
    const MMRESULT code = WaveFail(taken->code, "%s", taken->detail);
    delete taken;
    return code;
}
