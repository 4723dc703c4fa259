#pragma once
// The ALSA backend: one PCM per open device and a small I/O thread that moves bytes between
// alsa-lib and the queued headers. The I/O thread never waits on anyone but the PCM: no lock is
// held across a read or write, and it rests in poll() on the PCM's descriptors and a wake-up
// descriptor. Xruns are recovered and counted, never reported from here; a device that cannot
// be recovered (gone, or its sound server went away) is closed, reported to the owner once,
// and opened again about once a second, the queued headers kept for when it is back. So is one
// whose xruns come straight back after every recovery with no frame moved (CXrunStorm), and a
// playback device that holds its frames for seconds.
//
// The wave layer's own: everyone else opens it through OpenAlsaDevice (wave_backends.h).

#include "audio/wave/alsa_pcm.h"
#include "audio/wave/wave_device.h"
#include "audio/wave/xrun_storm.h"
#include "base/clock_stamp.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <deque>
#include <string>
#include <thread>
#include <vector>

class CAlsaDevice final : public CWaveDevice {
public:
    CAlsaDevice(std::string name, WaveDirection direction, MessageTarget target, snd_pcm_t* pcm,
                int wakeFd);
    ~CAlsaDevice() override;

    MMRESULT Start() override;
    MMRESULT Reset() override;
    MMRESULT Close() override;

protected:
    void OnHeaderQueued() override { Wake(); }

private:
    using Clock = std::chrono::steady_clock;

    void Wake();
    void StartIo();
    void StopIo();
    bool Stopping() const { return m_stop.load(std::memory_order_relaxed); }
    void ClosePcm();

    // Rests until a header is queued, the device is stopped, `timeoutMs` pass, or (with
    // `watchPcm`) the PCM is ready for the next transfer.
    void Rest(int timeoutMs, bool watchPcm);

    // An xrun is recovered and counted: 0, or the error that is beyond recovery (which an
    // endless run of xruns is too).
    int Recover(snd_pcm_sframes_t err);

    // After a system suspend. alsa-lib's own recovery waits for the resume as long as it
    // takes, a second at a time, out of reach of a stop; this gives it about a second.
    int Resume();

    // The device is lost: closes it, tells the owner once per outage, then tries to open it
    // again every kReopenInterval, idle in between. False when stopped before it came back.
    bool Reopen(int err, const char* doing);

    // The I/O thread: capture here, playback in alsa_playback.cpp.
    void RunCapture();

    // Capture: when the first of the `frames` last read into a header was captured, from the
    // frames the device holds beyond them; none when the device cannot say.
    ClockStamp ReadStamp(uint32_t frames) const;

    struct Pending {
        WAVEHDR* header;
        uint64_t endFrame; // written-frame count at which the header has been played out
    };

    void RunPlayback();

    // From the play-out position CompletePlayed has just read.
    int RestUntilPlayedOut() const;

    // What was written went with the device: those headers count as played. False when
    // stopped before the device came back.
    bool LosePlayback(int err);

    void ForgetWritten();

    // Completes the headers whose last frame has left the device buffer: 0, or -ETIMEDOUT
    // when frames have waited kStallLimit with none leaving.
    int CompletePlayed();

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
