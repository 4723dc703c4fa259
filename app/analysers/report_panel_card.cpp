#include "app/analysers/report_panel_card.h"

#include "base/pcm_format.h"

#include <algorithm>
#include <chrono>

CPanelCardCapture::CPanelCardCapture(CSoundDevice& engine, std::function<void()> askArm,
                                     std::function<void(const TestSignal&)> play)
    : m_engine(engine), m_askArm(std::move(askArm)), m_play(std::move(play)) {}

CPanelCardCapture::~CPanelCardCapture() {
    Remove();
}

void CPanelCardCapture::Install() {
    m_engine.SetCaptureTap(&CPanelCardCapture::Tap, this);
    m_installed = true;
}

void CPanelCardCapture::Remove() {
    // Another analyser may have put its own tap in since: that one stays.
    if (m_installed && m_engine.CaptureTap().second == this) {
        m_engine.SetCaptureTap(nullptr, nullptr);
    }
    m_installed = false;
}

void CPanelCardCapture::Stop() {
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_woken.notify_all();
}

double CPanelCardCapture::RateHz() const {
    return kSampleRate;
}

void CPanelCardCapture::Arm() {
    std::optional<TestSignal> signal;
    {
        std::lock_guard lock(m_mutex);
        signal.swap(m_request);
        if (!signal || m_stop) {
            return;
        }
    }
    m_play(*signal);
    // The frames counted from here on all left after the new signal started.
    m_armed.store(true, std::memory_order_release);
}

void CPanelCardCapture::Tap(const int16_t* interleaved, int frames, uint64_t gapCount, void* self) {
    auto* card = static_cast<CPanelCardCapture*>(self);
    if (!card->m_armed.load(std::memory_order_acquire) ||
        card->m_done.load(std::memory_order_acquire)) {
        return;
    }
    if (card->m_slice.Take(interleaved, frames, gapCount, card->m_engine.TappedStamp(),
                           kSampleRate)) {
        {
            std::lock_guard lock(card->m_mutex);
            card->m_done.store(true, std::memory_order_release);
        }
        card->m_woken.notify_all();
    }
}

std::optional<CardCapture> CPanelCardCapture::Capture(const TestSignal& signal, int settleFrames,
                                                      int frames) {
    // Disarmed, and a tap call that saw the capture before armed waited out (taking the tap
    // off waits for it): from here the tap leaves the fields alone until Arm.
    m_armed.store(false);
    const auto tap = m_engine.CaptureTap();
    m_engine.SetCaptureTap(nullptr, nullptr);
    m_engine.SetCaptureTap(tap.first, tap.second);
    m_slice.Start(settleFrames, frames);
    m_done.store(false);
    {
        std::lock_guard lock(m_mutex);
        if (m_stop) {
            return std::nullopt;
        }
        m_request = signal;
    }
    m_askArm();
    {
        std::unique_lock lock(m_mutex);
        m_woken.wait(lock, [this] { return m_stop || m_done.load(); });
        if (!m_done.load()) {
            return std::nullopt;
        }
    }
    return m_slice.Result(kSampleRate);
}
