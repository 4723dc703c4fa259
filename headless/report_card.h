#pragma once
// The measuring core of `tavrin report`: play a test signal, let the round trip pass, capture a
// stretch of the input as float at the card's rate, and hand it to whichever analyser the step
// runs. The steps see only ICardCapture, so a card opened another way (another rate or depth)
// serves them as well as the panel's engine does.
// Threads: main thread only, except the engine's tap, which runs on the capture worker.

#include "audio/test_signal.h"
#include "base/clock_stamp.h"
#include "engine/sound_device.h"
#include "headless/headless_run.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct CardCapture {
    std::vector<float> interleaved; // stereo frames, L first, fractions of full scale
    int frames = 0;
    double rate_hz = 0;
    bool gap = false;       // the input lost frames during the capture
    ClockStamp first_frame; // when its first frame was captured; none when unknown
};

// The stretch of input one capture keeps: settleFrames let pass, then `frames` taken as float,
// noting a gap in the input and when the first frame kept was captured. Start on the run's
// thread while no tap call can touch it; Take on the capture thread, which allocates nothing.
class CCaptureSlice {
public:
    void Start(int settleFrames, int frames);
    // One tapped buffer, its first frame captured at `stamp`: true when it filled the slice.
    bool Take(const int16_t* interleaved, int frames, uint64_t gapCount, ClockStamp stamp,
              double rate_hz);
    bool Take(const float* interleaved, int frames, uint64_t gapCount, ClockStamp stamp,
              double rate_hz);
    // The filled slice; its samples move out.
    CardCapture Result(double rate_hz);

private:
    template <typename Sample>
    bool TakeAny(const Sample* interleaved, int frames, uint64_t gapCount, ClockStamp stamp,
                 double rate_hz);

    int m_skip = 0; // frames still to let pass
    int m_want = 0; // frames
    int m_have = 0; // frames
    uint64_t m_gapAtStart = 0;
    bool m_started = false;
    bool m_gap = false;
    ClockStamp m_firstStamp;
    std::vector<float> m_capture;
};

class ICardCapture {
public:
    virtual ~ICardCapture() = default;
    virtual double RateHz() const = 0;
    // Plays `signal` from now on, lets settleFrames of input pass (the round trip and the
    // signal's start), then captures `frames`. Nothing when the run must end: a stop signal, or
    // an input gone silent (said on stderr).
    virtual std::optional<CardCapture> Capture(const TestSignal& signal, int settleFrames,
                                               int frames) = 0;
    // When the first frame of the samples last played left for the line; none when unknown.
    virtual ClockStamp SamplesDeparture() const = 0;
};

// The panel's engine at its own format, 16 bit at 44100 Hz: playing (silence at first) and
// capturing from Open until destruction.
class CEngineCardCapture final : public ICardCapture {
public:
    CEngineCardCapture();
    ~CEngineCardCapture() override;
    CEngineCardCapture(const CEngineCardCapture&) = delete;
    CEngineCardCapture& operator=(const CEngineCardCapture&) = delete;

    // The capture device's name, or nothing after the line that says why it cannot open.
    std::optional<std::string> Open(CAlertLines& alerts);
    double RateHz() const override;
    std::optional<CardCapture> Capture(const TestSignal& signal, int settleFrames,
                                       int frames) override;
    ClockStamp SamplesDeparture() const override { return m_engine.TestSignalDeparture(); }

private:
    static void Tap(const int16_t* interleaved, int frames, uint64_t gapCount, void* self);

    // Started by the main thread before arming; the tap fills the slice until m_done.
    std::atomic<bool> m_armed{false};
    std::atomic<bool> m_done{false};
    std::atomic<int64_t> m_framesIn{0};
    CCaptureSlice m_slice;
    CSoundDevice m_engine; // last: stops its workers before the state above goes
    bool m_open = false;
    std::string m_device;
};
