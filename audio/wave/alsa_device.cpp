#include "audio/wave/alsa_device.h"

#include "audio/wave/wave_backends.h"
#include "base/thread_name.h"

#include <algorithm>
#include <ctime>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace {

// Capture is woken by the device once a period is there (once a whole buffer, 92.9 ms, where
// the plugin honours avail_min); this is only the fallback for a plugin that does not wake it.
constexpr int kCaptureRestMs = 100;
constexpr size_t kMaxPollDescriptors = 8;
constexpr int kResumeTries = 10;

} // namespace

CAlsaDevice::CAlsaDevice(std::string name, WaveDirection direction, MessageTarget target,
                         snd_pcm_t* pcm, int wakeFd)
    : CWaveDevice(direction, target), m_name(std::move(name)), m_pcm(pcm), m_wakeFd(wakeFd),
      m_scratch(size_t(kFramesPerBuffer) * kChannels) {
    if (direction == WaveDirection::Out) {
        StartIo(); // a playback device plays whatever is written to it, at once
    }
}

CAlsaDevice::~CAlsaDevice() {
    StopIo();
    ClosePcm();
    close(m_wakeFd);
}

MMRESULT CAlsaDevice::Start() {
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

MMRESULT CAlsaDevice::Reset() {
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

MMRESULT CAlsaDevice::Close() {
    if (QueuedHeaders() != 0) {
        return WaveFail(WAVERR_STILLPLAYING, "buffers are still queued on the device");
    }
    StopIo();
    return MMSYSERR_NOERROR;
}

void CAlsaDevice::Wake() {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = write(m_wakeFd, &one, sizeof one);
}

void CAlsaDevice::StartIo() {
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

void CAlsaDevice::StopIo() {
    if (!m_io.joinable()) {
        return;
    }
    m_stop.store(true);
    Wake();
    m_io.join();
}

void CAlsaDevice::ClosePcm() {
    if (m_pcm != nullptr) {
        snd_pcm_close(m_pcm);
        m_pcm = nullptr;
    }
}

void CAlsaDevice::Rest(int timeoutMs, bool watchPcm) {
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

int CAlsaDevice::Recover(snd_pcm_sframes_t err) {
    if (err == -EPIPE || err == -ESTRPIPE) {
        const CXrunStorm::Verdict verdict = m_storm.Xrun(Clock::now());
        if (verdict == CXrunStorm::Verdict::Lost) {
            return int(err);
        }
        if (verdict == CXrunStorm::Verdict::Count && !m_ranDry) {
            if (Direction() == WaveDirection::In) {
                CountCaptureXrun();
            } else {
                CountXrun();
            }
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

int CAlsaDevice::Resume() {
    for (int i = 0; i < kResumeTries && !Stopping(); ++i) {
        const int err = snd_pcm_resume(m_pcm);
        if (err != -EAGAIN) {
            return err < 0 ? snd_pcm_prepare(m_pcm) : 0;
        }
        Rest(kCaptureRestMs, false);
    }
    return snd_pcm_prepare(m_pcm);
}

bool CAlsaDevice::Reopen(int err, const char* doing) {
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

ClockStamp CAlsaDevice::ReadStamp(uint32_t frames) const {
    snd_pcm_sframes_t delay = 0;
    if (snd_pcm_delay(m_pcm, &delay) < 0 || delay < 0) {
        return {};
    }
    const ClockStamp now = MonotonicNow();
    if (!now.Known()) {
        return {};
    }
    // The device is capturing frame read + delay now; the header's first lies `frames` before
    // the read position.
    return StampAfterFrames(now, -double(delay) - double(frames), kSampleRate);
}

void CAlsaDevice::RunCapture() {
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
        h->stamp = ReadStamp(filled / kBytesPerFrame);
        if (filled + kBytesPerFrame > h->dwBufferLength) {
            filled = 0;
            CompleteFront();
        }
    }
}
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
