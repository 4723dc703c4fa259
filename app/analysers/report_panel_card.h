#pragma once
// The report's card over the panel's own engine: the report's steps run on a worker thread and
// ask for each capture here; the signal is started on the GUI thread (the engine's rule), and
// the panel's capture worker fills the capture through the engine's tap, as the analyser
// windows tap it.
//
// Threads: Capture and SamplesDeparture on the run's worker; Arm, Install, Remove and Stop on
// the GUI thread; Tap on the capture worker, which allocates nothing and takes no lock but the
// one it wakes the worker with.

#include "engine/sound_device.h"
#include "headless/report_card.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

class CPanelCardCapture final : public ICardCapture {
public:
    // askArm: called on the worker; it must have Arm run on the GUI thread soon (a queued call).
    // play: starts the test signal on the GUI thread (the engine's StartTestSignal with its user).
    CPanelCardCapture(CSoundDevice& engine, std::function<void()> askArm,
                      std::function<void(const TestSignal&)> play);
    ~CPanelCardCapture() override;
    CPanelCardCapture(const CPanelCardCapture&) = delete;
    CPanelCardCapture& operator=(const CPanelCardCapture&) = delete;

    // GUI thread. The tap on the engine; off again, waiting out a buffer in the tap.
    void Install();
    void Remove();
    // GUI thread: plays the signal asked for and starts counting the frames after it.
    void Arm();
    // Any thread: a Capture waiting (or the next) gives up with nothing.
    void Stop();

    double RateHz() const override;
    std::optional<CardCapture> Capture(const TestSignal& signal, int settleFrames,
                                       int frames) override;
    ClockStamp SamplesDeparture() const override { return m_engine.TestSignalDeparture(); }

private:
    static void Tap(const int16_t* interleaved, int frames, uint64_t gapCount, void* self);

    CSoundDevice& m_engine;
    std::function<void()> m_askArm;
    std::function<void(const TestSignal&)> m_play;

    std::mutex m_mutex; // guards the request and wakes the worker
    std::condition_variable m_woken;
    std::optional<TestSignal> m_request; // asked by the worker, taken by Arm
    bool m_stop = false;

    // Written by Arm before m_armed is set, then by the tap alone until m_done.
    std::atomic<bool> m_armed{false};
    std::atomic<bool> m_done{false};
    CCaptureSlice m_slice;
    bool m_installed = false; // GUI thread
};
