// The ALSA backend: one PCM per open device and a small I/O thread that moves bytes between
// alsa-lib and the queued headers. The I/O thread never waits on anyone but the PCM: no lock is
// held across a read or write, and failures are recovered and counted, never reported from here.

#include "wave_backends.h"

#include <alsa/asoundlib.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace {

constexpr snd_pcm_uframes_t kPeriodFrames = kFramesPerBuffer;
// Three periods ahead of the speaker, as many as the three queued buffers hold.
constexpr snd_pcm_uframes_t kPlaybackBufferFrames = 3 * kPeriodFrames;
// Capture keeps a little more slack: a busy worker should cost dropped frames, not overruns.
constexpr snd_pcm_uframes_t kCaptureBufferFrames = 4 * kPeriodFrames;
// How long the I/O thread rests when the device has nothing for it: half a period. The device
// buffers hold three (playback) and four (capture) periods, so it stays well ahead while waking
// only about twenty times a second; every wake-up through a sound server costs real CPU.
constexpr auto kIdleWait = std::chrono::milliseconds(45);

MMRESULT CodeFor(int err) {
    switch (-err) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
    case ECONNREFUSED:
        return MMSYSERR_BADDEVICEID;
    case EBUSY:
        return MMSYSERR_ALLOCATED;
    case ENOMEM:
        return MMSYSERR_NOMEM;
    case EINVAL:
        return WAVERR_BADFORMAT;
    default:
        return MMSYSERR_ERROR;
    }
}

int Configure(snd_pcm_t* pcm, snd_pcm_uframes_t bufferFrames, bool capture, const char** step) {
    snd_pcm_hw_params_t* hw;
    snd_pcm_hw_params_alloca(&hw);
    int err;
    *step = "cannot read the device's capabilities";
    if ((err = snd_pcm_hw_params_any(pcm, hw)) < 0) return err;
    *step = "cannot use interleaved read/write access";
    if ((err = snd_pcm_hw_params_set_access(pcm, hw, SND_PCM_ACCESS_RW_INTERLEAVED)) < 0) return err;
    *step = "cannot use 16-bit samples";
    if ((err = snd_pcm_hw_params_set_format(pcm, hw, SND_PCM_FORMAT_S16_LE)) < 0) return err;
    *step = "cannot use 2 channels";
    if ((err = snd_pcm_hw_params_set_channels(pcm, hw, kChannels)) < 0) return err;
    *step = "cannot use 44100 Hz";
    if ((err = snd_pcm_hw_params_set_rate(pcm, hw, kSampleRate, 0)) < 0) return err;
    snd_pcm_uframes_t period = kPeriodFrames;
    int dir = 0;
    *step = "cannot set the period";
    if ((err = snd_pcm_hw_params_set_period_size_near(pcm, hw, &period, &dir)) < 0) return err;
    *step = "cannot set the buffer size";
    if ((err = snd_pcm_hw_params_set_buffer_size_near(pcm, hw, &bufferFrames)) < 0) return err;
    *step = "cannot apply the hardware parameters";
    if ((err = snd_pcm_hw_params(pcm, hw)) < 0) return err;

    snd_pcm_sw_params_t* sw;
    snd_pcm_sw_params_alloca(&sw);
    *step = "cannot set the software parameters";
    if ((err = snd_pcm_sw_params_current(pcm, sw)) < 0) return err;
    // Playback starts with the first period written, as a wave device plays at once.
    const snd_pcm_uframes_t threshold = capture ? 1 : period;
    if ((err = snd_pcm_sw_params_set_start_threshold(pcm, sw, threshold)) < 0) return err;
    if ((err = snd_pcm_sw_params_set_avail_min(pcm, sw, 1)) < 0) return err;
    return snd_pcm_sw_params(pcm, sw);
}

class CAlsaDevice final : public CWaveDevice {
public:
    CAlsaDevice(WaveDirection direction, MessageTarget target, snd_pcm_t* pcm)
        : CWaveDevice(direction, target), m_pcm(pcm),
          m_scratch(size_t(kPeriodFrames) * kChannels) {
        if (direction == WaveDirection::Out) {
            StartIo();  // a playback device plays whatever is written to it, at once
        }
    }

    ~CAlsaDevice() override {
        StopIo();
        snd_pcm_close(m_pcm);
    }

    MMRESULT Start() override {
        if (Direction() == WaveDirection::In && !m_io.joinable()) {
            snd_pcm_prepare(m_pcm);
            const int err = snd_pcm_start(m_pcm);
            if (err < 0) {
                return WaveFail(CodeFor(err), "cannot start capture: %s", snd_strerror(err));
            }
            StartIo();
        }
        return MMSYSERR_NOERROR;
    }

    MMRESULT Reset() override {
        StopIo();
        snd_pcm_drop(m_pcm);
        m_pending.clear();
        m_written = 0;
        m_ranDry = false;
        snd_pcm_prepare(m_pcm);
        if (Direction() == WaveDirection::Out) {
            StartIo();
        }
        CompleteAll();
        return MMSYSERR_NOERROR;
    }

    MMRESULT Close() override {
        if (QueuedHeaders() != 0) {
            return WaveFail(WAVERR_STILLPLAYING, "buffers are still queued on the device");
        }
        StopIo();
        return MMSYSERR_NOERROR;
    }

protected:
    void OnHeaderQueued() override { m_wake.notify_one(); }

private:
    void StartIo() {
        m_stop.store(false);
        m_io = std::thread([this] {
            if (Direction() == WaveDirection::In) {
                RunCapture();
            } else {
                RunPlayback();
            }
        });
    }

    void StopIo() {
        if (!m_io.joinable()) {
            return;
        }
        m_stop.store(true);
        m_wake.notify_one();
        m_io.join();
    }

    static void IdleWait() { std::this_thread::sleep_for(kIdleWait); }

    void Recover(snd_pcm_sframes_t err) {
        if ((err == -EPIPE || err == -ESTRPIPE) && !m_ranDry) {
            CountXrun();
        }
        m_ranDry = false;
        if (snd_pcm_recover(m_pcm, int(err), 1) == 0 && Direction() == WaveDirection::In) {
            snd_pcm_start(m_pcm);
        }
    }

    void RunCapture() {
        uint32_t filled = 0;  // bytes of the front header already filled
        while (!m_stop.load(std::memory_order_relaxed)) {
            WAVEHDR* h = Front();
            if (h == nullptr) {
                DropAvailable();
                continue;
            }
            const snd_pcm_uframes_t wanted = (h->dwBufferLength - filled) / kBytesPerFrame;
            const snd_pcm_sframes_t got =
                wanted == 0 ? 0 : snd_pcm_readi(m_pcm, h->lpData + filled, wanted);
            if (got == -EAGAIN) {
                IdleWait();
                continue;
            }
            if (got < 0) {
                Recover(got);
                continue;
            }
            filled += uint32_t(got) * kBytesPerFrame;
            h->dwBytesRecorded = filled;
            if (filled + kBytesPerFrame > h->dwBufferLength) {
                filled = 0;
                CompleteFront();
            }
        }
    }

    // The owner holds every header (a worker waiting on a modal box): keep the stream flowing
    // and throw the input away rather than letting the device overrun.
    void DropAvailable() {
        const snd_pcm_sframes_t got = snd_pcm_readi(m_pcm, m_scratch.data(), kPeriodFrames);
        if (got == -EAGAIN) {
            IdleWait();
        } else if (got < 0) {
            Recover(got);
        } else {
            CountDroppedInputFrames(uint64_t(got));
        }
    }

    struct Pending {
        WAVEHDR* header;
        uint64_t endFrame;  // written-frame count at which the header has been played out
    };

    void RunPlayback() {
        uint32_t sent = 0;  // bytes of the header at m_pending.size() already written
        while (!m_stop.load(std::memory_order_relaxed)) {
            CompletePlayed();
            WAVEHDR* h = At(m_pending.size());
            if (h == nullptr) {
                WaitForWork();
                continue;
            }
            const uint32_t remaining = (h->dwBufferLength - sent) / kBytesPerFrame;
            if (remaining == 0) {
                m_pending.push_back({h, m_written});
                sent = 0;
                continue;
            }
            const snd_pcm_sframes_t put = snd_pcm_writei(m_pcm, h->lpData + sent, remaining);
            if (put == -EAGAIN) {
                IdleWait();
                continue;
            }
            if (put < 0) {
                Recover(put);
                continue;
            }
            sent += uint32_t(put) * kBytesPerFrame;
            m_written += uint64_t(put);
            m_ranDry = false;
        }
    }

    // Nothing new to write: wait briefly for a header, still watching the play-out position.
    void WaitForWork() {
        std::unique_lock lock(m_wakeMutex);
        m_wake.wait_for(lock, m_pending.empty() ? 2 * kIdleWait : kIdleWait);
    }

    // Completes the headers whose last frame has left the device buffer.
    void CompletePlayed() {
        if (m_pending.empty()) {
            return;
        }
        snd_pcm_sframes_t delay = 0;
        if (snd_pcm_delay(m_pcm, &delay) < 0 || delay < 0 ||
            snd_pcm_state(m_pcm) != SND_PCM_STATE_RUNNING) {
            delay = 0;  // stopped or run dry: everything written has been played
        }
        const uint64_t played = m_written - std::min<uint64_t>(m_written, uint64_t(delay));
        while (!m_pending.empty() && m_pending.front().endFrame <= played) {
            m_pending.pop_front();
            CompleteFront();
        }
        if (m_pending.empty() && At(0) == nullptr && delay == 0) {
            // Ran dry on purpose (a playback drained): the underrun the next write meets is
            // the end of that playback, not a lost buffer.
            m_ranDry = true;
        }
    }

    snd_pcm_t* const m_pcm;
    std::vector<int16_t> m_scratch;
    std::thread m_io;
    std::atomic<bool> m_stop{false};
    std::mutex m_wakeMutex;
    std::condition_variable m_wake;
    std::deque<Pending> m_pending;  // I/O thread only (and Reset after joining it)
    uint64_t m_written = 0;         // frames written since open or reset
    bool m_ranDry = false;          // I/O thread only: every written frame was played out
};

} // namespace

MMRESULT OpenAlsaDevice(const std::string& name, WaveDirection direction,
                        const WAVEFORMATEX&, MessageTarget target, CWaveDevice** device) {
    const bool capture = direction == WaveDirection::In;
    snd_pcm_t* pcm = nullptr;
    // Non-blocking: the I/O thread must be able to notice a reset at any moment, and the
    // pulse plugin's poll descriptors do not always wake a wait on their own.
    int err = snd_pcm_open(&pcm, name.c_str(),
                           capture ? SND_PCM_STREAM_CAPTURE : SND_PCM_STREAM_PLAYBACK,
                           SND_PCM_NONBLOCK);
    if (err < 0) {
        return WaveFail(CodeFor(err), "cannot open audio device %s: %s", name.c_str(),
                        snd_strerror(err));
    }
    const char* step = "";
    err = Configure(pcm, capture ? kCaptureBufferFrames : kPlaybackBufferFrames, capture, &step);
    if (err < 0) {
        snd_pcm_close(pcm);
        return WaveFail(err == -EINVAL ? WAVERR_BADFORMAT : CodeFor(err), "audio device %s %s: %s",
                        name.c_str(), step, snd_strerror(err));
    }
    *device = new CAlsaDevice(direction, target, pcm);
    return MMSYSERR_NOERROR;
}
