#pragma once
// CSoundPlay owns the sound card's output: a worker with a message queue to which the playback
// device reports each played buffer; the worker has the callback refill it and queues it again.
// start and stop: GUI thread (stop also from the worker). OnWOM_DONE and refills: the worker.

#include "audio/sample_buffer.h"
#include "audio/sound_in.h"
#include "audio/wave/message_thread.h"
#include "audio/wave/wave_api.h"
#include "base/pcm_format.h"

#include <atomic>
#include <chrono>
#include <mutex>

class CSoundPlay : public CMessageThread, public CPcmFormat {
public:
    CSoundPlay();
    ~CSoundPlay() override;

    virtual void stop();
    // Primes three buffers through the callback on the calling thread. While an earlier
    // playback is still draining it first waits (bounded) for that device to close.
    virtual bool start(const WAVEFORMATEX* format = nullptr);

    // False, nothing queued and the buffer's data still the caller's, once stop() has begun;
    // true when queued, or when the write failed (reported, the buffer released).
    bool AddOutputBufferToQueue(SampleBuffer* buffer);
    void OnWOM_DONE(HWAVEOUT device, WAVEHDR* header);
    // The device is lost and reopening itself: reported once, without holding the worker.
    void OnWOM_LOST(HWAVEOUT device, void* outage);
    void ReportWaveOutError(MMRESULT code, const char* where);

    // Longest wait of start() for a previous playback's drain.
    static constexpr std::chrono::milliseconds kDrainWait{2000};

    BufferCallback m_callback = nullptr;
    void* m_callbackContext = nullptr;
    std::atomic<bool> m_running{false};
    std::atomic<HWAVEOUT> m_hWaveOut{nullptr};
    MessageTarget m_threadId = nullptr;
    std::atomic<int32_t> m_queuedCount{0};

protected:
    void Dispatch(const ThreadMessage& message) override;

private:
    // Worker: closes the device once playback has stopped and no buffer is queued on it.
    void CloseIfDrained(HWAVEOUT device);

    // The worker closes the device when its last buffer comes back, possibly while the GUI
    // thread resets it in stop(); held around both so a reset never meets a closed device.
    std::mutex m_deviceMutex;
};
