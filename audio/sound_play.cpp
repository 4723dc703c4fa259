#include "audio/sound_play.h"

#include "audio/wave_open.h"
#include "audio/wave_report.h"

#include <new>
#include <thread>

namespace {
// The worker's own message: close the device if the playback has drained.
constexpr uint32_t kCloseIfDrained = 0x401;
} // namespace

CSoundPlay::CSoundPlay() : CMessageThread("playback worker") {
    m_threadId = Target();
}

CSoundPlay::~CSoundPlay() {
    if (m_running) {
        stop();
    }
    {
        std::lock_guard lock(m_deviceMutex);
        if (HWAVEOUT device = m_hWaveOut.load()) {
            // Buffers still draining: take them back now, so the worker releases them and
            // closes the device before its loop ends.
            waveOutReset(device);
        }
    }
    EndThread();
}

bool CSoundPlay::start(const WAVEFORMATEX* format) {
    if (m_running || m_callback == nullptr || m_callbackContext == nullptr) {
        return false;
    }
    // The previous playback may still be draining; its device closes with its last buffer.
    const auto deadline = std::chrono::steady_clock::now() + kDrainWait;
    while (m_hWaveOut.load() != nullptr && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    if (m_hWaveOut.load() != nullptr) {
        ReportWaveOutError(WAVERR_STILLPLAYING, "in start()");
        return false;
    }
    if (format != nullptr) {
        m_format = *format;
    }
    HWAVEOUT device = nullptr;
    const MMRESULT result = waveOutOpen(&device, &m_format, m_threadId);
    if (result != MMSYSERR_NOERROR) {
        ReportWaveOutError(result, "in start()");
        return false;
    }
    m_hWaveOut = device;
    m_running = true;
    for (int i = 0; i < 3; ++i) {
        SampleBuffer buffer(BufferBytes(), false);
        m_callback(&buffer, m_callbackContext);
        AddOutputBufferToQueue(&buffer);
    }
    return true;
}

bool CSoundPlay::AddOutputBufferToQueue(SampleBuffer* buffer) {
    auto* header = new (std::nothrow) WAVEHDR{};
    if (header == nullptr) {
        return true;
    }
    header->lpData = buffer->m_data;
    header->dwBufferLength = uint32_t(buffer->m_length);
    header->dwFlags = 0;

    MMRESULT result = MMSYSERR_NOERROR;
    {
        // stop() clears m_running and then resets the device under this lock, so a refill is
        // either written before the reset, which hands it back, or not at all. Written just
        // after it, it would sit on the stopped device until played, and the device would
        // close only then (never, on a card whose clock has stopped).
        std::lock_guard lock(m_deviceMutex);
        if (!m_running) {
            delete header;
            return false;
        }
        HWAVEOUT device = m_hWaveOut.load();
        result = waveOutPrepareHeader(device, header);
        if (result == MMSYSERR_NOERROR) {
            result = waveOutWrite(device, header);
        }
    }
    if (result != MMSYSERR_NOERROR) {
        ReportWaveOutError(result, "in AddOutputBufferToQueue()"); // not under the lock
        ReleaseHeader(header);
        return true;
    }
    ++m_queuedCount;
    return true;
}

void CSoundPlay::OnWOM_DONE(HWAVEOUT device, WAVEHDR* header) {
    const MMRESULT result = waveOutUnprepareHeader(device, header);
    if (result != MMSYSERR_NOERROR) {
        ReportWaveOutError(result, "in OnWOM_DONE()");
        return;
    }
    --m_queuedCount;
    if (m_running) {
        SampleBuffer buffer(header->lpData, int32_t(header->dwBufferLength));
        buffer.m_stamp = header->stamp;
        m_callback(&buffer, m_callbackContext);
        if (buffer.m_length > 0 && AddOutputBufferToQueue(&buffer)) {
            delete header;
            return;
        }
        if (buffer.m_length == 0) {
            stop();
        }
    }
    ReleaseHeader(header);
    CloseIfDrained(device);
}

void CSoundPlay::CloseIfDrained(HWAVEOUT device) {
    if (m_queuedCount != 0 || m_running) {
        return;
    }
    MMRESULT closed = MMSYSERR_NOERROR;
    {
        std::lock_guard lock(m_deviceMutex);
        if (device == nullptr || m_hWaveOut.load() != device) {
            return; // already closed, or a new playback's device
        }
        closed = waveOutClose(device);
        // Forgotten even when the close failed: a device that will not close cannot be
        // used again, and holding on to it would keep every later start waiting for it.
        m_hWaveOut = nullptr;
    }
    if (closed != MMSYSERR_NOERROR) {
        ReportWaveOutError(closed, "in stop()"); // not under the lock: the box blocks
    }
}

void CSoundPlay::OnWOM_LOST(HWAVEOUT, void* outage) {
    ReportWaveError(WaveDirection::Out, TakeWaveOutage(outage), "in OnWOM_LOST()", false);
}

void CSoundPlay::stop() {
    if (!m_running) {
        return;
    }
    m_running = false;
    MMRESULT result = MMSYSERR_NOERROR;
    HWAVEOUT device = nullptr;
    {
        std::lock_guard lock(m_deviceMutex);
        if ((device = m_hWaveOut.load())) {
            result = waveOutReset(device);
        }
    }
    if (result != MMSYSERR_NOERROR) {
        ReportWaveOutError(result, "in stop()");
    }
    // A playback whose every buffer failed has none coming back to close the device on: the
    // worker closes it now, after any buffer the reset has just handed back.
    Target()->Post({kCloseIfDrained, device, nullptr});
}

void CSoundPlay::ReportWaveOutError(MMRESULT code, const char* where) {
    ReportWaveError(WaveDirection::Out, code, where);
}

void CSoundPlay::Dispatch(const ThreadMessage& message) {
    if (message.id == MM_WOM_DONE) {
        OnWOM_DONE(static_cast<HWAVEOUT>(message.device), static_cast<WAVEHDR*>(message.header));
    } else if (message.id == MM_WOM_LOST) {
        OnWOM_LOST(static_cast<HWAVEOUT>(message.device), message.header);
    } else if (message.id == kCloseIfDrained) {
        CloseIfDrained(static_cast<HWAVEOUT>(message.device));
    }
}
