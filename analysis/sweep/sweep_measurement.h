#pragma once
// One frequency-response measurement through a card: the sweep to play (Playback), the capture
// fed from the capture worker (Tap), and the analysis once enough has come back (Analyse). The
// capture runs from before the sweep plays until averages sweeps and a latency budget have been
// captured, so the whole run lasts at most the sweep's length plus kSweepLatencyBudgetSeconds.
//
// Samples: the sweep plays at settings.sweep.rate_hz, as int16 (Playback) or as float scaled to
// +-1.0 full scale (PlaybackFloat, for an output of any depth); the capture comes back as either
// (Feed), at that same rate.
//
// Threads: Tap on the capture worker only (copies into a buffer made in the constructor, no
// allocation, no lock); Progress, Complete and Damaged from any thread; the constructor, Playback
// and Analyse on one controlling thread, Analyse after Complete (or after the run was stopped).

#include "analysis/sweep/sweep_analyser.h"
#include "analysis/sweep/sweep_signal.h"
#include "base/clock_stamp.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

enum class SweepOutput { Left, Right, Both }; // output channel(s) playing the sweep
enum class SweepReference { None, X2 };       // X2: response = X1 / X2, the sweep plays on both

struct SweepMeasurementSettings {
    SweepSettings sweep;            // f1, f2, frames, level
    SweepAnalysisSettings analysis; // lo, hi, points per octave, smoothing, harmonics
    SweepOutput output = SweepOutput::Both;
    SweepReference reference = SweepReference::None;
    int averages = 1; // 1..64, sweeps played back to back and averaged
};

// NoSignal also stands for a sweep whose start the capture missed (a device that began
// capturing late): what came back cannot be told from the system's response then.
enum class SweepFailure { None, Gap, Clipped, NoSignal, Stopped };

struct SweepOutcome {
    SweepFailure failure = SweepFailure::None;
    SweepResult result;         // the measured input's; over X2 with a reference
    int input = 0;              // 0: X1, 1: X2 (X2 when only R plays, no reference)
    // The round trip, from the sweep's first sample leaving for the line to its arrival; from
    // the capture's first frame (relative) when the devices could not tell their positions;
    // or X1 against X2.
    double latency_samples = 0;
    double latency_ms = 0;
    int coarse_latency_samples = 0; // the cross-correlation's whole-sample offset alone
    bool relative_latency = true;   // latency_samples counts from the capture's start
    bool round_trip = false;        // latency_samples is the device's round trip
    std::vector<float> impulse;     // linear impulse response: a straight wire peaks at 1
    int impulse_peak = 0;           // its peak's index
};

// English one-liners; the window translates its own.
const char* SweepFailureText(SweepFailure failure);

// The latency in one line, named for what it is. With a reference it is X1's against X2's.
// Without one it is the round trip from the sweep's first sample leaving the program (its
// buffer's position on the output device) to its arrival at the input; where a device cannot
// tell its position it counts from the capture's first frame instead, so it holds the output
// the program had queued ahead of the sweep and when the sweep was started: a relative figure,
// and the line says so.
std::string SweepLatencyText(const SweepOutcome& outcome);
// The gate and the lowest frequency its response holds, in one line.
std::string SweepGateText(const SweepAnalysisSettings& analysis, const SweepResult& result);

// The sweep that measures the band settings.analysis.lo_hz..hi_hz at settings.sweep.rate_hz:
// from an octave below the band, or 10 Hz when that is lower, since its first octave is where it
// fades in and where the deconvolution's highpass lies, which no result should read; up to
// Nyquist, so the harmonics of the band's top stay measurable as far as they can.
inline void SweepForBand(SweepMeasurementSettings& settings) {
    settings.sweep.f1_hz = settings.analysis.lo_hz / 2 < 10.0 ? settings.analysis.lo_hz / 2 : 10.0;
    settings.sweep.f2_hz = settings.sweep.rate_hz / 2;
}

// Time allowed for the card's round trip beyond the sweeps themselves.
inline constexpr double kSweepLatencyBudgetSeconds = 0.7;

class CSweepMeasurement {
public:
    // Throws std::invalid_argument, saying which, for settings out of range.
    explicit CSweepMeasurement(const SweepMeasurementSettings& settings);
    ~CSweepMeasurement();
    CSweepMeasurement(const CSweepMeasurement&) = delete;
    CSweepMeasurement& operator=(const CSweepMeasurement&) = delete;

    const SweepMeasurementSettings& Settings() const { return m_settings; }
    // Interleaved stereo frames: averages sweeps back to back on the chosen channel(s).
    std::shared_ptr<const std::vector<int16_t>> Playback() const;
    // The same frames unrounded, fractions of full scale; made at each call (controlling thread).
    std::shared_ptr<const std::vector<float>> PlaybackFloat() const;
    // Capture-tap shape: self is this measurement. Capture worker only.
    static void Tap(const int16_t* interleaved, int frames, uint64_t gapCount, void* self);
    static void TapFloat(const float* interleaved, int frames, uint64_t gapCount, void* self);
    // firstFrame: when the buffer's first frame was captured (none when unknown).
    void Feed(const int16_t* interleaved, int frames, uint64_t gapCount,
              ClockStamp firstFrame = {});
    void Feed(const float* interleaved, int frames, uint64_t gapCount, ClockStamp firstFrame = {});
    // The capture's whole length, in frames and in seconds at the sweep's rate.
    int CaptureFrames() const { return m_captureFrames; }
    double CaptureSeconds() const { return m_captureFrames / m_settings.sweep.rate_hz; }
    // When the first sweep's first sample left for the line, on the clock of Feed's stamps.
    // Controlling thread, before Analyse; without it the latency is relative.
    void SetDeparture(ClockStamp departure) { m_departure = departure; }

    double Progress() const; // 0..1
    bool Complete() const;   // everything needed has been captured
    bool Damaged() const;    // a gap was seen during the capture so far

    // After Complete, or after a stop (then failure Stopped unless the capture was already
    // complete). Makes the analyser and its transforms (about 0.1 s for a 2^18 sweep):
    // call once per measurement, off the capture worker.
    SweepOutcome Analyse();

private:
    SweepMeasurementSettings m_settings;
    std::shared_ptr<const std::vector<int16_t>> m_playback;
    template <class Sample>
    void FeedSamples(const Sample* interleaved, int frames, uint64_t gapCount,
                     ClockStamp firstFrame);
    // Interleaved stereo, capture frames long, fractions of full scale: an int16 sample / 32768
    // and a 24-bit one are held exactly.
    std::vector<float> m_capture;
    int m_captureFrames = 0;
    std::atomic<int> m_captured{0};
    std::atomic<bool> m_damaged{false};
    bool m_started = false; // capture worker only
    uint64_t m_firstGapCount = 0;
    // Capture worker until Complete: each stamped buffer's word on when the capture's first
    // frame was captured, in ns, in room made by the constructor; broken by a buffer without a
    // stamp or on another clock.
    std::vector<int64_t> m_captureStarts;
    size_t m_stampCount = 0;
    DeviceClock m_stampClock = DeviceClock::None;
    bool m_stampsBroken = false;
    ClockStamp m_departure;

    // The round trip of a sweep that arrived `arrival` frames after the capture's first, when
    // both positions are known and agree with each other; else a negative number.
    double RoundTrip(double arrival);
};
