#include "audio/wave/alsa_pcm.h"

#include "audio/wave/wave_device.h"

#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace {

// Half a program buffer per device period. A sound server hands the first captured bytes over
// after one period, and a 4096-frame period kept the first picture waiting about two seconds;
// every period also wakes the server's client thread, and 1024 frames cost about 0.4 % of a core
// more than this for no earlier picture. The I/O thread assembles whole program buffers.
constexpr snd_pcm_uframes_t kPeriodFrames = 2048;
// Three buffers ahead of the speaker, as many as the three queued headers hold.
constexpr snd_pcm_uframes_t kPlaybackBufferFrames = 3 * kFramesPerBuffer;
// Capture keeps a little more slack: a busy worker should cost dropped frames, not overruns.
constexpr snd_pcm_uframes_t kCaptureBufferFrames = 4 * kFramesPerBuffer;

int Configure(snd_pcm_t* pcm, bool capture, const char** step) {
    snd_pcm_hw_params_t* hw;
    snd_pcm_hw_params_alloca(&hw);
    int err;
    *step = "cannot read the device's capabilities";
    if ((err = snd_pcm_hw_params_any(pcm, hw)) < 0)
        return err;
    *step = "cannot use interleaved read/write access";
    if ((err = snd_pcm_hw_params_set_access(pcm, hw, SND_PCM_ACCESS_RW_INTERLEAVED)) < 0)
        return err;
    *step = "cannot use 16-bit samples";
    if ((err = snd_pcm_hw_params_set_format(pcm, hw, SND_PCM_FORMAT_S16_LE)) < 0)
        return err;
    *step = "cannot use 2 channels";
    if ((err = snd_pcm_hw_params_set_channels(pcm, hw, kChannels)) < 0)
        return err;
    *step = "cannot use 44100 Hz";
    if ((err = snd_pcm_hw_params_set_rate(pcm, hw, kSampleRate, 0)) < 0)
        return err;
    snd_pcm_uframes_t period = kPeriodFrames;
    int dir = 0;
    *step = "cannot set the period";
    if ((err = snd_pcm_hw_params_set_period_size_near(pcm, hw, &period, &dir)) < 0)
        return err;
    snd_pcm_uframes_t bufferFrames = capture ? kCaptureBufferFrames : kPlaybackBufferFrames;
    *step = "cannot set the buffer size";
    if ((err = snd_pcm_hw_params_set_buffer_size_near(pcm, hw, &bufferFrames)) < 0)
        return err;
    *step = "cannot apply the hardware parameters";
    if ((err = snd_pcm_hw_params(pcm, hw)) < 0)
        return err;

    snd_pcm_sw_params_t* sw;
    snd_pcm_sw_params_alloca(&sw);
    *step = "cannot set the software parameters";
    if ((err = snd_pcm_sw_params_current(pcm, sw)) < 0)
        return err;
    // Playback starts with the first period written, as a wave device plays at once; capture
    // at once.
    const snd_pcm_uframes_t threshold = capture ? 1 : period;
    if ((err = snd_pcm_sw_params_set_start_threshold(pcm, sw, threshold)) < 0)
        return err;
    // Capture wakes its reader for a whole program buffer where the plugin honours it
    // (PipeWire's does; PulseAudio's wakes every period all the same).
    if ((err = snd_pcm_sw_params_set_avail_min(pcm, sw, capture ? kFramesPerBuffer : 1)) < 0)
        return err;
    return snd_pcm_sw_params(pcm, sw);
}

// A burst of a few lines, then one line every few seconds: a 60 s outage with a retry a second
// adds a couple of kilobytes, not megabytes.
constexpr int kMessageBurst = 10;
constexpr auto kMessageRefill = std::chrono::seconds(6);

std::mutex g_messageMutex;
int g_messageTokens = kMessageBurst;
std::chrono::steady_clock::time_point g_lastRefill;
unsigned long g_suppressed = 0;

bool MayPrint() {
    std::lock_guard lock(g_messageMutex);
    const auto now = std::chrono::steady_clock::now();
    while (g_messageTokens < kMessageBurst && now - g_lastRefill >= kMessageRefill) {
        ++g_messageTokens;
        g_lastRefill += kMessageRefill;
    }
    if (g_messageTokens == kMessageBurst) {
        g_lastRefill = now;
    }
    if (g_messageTokens == 0) {
        ++g_suppressed;
        return false;
    }
    --g_messageTokens;
    if (g_suppressed != 0) {
        std::fprintf(stderr, "ALSA lib: %lu similar messages not shown\n", g_suppressed);
        g_suppressed = 0;
    }
    return true;
}

void RateLimitedAlsaMessage(const char* file, int line, const char* function, int err,
                            const char* format, ...) {
    if (!MayPrint()) {
        return;
    }
    char text[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    for (size_t n = std::strlen(text); n > 0 && text[n - 1] == '\n'; --n) {
        text[n - 1] = '\0'; // some plugins end their text with a newline of their own
    }
    std::fprintf(stderr, "ALSA lib %s:%d:(%s) %s%s%s\n", file, line, function, text,
                 err != 0 ? ": " : "", err != 0 ? snd_strerror(err) : "");
}

} // namespace

MMRESULT AlsaErrorCode(int err) {
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

int OpenAlsaPcm(const std::string& name, bool capture, snd_pcm_t** pcm, const char** step) {
    InstallAlsaMessageHandler();
    *pcm = nullptr;
    *step = nullptr;
    // Non-blocking: the I/O thread must be able to notice a reset at any moment; it rests in
    // poll() on the PCM's descriptors instead.
    int err =
        snd_pcm_open(pcm, name.c_str(), capture ? SND_PCM_STREAM_CAPTURE : SND_PCM_STREAM_PLAYBACK,
                     SND_PCM_NONBLOCK);
    if (err < 0) {
        *pcm = nullptr;
        return err;
    }
    err = Configure(*pcm, capture, step);
    if (err < 0) {
        snd_pcm_close(*pcm);
        *pcm = nullptr;
    }
    return err;
}

void InstallAlsaMessageHandler() {
    static std::once_flag once;
    std::call_once(once, [] { snd_lib_error_set_handler(RateLimitedAlsaMessage); });
}

MMRESULT AlsaOpenFailure(const std::string& name, int err, const char* step) {
    if (step == nullptr) {
        return WaveFail(AlsaErrorCode(err), "cannot open audio device %s: %s", name.c_str(),
                        snd_strerror(err));
    }
    return WaveFail(err == -EINVAL ? WAVERR_BADFORMAT : AlsaErrorCode(err),
                    "audio device %s %s: %s", name.c_str(), step, snd_strerror(err));
}
