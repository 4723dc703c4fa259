#include "headless/report_card.h"

#include "analysis/common/sample_fraction.h"

#include "audio/wave/wave_api.h"
#include "base/pcm_format.h"
#include "headless/stop_signal.h"

#include <algorithm>
#include <cstdio>

void CCaptureSlice::Start(int settleFrames, int frames) {
    m_capture.assign(size_t(frames) * kChannels, 0.0f);
    m_skip = settleFrames;
    m_want = frames;
    m_have = 0;
    m_started = false;
    m_gap = false;
    m_firstStamp = {};
}

template <typename Sample>
bool CCaptureSlice::TakeAny(const Sample* interleaved, int frames, uint64_t gapCount,
                            ClockStamp stamp, double rate_hz) {
    if (!m_started) {
        m_started = true;
        m_gapAtStart = gapCount;
    }
    const int from = std::min(frames, m_skip);
    m_skip -= from;
    if (from < frames && m_have == 0) {
        m_firstStamp = StampAfterFrames(stamp, from, rate_hz);
    }
    const int take = std::min(frames - from, m_want - m_have);
    for (int n = 0; n < take * kChannels; ++n) {
        m_capture[size_t(m_have) * kChannels + size_t(n)] =
            float(SampleFraction(interleaved[size_t(from) * kChannels + size_t(n)]));
    }
    m_have += take;
    m_gap = m_gap || gapCount != m_gapAtStart;
    return m_have == m_want;
}

bool CCaptureSlice::Take(const int16_t* interleaved, int frames, uint64_t gapCount,
                         ClockStamp stamp, double rate_hz) {
    return TakeAny(interleaved, frames, gapCount, stamp, rate_hz);
}

bool CCaptureSlice::Take(const float* interleaved, int frames, uint64_t gapCount, ClockStamp stamp,
                         double rate_hz) {
    return TakeAny(interleaved, frames, gapCount, stamp, rate_hz);
}

CardCapture CCaptureSlice::Result(double rate_hz) {
    CardCapture capture;
    capture.interleaved = std::move(m_capture);
    capture.frames = m_want;
    capture.rate_hz = rate_hz;
    capture.gap = m_gap;
    capture.first_frame = m_firstStamp;
    return capture;
}

CEngineCardCapture::CEngineCardCapture() = default;

CEngineCardCapture::~CEngineCardCapture() {
    m_engine.SetCaptureTap(nullptr, nullptr);
    if (m_open) {
        m_engine.StopCapture();
        m_engine.StopTestSignal();
    }
}

std::optional<std::string> CEngineCardCapture::Open(CAlertLines& alerts) {
    m_engine.SetCaptureTap(&CEngineCardCapture::Tap, this);
    // The output runs before the capture starts, so that no step's signal waits for a
    // playback stream to open (a sound server drops the first tens of milliseconds of one).
    TestSignal silence;
    silence.kind = TestSignalKind::Samples;
    if (!m_engine.StartTestSignal(silence)) {
        DeviceFailed("output", WaveDeviceName(WaveDirection::Out), alerts.Last());
        return std::nullopt;
    }
    m_open = true;
    std::optional<std::string> device = StartCaptureOrSay(m_engine, alerts);
    if (device) {
        m_device = *device;
    }
    return device;
}

double CEngineCardCapture::RateHz() const {
    return kSampleRate;
}

void CEngineCardCapture::Tap(const int16_t* interleaved, int frames, uint64_t gapCount,
                             void* self) {
    auto* card = static_cast<CEngineCardCapture*>(self);
    card->m_framesIn += frames;
    if (!card->m_armed.load(std::memory_order_acquire) || card->m_done.load()) {
        return;
    }
    if (card->m_slice.Take(interleaved, frames, gapCount, card->m_engine.TappedStamp(),
                           kSampleRate)) {
        card->m_done.store(true);
        WakeMainThread();
    }
}

std::optional<CardCapture> CEngineCardCapture::Capture(const TestSignal& signal, int settleFrames,
                                                       int frames) {
    m_engine.StartTestSignal(signal); // the output is running: nothing left to fail
    m_slice.Start(settleFrames, frames);
    m_done.store(false);
    m_armed.store(true, std::memory_order_release);

    CRunWatch watch(m_device);
    int64_t framesIn = m_framesIn.load();
    while (!m_done.load() && watch.Wait()) {
        if (const int64_t now = m_framesIn.load(); now != framesIn) {
            framesIn = now;
            watch.InputArrived();
        }
    }
    m_armed.store(false);
    // The tap may still be inside a buffer: taking it off waits for that call to end.
    auto tap = m_engine.CaptureTap();
    m_engine.SetCaptureTap(nullptr, nullptr);
    m_engine.SetCaptureTap(tap.first, tap.second);
    if (!m_done.load()) {
        if (StopSignal() != 0) {
            std::fprintf(stderr, "%s: stopped by signal\n", kTool);
        } else {
            std::fprintf(stderr, "%s: no audio from '%s'\n", kTool, m_device.c_str());
        }
        return std::nullopt;
    }
    return m_slice.Result(kSampleRate);
}
