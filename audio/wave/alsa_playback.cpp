// The ALSA playback I/O thread: it writes the queued headers as the device takes them, and
// completes each once its last frame has left the device, paced by the play-out position rather
// than by the device's wake-ups.
#include "audio/wave/alsa_device.h"

#include <algorithm>

namespace {

// Longest rest of the I/O thread while it waits for the device or for the owner. The pulse
// plugin does not always wake a poll on its own, so this also paces a device that stays quiet.
constexpr int kRestMs = 45;
// Playback rests until the oldest header written should have played out, and this much more;
// never longer than the second bound, so a position that stops moving is still looked at.
constexpr int kPlayedOutSlackMs = 2;
constexpr int kLongestPlayoutRestMs = 200;
// Written frames that do not leave the device for this long mean a device that has stopped for
// good: PipeWire's plugin, once its server has gone, can go on saying "running" and hold them
// all. A working device plays its buffer (279 ms) out; PulseAudio's null sink may first finish
// a 2 s block.
constexpr auto kStallLimit = std::chrono::seconds(3);

} // namespace

void CAlsaDevice::RunPlayback() {
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

int CAlsaDevice::RestUntilPlayedOut() const {
    if (m_pending.empty()) {
        return 2 * kRestMs;
    }
    const uint64_t end = m_pending.front().endFrame;
    const uint64_t left = end - std::min(end, m_played);
    const auto ms = int64_t((left * 1000 + kSampleRate - 1) / kSampleRate) + kPlayedOutSlackMs;
    return int(std::min<int64_t>(ms, kLongestPlayoutRestMs));
}

bool CAlsaDevice::LosePlayback(int err) {
    ForgetWritten();
    return Reopen(err, "while playing");
}

void CAlsaDevice::ForgetWritten() {
    for (; !m_pending.empty(); m_pending.pop_front()) {
        CompleteFront();
    }
    m_written = 0;
    m_ranDry = false;
}

int CAlsaDevice::CompletePlayed() {
    const auto now = Clock::now();
    if (m_pending.empty()) {
        m_progressAt = now;
        return 0;
    }
    snd_pcm_sframes_t delay = 0;
    ClockStamp at;
    if (snd_pcm_delay(m_pcm, &delay) < 0 || delay < 0 ||
        snd_pcm_state(m_pcm) != SND_PCM_STATE_RUNNING) {
        delay = 0; // stopped or run dry: everything written has been played, when unknown
    } else {
        at = MonotonicNow(); // frame `played` is leaving for the line now
    }
    const uint64_t played = m_written - std::min<uint64_t>(m_written, uint64_t(delay));
    if (played != m_played) {
        m_played = played;
        m_progressAt = now;
    } else if (now - m_progressAt >= kStallLimit) {
        return -ETIMEDOUT;
    }
    while (!m_pending.empty() && m_pending.front().endFrame <= played) {
        const Pending done = m_pending.front();
        const uint32_t frames = done.header->dwBufferLength / kBytesPerFrame;
        done.header->stamp =
            at.Known()
                ? StampAfterFrames(at, double(done.endFrame) - frames - double(played), kSampleRate)
                : ClockStamp{};
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
