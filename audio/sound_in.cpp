#include "audio/sound_in.h"

#include "audio/wave_open.h"
#include "audio/wave_report.h"

#include <chrono>
#include <cstring>
#include <new>
#include <thread>

namespace {
constexpr auto kStopPause = std::chrono::milliseconds(50);
} // namespace

CSoundIn::CSoundIn() : CMessageThread("capture worker") {
    m_threadId = Target();
}

CSoundIn::~CSoundIn() {
    if (m_running) {
        Stop();
    }
    if (m_hWaveIn != nullptr) {
        // Hand back anything still queued (a Stop that could not reset, say) so the worker
        // releases it before the loop ends and the device can close.
        waveInReset(m_hWaveIn);
    }
    EndThread();
    if (m_hWaveIn != nullptr && waveInClose(m_hWaveIn) == MMSYSERR_NOERROR) {
        m_hWaveIn = nullptr;
    }
}

bool CSoundIn::Start(const WAVEFORMATEX* format) {
    if (m_running || m_callback == nullptr || m_callbackContext == nullptr) {
        return false;
    }
    if (format != nullptr) {
        m_format = *format;
    }
    MMRESULT result = MMSYSERR_NOERROR;
    if (m_hWaveIn == nullptr) {
        // A device left open by an earlier Start is used again rather than opened twice.
        result = waveInOpen(&m_hWaveIn, &m_format, m_threadId);
    }
    if (result == MMSYSERR_NOERROR) {
        for (int i = 0; i < 3; ++i) {
            AddInputBufferToQueue();
        }
        result = waveInStart(m_hWaveIn);
        if (result == MMSYSERR_NOERROR) {
            m_running = true;
            return true;
        }
        // The queued buffers come back and are released, so a later Start begins from zero.
        waveInReset(m_hWaveIn);
    } else {
        m_hWaveIn = nullptr;
    }
    ReportWaveInError(result, "in Start()");
    return false;
}

int32_t CSoundIn::AddInputBufferToQueue() {
    auto* header = new (std::nothrow) WAVEHDR{};
    if (header == nullptr) {
        return 0;
    }
    SampleBuffer block(BufferBytes(), false);
    header->lpData = block.m_data;
    header->dwBufferLength = uint32_t(block.m_length);

    MMRESULT result = waveInPrepareHeader(m_hWaveIn, header);
    if (result == MMSYSERR_NOERROR) {
        result = waveInAddBuffer(m_hWaveIn, header);
    }
    if (result != MMSYSERR_NOERROR) {
        ReportWaveInError(result, "in AddInputBufferToQueue()");
        ReleaseHeader(header);
        return m_queuedCount;
    }
    return m_queuedCount.fetch_add(1);
}

void CSoundIn::OnWIM_DATA(HWAVEIN device, WAVEHDR* header) {
    MMRESULT result = waveInUnprepareHeader(device, header);
    if (result != MMSYSERR_NOERROR) {
        ReportWaveInError(result, "in OnWIM_DATA()");
        return;
    }
    if (m_running) {
        SampleBuffer buffer(header->lpData, int32_t(header->dwBufferLength));
        buffer.m_recordedBytes = int32_t(header->dwBytesRecorded);
        buffer.m_gapCount = header->gapCount;
        buffer.m_inputGapCount = header->inputGapCount;
        buffer.m_stamp = header->stamp;
        m_callback(&buffer, m_callbackContext);
        result = waveInPrepareHeader(device, header);
        if (result == MMSYSERR_NOERROR) {
            result = waveInAddBuffer(device, header);
        }
        if (result == MMSYSERR_NOERROR) {
            return;
        }
        ReportWaveInError(result, "in OnWIM_DATA()");
    }
    ReleaseHeader(header);
    --m_queuedCount;
}

void CSoundIn::OnWIM_LOST(HWAVEIN, void* outage) {
    ReportWaveError(WaveDirection::In, TakeWaveOutage(outage), "in OnWIM_LOST()", false);
}

void CSoundIn::Stop() {
    if (!m_running) {
        return;
    }
    MMRESULT result = waveInReset(m_hWaveIn);
    if (result != MMSYSERR_NOERROR) {
        ReportWaveInError(result, "in Stop()");
        return;
    }
    m_running = false;
    std::this_thread::sleep_for(kStopPause);
    result = waveInReset(m_hWaveIn);
    if (result != MMSYSERR_NOERROR) {
        ReportWaveInError(result, "in Stop()");
    }
}

void CSoundIn::ReportWaveInError(MMRESULT code, const char* where) {
    ReportWaveError(WaveDirection::In, code, where);
}

void CSoundIn::Dispatch(const ThreadMessage& message) {
    if (message.id == MM_WIM_DATA) {
        OnWIM_DATA(static_cast<HWAVEIN>(message.device), static_cast<WAVEHDR*>(message.header));
    } else if (message.id == MM_WIM_LOST) {
        OnWIM_LOST(static_cast<HWAVEIN>(message.device), message.header);
    }
}
