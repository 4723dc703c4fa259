#include "headless/report_stream_card.h"

#include "base/pcm_format.h"
#include "headless/headless_run.h"
#include "headless/stop_signal.h"

#include <algorithm>
#include <cstdio>

std::unique_ptr<CStreamCardCapture> CStreamCardCapture::Open(const RunOptions& options) {
    std::unique_ptr<CStreamRun> run = CStreamRun::Open(options);
    if (!run) {
        return nullptr;
    }
    std::unique_ptr<CStreamCardCapture> card(new CStreamCardCapture);
    card->m_run = std::move(run);
    // Both directions run from here on, so that no step's signal waits for a stream to start.
    if (!card->m_run->Start(&CStreamCardCapture::Tap, card.get(), std::nullopt)) {
        return nullptr;
    }
    return card;
}

CStreamCardCapture::~CStreamCardCapture() {
    if (m_run) {
        m_run->Stop();
    }
}

void CStreamCardCapture::Tap(const float* interleaved, int frames, uint64_t gapCount,
                             ClockStamp stamp, void* self) {
    auto* card = static_cast<CStreamCardCapture*>(self);
    card->m_framesIn += frames;
    if (!card->m_armed.load(std::memory_order_acquire) || card->m_done.load()) {
        return;
    }
    if (card->m_slice.Take(interleaved, frames, gapCount, stamp, card->m_run->RateHz())) {
        card->m_done.store(true);
        WakeMainThread();
    }
}

std::optional<CardCapture> CStreamCardCapture::Capture(const TestSignal& signal, int settleFrames,
                                                       int frames) {
    m_run->Play(signal);
    m_slice.Start(settleFrames, frames);
    m_done.store(false);
    m_armed.store(true, std::memory_order_release);

    CRunWatch watch(Device(), &m_run->Stream());
    int64_t framesIn = m_framesIn.load();
    while (!m_done.load() && watch.Wait()) {
        if (const int64_t now = m_framesIn.load(); now != framesIn) {
            framesIn = now;
            watch.InputArrived();
        }
    }
    // The tap reads m_armed at each period: once m_done is set, or the run ends, it no longer
    // touches the capture, and a stopped stream calls it no more.
    m_armed.store(false);
    if (!m_done.load()) {
        m_run->Stop();
        if (StopSignal() != 0) {
            std::fprintf(stderr, "%s: stopped by signal\n", kTool);
        } else {
            std::fprintf(stderr, "%s: no audio from '%s'\n", kTool, Device().c_str());
        }
        return std::nullopt;
    }
    return m_slice.Result(RateHz());
}
