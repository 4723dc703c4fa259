// The ALSA backend: one PCM per open device and a small I/O thread that moves bytes between
// alsa-lib and the queued headers. The I/O thread never waits on anyone but the PCM: no lock is
// held across a read or write, and it rests in poll() on the PCM's descriptors and a wake-up
// descriptor. Xruns are recovered and counted, never reported from here; a device that cannot
// be recovered (gone, or its sound server went away) is closed, reported to the owner once,
// and opened again about once a second, the queued headers kept for when it is back. So is one
// whose xruns come straight back after every recovery with no frame moved (CXrunStorm), and a
// playback device that holds its frames for seconds.

#include "audio/wave/alsa_pcm.h"
#include "audio/wave/wave_backends.h"
#include "audio/wave/xrun_storm.h"
#include "base/thread_name.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <deque>
#include <poll.h>
#include <sys/eventfd.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// Longest rest of the I/O thread while it waits for the device or for the owner. The pulse
// plugin does not always wake a poll on its own, so this also paces a device that stays quiet.
constexpr int kRestMs = 45;
// Capture is woken by the device once a period is there (once a whole buffer, 92.9 ms, where
// the plugin honours avail_min); this is only the fallback for a plugin that does not wake it.
constexpr int kCaptureRestMs = 100;
// Playback rests until the oldest header written should have played out, and this much more;
// never longer than the second bound, so a position that stops moving is still looked at.
constexpr int kPlayedOutSlackMs = 2;
constexpr int kLongestPlayoutRestMs = 200;
constexpr size_t kMaxPollDescriptors = 8;
constexpr int kResumeTries = 10;
// Written frames that do not leave the device for this long mean a device that has stopped for
// good: PipeWire's plugin, once its server has gone, can go on saying "running" and hold them
// all. A working device plays its buffer (279 ms) out; PulseAudio's null sink may first finish
// a 2 s block.
constexpr auto kStallLimit = std::chrono::seconds(3);

class CAlsaDevice final : public CWaveDevice {
public:
    CAlsaDevice(std::string name, WaveDirection direction, MessageTarget target, snd_pcm_t* pcm,
                int wakeFd)
        : CWaveDevice(direction, target), m_name(std::move(name)), m_pcm(pcm), m_wakeFd(wakeFd),
          m_scratch(size_t(kFramesPerBuffer) * kChannels) {
        if (direction == WaveDirection::Out) {
            StartIo(); // a playback device plays whatever is written to it, at once
        }
    }

    ~CAlsaDevice() override {
        StopIo();
        ClosePcm();
        close(m_wakeFd);
    }

    MMRESULT Start() override {
        if (Direction() != WaveDirection::In || m_io.joinable()) {
            return MMSYSERR_NOERROR;
        }
        if (m_pcm == nullptr) {
            const char* step = nullptr;
            const int err = OpenAlsaPcm(m_name, true, &m_pcm, &step);
            if (err < 0) {
                return AlsaOpenFailure(m_name, err, step);
            }
        }
        int err = snd_pcm_prepare(m_pcm);
        const char* doing = "cannot prepare capture";
        if (err >= 0) {
            err = snd_pcm_start(m_pcm);
            doing = "cannot start capture";
        }
        if (err < 0) {
            ClosePcm(); // the next start opens it afresh
            return WaveFail(AlsaErrorCode(err), "%s: %s", doing, snd_strerror(err));
        }
        MarkBack();
        StartIo();
        return MMSYSERR_NOERROR;
    }

    MMRESULT Reset() override {
        StopIo();
        if (m_pcm != nullptr) {
            int err = snd_pcm_drop(m_pcm);
            if (err >= 0) {
                err = snd_pcm_prepare(m_pcm);
            }
            if (err < 0) {
                // A device that cannot stop or get ready again is opened afresh: by the next
                // capture start, or by the playback I/O thread, which reports it lost.
                ClosePcm();
                m_closedBy = err;
            }
        }
        m_pending.clear();
        m_written = 0;
        m_ranDry = false;
        // Out of the queue before the playback thread starts again: it would go on writing
        // from headers their owner frees once they are posted.
        const TakenHeaders taken = TakeAll();
        if (Direction() == WaveDirection::Out) {
            StartIo();
        }
        PostTaken(taken);
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
    void OnHeaderQueued() override { Wake(); }

private:
    void Wake() {
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = write(m_wakeFd, &one, sizeof one);
    }

    void StartIo() {
        m_stop.store(false);
        m_io = std::thread([this] {
            if (Direction() == WaveDirection::In) {
                NameThisThread("alsa capture");
                RunCapture();
            } else {
                NameThisThread("alsa playback");
                RunPlayback();
            }
        });
    }

    void StopIo() {
        if (!m_io.joinable()) {
            return;
        }
        m_stop.store(true);
        Wake();
        m_io.join();
    }

    bool Stopping() const { return m_stop.load(std::memory_order_relaxed); }

    void ClosePcm() {
        if (m_pcm != nullptr) {
            snd_pcm_close(m_pcm);
            m_pcm = nullptr;
        }
    }

    // Rests until a header is queued, the device is stopped, `timeoutMs` pass, or (with
    // `watchPcm`) the PCM is ready for the next transfer.
    void Rest(int timeoutMs, bool watchPcm) {
        pollfd fds[kMaxPollDescriptors];
        fds[0] = {m_wakeFd, POLLIN, 0};
        int pcmCount = 0;
        if (watchPcm && m_pcm != nullptr) {
            pcmCount = std::max(
                0, snd_pcm_poll_descriptors(m_pcm, fds + 1, unsigned(kMaxPollDescriptors - 1)));
        }
        if (poll(fds, nfds_t(1 + pcmCount), timeoutMs) <= 0) {
            return;
        }
        if (fds[0].revents & POLLIN) {
            uint64_t count = 0;
            [[maybe_unused]] const ssize_t n = read(m_wakeFd, &count, sizeof count);
        }
        if (pcmCount > 0) {
            // Also lets a plugin clear its wake-up descriptor; the next transfer sees any error.
            unsigned short revents = 0;
            snd_pcm_poll_descriptors_revents(m_pcm, fds + 1, unsigned(pcmCount), &revents);
        }
    }

    // An xrun is recovered and counted: 0, or the error that is beyond recovery (which an
    // endless run of xruns is too).
    int Recover(snd_pcm_sframes_t err) {
        if (err == -EPIPE || err == -ESTRPIPE) {
            const CXrunStorm::Verdict verdict = m_storm.Xrun(Clock::now());
            if (verdict == CXrunStorm::Verdict::Lost) {
                return int(err);
            }
            if (verdict == CXrunStorm::Verdict::Count && !m_ranDry) {
                CountXrun();
            }
        }
        m_ranDry = false;
        int recovered = err == -ESTRPIPE ? Resume() : snd_pcm_recover(m_pcm, int(err), 1);
        if (recovered >= 0 && Direction() == WaveDirection::In) {
            recovered = std::min(0, snd_pcm_start(m_pcm));
        }
        if (recovered >= 0) {
            m_storm.Recovered(Clock::now());
        }
        return recovered;
    }

    // After a system suspend. alsa-lib's own recovery waits for the resume as long as it
    // takes, a second at a time, out of reach of a stop; this gives it about a second.
    int Resume() {
        for (int i = 0; i < kResumeTries && !Stopping(); ++i) {
            const int err = snd_pcm_resume(m_pcm);
            if (err != -EAGAIN) {
                return err < 0 ? snd_pcm_prepare(m_pcm) : 0;
            }
            Rest(kCaptureRestMs, false);
        }
        return snd_pcm_prepare(m_pcm);
    }

    // The device is lost: closes it, tells the owner once per outage, then tries to open it
    // again every kReopenInterval, idle in between. False when stopped before it came back.
    bool Reopen(int err, const char* doing) {
        ClosePcm();
        MarkLost(AlsaErrorCode(err), "%s lost %s: %s; retrying", m_name.c_str(), doing,
                 snd_strerror(err));
        const bool capture = Direction() == WaveDirection::In;
        while (!Stopping()) {
            const auto retry = Clock::now() + kReopenInterval;
            for (auto now = Clock::now(); now < retry && !Stopping(); now = Clock::now()) {
                Rest(int(std::chrono::ceil<std::chrono::milliseconds>(retry - now).count()), false);
            }
            const char* step = "";
            if (Stopping() || OpenAlsaPcm(m_name, capture, &m_pcm, &step) < 0) {
                continue;
            }
            if (!capture || snd_pcm_start(m_pcm) >= 0) {
                MarkBack();
                m_storm.Reset();
                return true;
            }
            ClosePcm();
        }
        return false;
    }

    void RunCapture() {
        m_storm.Reset();
        uint32_t filled = 0; // bytes of the front header already filled
        while (!Stopping()) {
            WAVEHDR* h = Front();
            const uint32_t room = h == nullptr ? 0 : h->dwBufferLength - filled;
            // No header: the owner holds them all (a worker in a modal box); keep the stream
            // flowing and throw the input away rather than letting the device overrun.
            const snd_pcm_sframes_t got =
                h == nullptr ? snd_pcm_readi(m_pcm, m_scratch.data(), kFramesPerBuffer)
                : room < kBytesPerFrame
                    ? 0
                    : snd_pcm_readi(m_pcm, h->lpData + filled, room / kBytesPerFrame);
            if (got == -EAGAIN) {
                Rest(kCaptureRestMs, true);
                continue;
            }
            if (got < 0) {
                const int err = Recover(got);
                if (err < 0 && !Reopen(err, "while capturing")) {
                    return;
                }
                continue;
            }
            m_storm.Moved(got);
            if (h == nullptr) {
                CountDroppedInputFrames(uint64_t(got));
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

    struct Pending {
        WAVEHDR* header;
        uint64_t endFrame; // written-frame count at which the header has been played out
    };

    void RunPlayback() {
        m_storm.Reset();
        if (m_pcm == nullptr && !Reopen(m_closedBy, "when reset")) {
            return;
        }
        uint32_t sent = 0; // bytes of the header at m_pending.size() already written
        while (!Stopping()) {
            if (const int stalled = CompletePlayed(); stalled < 0) {
                if (!LosePlayback(stalled)) {
                    return;
                }
                continue;
            }
            WAVEHDR* h = At(m_pending.size());
            if (h == nullptr) {
                // Nothing new to write: wait for a header, or for the oldest one written to
                // play out (not on the PCM, which has room and would wake at once). Its owner
                // queues the next only then, so looking earlier would find nothing to do.
                Rest(RestUntilPlayedOut(), false);
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
                Rest(kRestMs, true);
                continue;
            }
            if (put < 0) {
                const int err = Recover(put);
                if (err < 0 && !LosePlayback(err)) {
                    return;
                }
                continue;
            }
            m_storm.Moved(put);
            sent += uint32_t(put) * kBytesPerFrame;
            m_written += uint64_t(put);
            m_ranDry = false;
        }
    }

    // From the play-out position CompletePlayed has just read.
    int RestUntilPlayedOut() const {
        if (m_pending.empty()) {
            return 2 * kRestMs;
        }
        const uint64_t end = m_pending.front().endFrame;
        const uint64_t left = end - std::min(end, m_played);
        const auto ms = int64_t((left * 1000 + kSampleRate - 1) / kSampleRate) + kPlayedOutSlackMs;
        return int(std::min<int64_t>(ms, kLongestPlayoutRestMs));
    }

    // What was written went with the device: those headers count as played. False when
    // stopped before the device came back.
    bool LosePlayback(int err) {
        ForgetWritten();
        return Reopen(err, "while playing");
    }

    void ForgetWritten() {
        for (; !m_pending.empty(); m_pending.pop_front()) {
            CompleteFront();
        }
        m_written = 0;
        m_ranDry = false;
    }

    // Completes the headers whose last frame has left the device buffer: 0, or -ETIMEDOUT
    // when frames have waited kStallLimit with none leaving.
    int CompletePlayed() {
        const auto now = Clock::now();
        if (m_pending.empty()) {
            m_progressAt = now;
            return 0;
        }
        snd_pcm_sframes_t delay = 0;
        if (snd_pcm_delay(m_pcm, &delay) < 0 || delay < 0 ||
            snd_pcm_state(m_pcm) != SND_PCM_STATE_RUNNING) {
            delay = 0; // stopped or run dry: everything written has been played
        }
        const uint64_t played = m_written - std::min<uint64_t>(m_written, uint64_t(delay));
        if (played != m_played) {
            m_played = played;
            m_progressAt = now;
        } else if (now - m_progressAt >= kStallLimit) {
            return -ETIMEDOUT;
        }
        while (!m_pending.empty() && m_pending.front().endFrame <= played) {
            m_pending.pop_front();
            CompleteFront();
        }
        if (m_pending.empty() && At(0) == nullptr && delay == 0) {
            // Ran dry on purpose (a playback drained): the underrun the next write meets is
            // the end of that playback, not a lost buffer.
            m_ranDry = true;
        }
        return 0;
    }

    const std::string m_name;
    snd_pcm_t* m_pcm; // the I/O thread's while it runs; the owner's otherwise
    const int m_wakeFd;
    std::vector<int16_t> m_scratch;
    std::thread m_io;
    std::atomic<bool> m_stop{false};
    std::deque<Pending> m_pending; // I/O thread only (and Reset after joining it)
    uint64_t m_written = 0;        // frames written since open or reset
    bool m_ranDry = false;         // I/O thread only: every written frame was played out
    uint64_t m_played = 0;         // I/O thread only: frames played out at m_progressAt
    Clock::time_point m_progressAt;
    int m_closedBy = -EIO; // why Reset had to close the PCM
    CXrunStorm m_storm;    // I/O thread only
};

} // namespace

MMRESULT OpenAlsaDevice(const std::string& name, WaveDirection direction, const WAVEFORMATEX&,
                        MessageTarget target, CWaveDevice** device) {
    snd_pcm_t* pcm = nullptr;
    const char* step = nullptr;
    const int err = OpenAlsaPcm(name, direction == WaveDirection::In, &pcm, &step);
    if (err < 0) {
        return AlsaOpenFailure(name, err, step);
    }
    const int wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wakeFd < 0) {
        snd_pcm_close(pcm);
        return WaveFail(MMSYSERR_NOMEM, "cannot make a wake-up descriptor for %s", name.c_str());
    }
    *device = new CAlsaDevice(name, direction, target, pcm, wakeFd);
    return MMSYSERR_NOERROR;
}
