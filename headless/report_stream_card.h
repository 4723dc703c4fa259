#pragma once
// The report's card at a rate or sample format other than the panel's: a measurement stream of
// the run's own (headless/stream_run.h), playing each step's signal at the stream's format and
// capturing as float. The panel's 16-bit 44100 Hz never comes here (CEngineCardCapture).
// Threads: main thread only, except the tap, which runs on the stream's I/O thread.

#include "headless/report_card.h"
#include "headless/stream_run.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class CStreamCardCapture final : public ICardCapture {
public:
    // The card of --device at options' format, running (silence) until destruction; nothing
    // after the one line that says why not (a refusal names what the device offers).
    static std::unique_ptr<CStreamCardCapture> Open(const RunOptions& options);
    ~CStreamCardCapture() override;
    CStreamCardCapture(const CStreamCardCapture&) = delete;
    CStreamCardCapture& operator=(const CStreamCardCapture&) = delete;

    const std::string& Device() const { return m_run->Device(); }
    double RateHz() const override { return m_run->RateHz(); }
    std::optional<CardCapture> Capture(const TestSignal& signal, int settleFrames,
                                       int frames) override;
    ClockStamp SamplesDeparture() const override { return m_run->SamplesDeparture(); }

private:
    CStreamCardCapture() = default;
    static void Tap(const float* interleaved, int frames, uint64_t gapCount, ClockStamp stamp,
                    void* self);

    // Set by the main thread before arming; the tap fills the slice until m_done.
    std::atomic<bool> m_armed{false};
    std::atomic<bool> m_done{false};
    std::atomic<int64_t> m_framesIn{0};
    CCaptureSlice m_slice;
    std::unique_ptr<CStreamRun> m_run; // last: stops its I/O thread before the state above goes
};
