#pragma once
// One open wave device, whichever backend drives it. The base keeps the queue of headers the
// owner has handed over and the completion rule; a backend moves the bytes.
// Prepare/Unprepare/Add: the owner's threads. Complete*: the backend's I/O side.

#include "audio/wave/wave_api.h"
#include "audio/wave/wave_types.h"

#include <array>
#include <chrono>
#include <mutex>

// How often a lost device tries to open again.
inline constexpr std::chrono::milliseconds kReopenInterval{1000};

class CWaveDevice {
public:
    CWaveDevice(WaveDirection direction, MessageTarget target);
    virtual ~CWaveDevice();

    CWaveDevice(const CWaveDevice&) = delete;
    CWaveDevice& operator=(const CWaveDevice&) = delete;

    MMRESULT Prepare(WAVEHDR* header);
    MMRESULT Unprepare(WAVEHDR* header);
    MMRESULT Add(WAVEHDR* header);

    virtual MMRESULT Start() = 0;
    // Stops the transfer and completes every queued header before returning.
    virtual MMRESULT Reset() = 0;
    // Refused with WAVERR_STILLPLAYING while headers are queued; on success the caller deletes.
    virtual MMRESULT Close() = 0;
    // The simulated bench fails calls on request; real devices never do it on their own.
    virtual MMRESULT InjectedFault(WaveCall) { return MMSYSERR_NOERROR; }

    WaveDirection Direction() const { return m_direction; }
    size_t QueuedHeaders();

protected:
    static constexpr size_t kMaxQueued = 64;

    // Headers out of the queue, on their way to the owner.
    struct TakenHeaders {
        CWaveDevice* device = nullptr; // names the device in the posts; never touched
        MessageTarget target{};
        uint32_t id = 0;
        std::array<WAVEHDR*, kMaxQueued> headers{};
        size_t count = 0;
    };

    // Called after a header joined the queue (outside the queue lock).
    virtual void OnHeaderQueued() {}

    // Oldest queued header not yet completed, or none.
    WAVEHDR* Front();
    WAVEHDR* At(size_t index); // index-th oldest, or none
    // Marks the oldest header done and posts it to the owner.
    void CompleteFront();
    // Completes every queued header, oldest first. The device may be gone when it returns:
    // call it last.
    void CompleteAll();
    // CompleteAll in two steps, for a backend that must start its I/O again in between: the
    // headers leave the queue first, so the new I/O never sees one its owner may free, and are
    // posted last, touching nothing of the device.
    TakenHeaders TakeAll();
    static void PostTaken(const TakenHeaders& taken);
    // The device stopped working (gone, or its sound server went away); the backend calls it
    // once when that happens, not per retry, and MarkBack when the device works again. The
    // owner hears of it (MM_WIM_LOST/MM_WOM_LOST, with the cause in words) only if no other
    // device is lost: a server that goes away takes capture and playback with it, and that is
    // one outage for the user, reported by whichever side notices first.
    void MarkLost(MMRESULT code, const char* detailFormat, ...)
        __attribute__((format(printf, 3, 4)));
    void MarkBack();
    bool IsLost() const { return m_lost; }

private:
    const WaveDirection m_direction;
    const MessageTarget m_target;
    std::mutex m_mutex; // guards the ring only, never held across I/O or a post
    std::array<WAVEHDR*, kMaxQueued> m_ring{};
    size_t m_head = 0;
    size_t m_count = 0;
    bool m_lost = false; // the backend's I/O side (or its owner once that has stopped)
};

// Records the cause of the calling thread's latest failure, for the error-text calls.
MMRESULT WaveFail(MMRESULT code, const char* detailFormat, ...)
    __attribute__((format(printf, 2, 3)));
