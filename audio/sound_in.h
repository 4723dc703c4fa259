#pragma once
// CSoundIn owns the sound card's input: a worker with a message queue to which the capture
// device reports each filled buffer; the worker hands it to the callback and re-queues it.
// Start and Stop: GUI thread. OnWIM_DATA and the callback: the worker.

#include "audio/sample_buffer.h"
#include "audio/wave/message_thread.h"
#include "audio/wave/wave_api.h"
#include "base/pcm_format.h"

#include <atomic>

using BufferCallback = void (*)(SampleBuffer* buffer, void* context);

class CSoundIn : public CMessageThread, public CPcmFormat {
public:
    CSoundIn();
    ~CSoundIn() override;

    virtual void Stop();
    // format: none keeps m_format. False without a callback or context, while running, or when
    // the device cannot be opened or started (reported).
    virtual bool Start(const WAVEFORMATEX* format = nullptr);

    int32_t AddInputBufferToQueue();
    void OnWIM_DATA(HWAVEIN device, WAVEHDR* header);
    // The device is lost and reopening itself: reported once, without holding the worker, so
    // capture goes on by itself (into the same recording) when the device is back.
    void OnWIM_LOST(HWAVEIN device, void* outage);
    void ReportWaveInError(MMRESULT code, const char* where);

    BufferCallback m_callback = nullptr;
    void* m_callbackContext = nullptr;
    std::atomic<bool> m_running{false};
    HWAVEIN m_hWaveIn = nullptr;
    std::atomic<int32_t> m_queuedCount{0};
    MessageTarget m_threadId = nullptr;

protected:
    void Dispatch(const ThreadMessage& message) override;
};
