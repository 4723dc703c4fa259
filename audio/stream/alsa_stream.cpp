#include "audio/stream/alsa_stream.h"

#include "audio/stream/alsa_stream_pcm.h"
#include "base/thread_name.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <ctime>
#include <poll.h>
#include <sys/eventfd.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// The PCMs wake the thread once a period; this is the fallback for a plugin that does not.
constexpr int kRestMs = 100;
constexpr size_t kMaxPollDescriptors = 16;

// One I/O thread for both directions: the tap and the source are then never called at once,
// as the stream promises, and one poll() watches both PCMs and the wake-up descriptor.
class CAlsaStream final : public CMeasureStream {
public:
    CAlsaStream(const std::string& name, StreamFormat format, snd_pcm_t* capture,
                SampleEncoding captureEncoding, snd_pcm_t* playback,
                SampleEncoding playbackEncoding, int wakeFd)
        : CMeasureStream(name, format, AlsaStreamPeriodFrames(format.rate_hz)), m_capture(capture),
          m_playback(playback), m_captureEncoding(captureEncoding),
          m_playbackEncoding(playbackEncoding), m_wakeFd(wakeFd) {}

    ~CAlsaStream() override {
        Stop();
        snd_pcm_close(m_capture);
        snd_pcm_close(m_playback);
        close(m_wakeFd);
    }

    bool Start(StreamTapFn tap, void* context, IStreamSource* source, std::string* error) override;
    void Stop() override;
    uint64_t Xruns() const override { return m_xruns.load(std::memory_order_relaxed); }

private:
    void Run();
    void Rest();
    // Rests on the wake-up descriptor alone: a PCM beyond recovery may keep poll() awake.
    void Pause();
    void Capture();
    void Play();
    // Counts and recovers an error of `pcm`: 0, or the error recovery met.
    int Recover(snd_pcm_t* pcm, int err);
    bool Stopping() const { return m_stop.load(std::memory_order_relaxed); }
    size_t Samples() const { return size_t(PeriodFrames()) * kStreamChannels; }

    snd_pcm_t* const m_capture;
    snd_pcm_t* const m_playback;
    const SampleEncoding m_captureEncoding;
    const SampleEncoding m_playbackEncoding;
    const int m_wakeFd;
    std::thread m_io;
    std::atomic<bool> m_stop{false};
    std::atomic<uint64_t> m_xruns{0};

    // Set by Start before the thread runs; the I/O thread's alone while it does.
    StreamTapFn m_tap = nullptr;
    void* m_context = nullptr;
    IStreamSource* m_source = nullptr;
    std::vector<uint8_t> m_captureBytes;
    std::vector<float> m_captureFloats;
    int m_captured = 0; // frames of the period read so far
    uint64_t m_gaps = 0;
    std::vector<float> m_playFloats;
    std::vector<uint8_t> m_playBytes;
    int m_played = 0;   // frames of the encoded period written so far
    int m_playLeft = 0; // frames of it still to write
};

bool CAlsaStream::Start(StreamTapFn tap, void* context, IStreamSource* source, std::string* error) {
    if (m_io.joinable()) {
        return true;
    }
    m_tap = tap;
    m_context = context;
    m_source = source;
    m_captureBytes.assign(Samples() * size_t(EncodingBytes(m_captureEncoding)), 0);
    m_captureFloats.assign(Samples(), 0.0f);
    m_playFloats.assign(Samples(), 0.0f);
    m_playBytes.assign(Samples() * size_t(EncodingBytes(m_playbackEncoding)), 0);
    m_captured = m_played = m_playLeft = 0;
    m_gaps = 0;
    m_xruns.store(0);
    for (auto [pcm, capture] : {std::pair{m_capture, true}, std::pair{m_playback, false}}) {
        int err = snd_pcm_prepare(pcm);
        if (err >= 0 && capture) {
            err = snd_pcm_start(pcm);
        }
        if (err < 0) {
            snd_pcm_drop(m_capture);
            *error = "cannot start " + std::string(DirectionName(capture)) + " on '" +
                     DeviceName() + "': " + snd_strerror(err);
            return false;
        }
    }
    m_stop.store(false);
    m_io = std::thread([this] {
        NameThisThread("alsa stream");
        Run();
    });
    return true;
}

void CAlsaStream::Stop() {
    if (!m_io.joinable()) {
        return;
    }
    m_stop.store(true);
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = write(m_wakeFd, &one, sizeof one);
    m_io.join();
    // Dropped, not closed: the next Start prepares them again.
    snd_pcm_drop(m_capture);
    snd_pcm_drop(m_playback);
}

void CAlsaStream::Run() {
    while (!Stopping()) {
        Capture();
        Play();
        Rest();
    }
}

void CAlsaStream::Rest() {
    pollfd fds[kMaxPollDescriptors];
    fds[0] = {m_wakeFd, POLLIN, 0};
    const unsigned room = unsigned(kMaxPollDescriptors - 1) / 2;
    const int captureCount = std::max(0, snd_pcm_poll_descriptors(m_capture, fds + 1, room));
    const int playCount =
        std::max(0, snd_pcm_poll_descriptors(m_playback, fds + 1 + captureCount, room));
    if (poll(fds, nfds_t(1 + captureCount + playCount), kRestMs) <= 0) {
        return;
    }
    if (fds[0].revents & POLLIN) {
        uint64_t count = 0;
        [[maybe_unused]] const ssize_t n = read(m_wakeFd, &count, sizeof count);
    }
    // Lets a plugin clear its own wake-up descriptor; the next transfer sees any error.
    unsigned short revents = 0;
    if (captureCount > 0) {
        snd_pcm_poll_descriptors_revents(m_capture, fds + 1, unsigned(captureCount), &revents);
    }
    if (playCount > 0) {
        snd_pcm_poll_descriptors_revents(m_playback, fds + 1 + captureCount, unsigned(playCount),
                                         &revents);
    }
}

void CAlsaStream::Pause() {
    pollfd wake = {m_wakeFd, POLLIN, 0};
    if (poll(&wake, 1, kRestMs) > 0) {
        uint64_t count = 0;
        [[maybe_unused]] const ssize_t n = read(m_wakeFd, &count, sizeof count);
    }
}

int CAlsaStream::Recover(snd_pcm_t* pcm, int err) {
    if (err == -EPIPE || err == -ESTRPIPE) {
        m_xruns.fetch_add(1, std::memory_order_relaxed);
    }
    int recovered = snd_pcm_recover(pcm, err, 1);
    if (recovered >= 0 && pcm == m_capture) {
        recovered = std::min(0, snd_pcm_start(pcm));
    }
    return recovered;
}

void CAlsaStream::Capture() {
    const int frameBytes = EncodingBytes(m_captureEncoding) * kStreamChannels;
    while (!Stopping()) {
        const snd_pcm_sframes_t got =
            snd_pcm_readi(m_capture, m_captureBytes.data() + size_t(m_captured * frameBytes),
                          snd_pcm_uframes_t(PeriodFrames() - m_captured));
        if (got == -EAGAIN) {
            return;
        }
        if (got < 0) {
            // The part period before the hole is thrown away, so that the hole lies just
            // before the period that counts it. A device that will not recover is tried
            // again after a rest; it delivers nothing meanwhile.
            ++m_gaps;
            m_captured = 0;
            if (Recover(m_capture, int(got)) < 0) {
                Pause();
                return;
            }
            continue;
        }
        m_captured += int(got);
        if (m_captured < PeriodFrames()) {
            continue;
        }
        m_captured = 0;
        // The device is capturing frame read + delay now; the period's first lies a period
        // before the read position.
        ClockStamp stamp;
        snd_pcm_sframes_t delay = 0;
        if (snd_pcm_delay(m_capture, &delay) >= 0 && delay >= 0) {
            stamp =
                StampAfterFrames(MonotonicNow(), -double(delay) - PeriodFrames(), Format().rate_hz);
        }
        DecodeSamples(m_captureEncoding, m_captureBytes.data(), m_captureFloats.data(), Samples());
        if (m_tap != nullptr) {
            m_tap(m_captureFloats.data(), PeriodFrames(), m_gaps, stamp, m_context);
        }
        return; // a period a turn: a device that always has more must not starve playback
    }
}

void CAlsaStream::Play() {
    const int frameBytes = EncodingBytes(m_playbackEncoding) * kStreamChannels;
    while (!Stopping()) {
        if (m_playLeft == 0) {
            if (m_source != nullptr) {
                m_source->Fill(m_playFloats.data(), PeriodFrames());
            } else {
                std::fill(m_playFloats.begin(), m_playFloats.end(), 0.0f);
            }
            // No dither here: a source that wants it dithers at the stream's depth itself.
            EncodeSamples(m_playbackEncoding, m_playFloats.data(), m_playBytes.data(), Samples(),
                          nullptr);
            m_played = 0;
            m_playLeft = PeriodFrames();
        }
        const snd_pcm_sframes_t put =
            snd_pcm_writei(m_playback, m_playBytes.data() + size_t(m_played * frameBytes),
                           snd_pcm_uframes_t(m_playLeft));
        if (put == -EAGAIN) {
            return;
        }
        if (put < 0) {
            if (Recover(m_playback, int(put)) < 0) {
                Pause();
                return;
            }
            continue;
        }
        m_played += int(put);
        m_playLeft -= int(put);
        if (m_playLeft == 0) {
            return; // likewise for a device that always has room
        }
    }
}

} // namespace

std::unique_ptr<CMeasureStream> OpenAlsaStream(const std::string& name, StreamFormat format,
                                               std::string* error) {
    StreamPcm capture, playback;
    bool refused = false;
    if (OpenStreamPcm(name, true, format, &capture, error, &refused) >= 0 &&
        OpenStreamPcm(name, false, format, &playback, error, &refused) >= 0) {
        const int wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        if (wakeFd >= 0) {
            return std::make_unique<CAlsaStream>(name, format, capture.pcm, capture.encoding,
                                                 playback.pcm, playback.encoding, wakeFd);
        }
        *error = "cannot make a wake-up descriptor for '" + name + "'";
    }
    if (capture.pcm != nullptr) {
        snd_pcm_close(capture.pcm);
    }
    if (playback.pcm != nullptr) {
        snd_pcm_close(playback.pcm);
    }
    if (refused) {
        // Both closed first: the query opens the device again.
        *error = RefusalLine(name, format, QueryAlsaOffer(name));
    }
    return nullptr;
}
