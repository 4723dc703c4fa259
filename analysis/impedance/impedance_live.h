#pragma once
// Readings at one frequency, block after block, from captured buffers: the tone the program
// plays, or an external generator's found on X1. Nothing is measured until a block shows the
// tone on X1 (a tone played before, at another frequency, does not count) and the part and the
// card have settled after it; a lost stretch of capture settles again. The frames up to the end
// of that block bound the loop's delay (output buffering, the card), which a stepped sweep must
// wait out at every change of tone: CImpedanceRun adds it to each step.
// One thread at a time (the capture worker); Feed allocates nothing.

#include "analysis/impedance/impedance_corrections.h"
#include "analysis/impedance/impedance_detector.h"
#include "analysis/impedance/impedance_sweep.h"
#include "base/pcm_format.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct ImpedanceLiveSettings {
    std::optional<double> freq_hz; // the tone played; nothing: an external generator's
    double r_ref_ohm = 100;
    double sample_rate_hz = 44100;
    int sample_bits = 16; // the capture's depth: the finest a reading can resolve
    // Added to the settling after the tone shows: a tone changed in level or phase while one of
    // the same frequency played shows at once, yet reaches X1 only after the loop's delay.
    int extra_settle_frames = 0;
};

struct ImpedanceLiveReading {
    double time_s = 0; // the block's start, from the first frame fed
    double freq_hz = 0;
    ImpedanceRefusal refusal = ImpedanceRefusal::None;
    CorrectedImpedance corrected; // meaningful when refusal is None
    // The raw amplitudes, also when the impedance is out of range: the leads' open reading is
    // usually far above 1000 R_ref, and a calibration still wants it.
    bool has_amplitudes = false;
    std::complex<double> v1;
    std::complex<double> v2;
};

// Whole periods of freq_hz, at least 0.2 s and 10 periods: long enough for a steady figure, a
// few readings a second.
int ImpedanceLiveBlockFrames(double freq_hz, double sample_rate_hz);
// An external generator's block: 16384 frames, 0.37 s at 44.1 kHz.
inline constexpr int kImpedanceExternalBlockFrames = 16384;

class CImpedanceLive {
public:
    CImpedanceLive(const ImpedanceLiveSettings& settings, const ImpedanceCorrections& corrections);

    // One captured buffer: interleaved int16 or float (+-1.0 full scale) at the settings' rate,
    // X1 first; gapCount cumulative as the capture tap gives it. True with *reading set when a
    // block was completed (at most one per buffer).
    bool Feed(const int16_t* interleaved, int frames, uint64_t gapCount,
              ImpedanceLiveReading* reading);
    bool Feed(const float* interleaved, int frames, uint64_t gapCount,
              ImpedanceLiveReading* reading);

    bool ToneSeen() const { return m_onsetFrames.has_value(); }
    // Frames fed up to the end of the block that first showed the tone.
    std::optional<int64_t> OnsetFrames() const { return m_onsetFrames; }

private:
    void Restart(); // settle again and drop what was collected
    template <class Sample>
    bool FeedSamples(const Sample* interleaved, int frames, uint64_t gapCount,
                     ImpedanceLiveReading* reading);
    bool Complete(ImpedanceLiveReading* reading, int64_t endFrame);

    ImpedanceLiveSettings m_settings;
    ImpedanceCorrections m_corrections;
    int m_blockFrames;
    int m_settleFrames;
    CImpedanceDetector m_detector;
    std::vector<double> m_block; // interleaved, fractions of full scale
    int m_collected = 0;
    int m_settled = 0;
    int64_t m_blockStart = 0; // frames fed before the block under way
    int64_t m_fed = 0;
    std::optional<int64_t> m_onsetFrames;
    std::optional<uint64_t> m_gapCount;
};

// A run on the capture worker: live readings, or a stepped sweep that starts once its first
// tone has reached X1 (whose delay it then adds to every step). The driver plays the first tone
// (the live frequency, or the plan's first) after the capture has started, and each NextTone.
class CImpedanceRun {
public:
    enum class Event { None, Reading, NextTone, Finished };

    // plan: empty for live readings; else from PlanImpedanceSweep(sweep), and live.freq_hz its
    // first frequency.
    CImpedanceRun(const ImpedanceLiveSettings& live, const ImpedanceCorrections& corrections,
                  const ImpedanceSweepSettings& sweep = {}, std::vector<ImpedanceStep> plan = {});

    // Reading: *reading set. NextTone: play *toneHz now. Finished: the sweep is complete.
    // Allocates nothing: the sweep, its detector and its transform are made with the run.
    Event Feed(const int16_t* interleaved, int frames, uint64_t gapCount,
               ImpedanceLiveReading* reading, double* toneHz);
    Event Feed(const float* interleaved, int frames, uint64_t gapCount,
               ImpedanceLiveReading* reading, double* toneHz);

    bool ToneSeen() const { return m_live.ToneSeen(); }
    std::optional<int64_t> OnsetFrames() const { return m_live.OnsetFrames(); }
    // Nothing before the sweep has started, or for live readings.
    const CImpedanceSweep* Sweep() const { return m_sweepStarted ? &*m_sweep : nullptr; }

private:
    template <class Sample>
    Event FeedSamples(const Sample* interleaved, int frames, uint64_t gapCount,
                      ImpedanceLiveReading* reading, double* toneHz);

    CImpedanceLive m_live;
    std::optional<CImpedanceSweep> m_sweep; // made here, started once the first tone arrives
    bool m_sweepStarted = false;
};

// PlanImpedanceSweep's plan with each frequency as the test source plays it, to 0.01 Hz: the
// sweep measures at what plays.
std::optional<std::vector<ImpedanceStep>> PlanPlayedSweep(const ImpedanceSweepSettings& settings,
                                                          std::string* error);

// The first tone goes out through an empty queue; every later one waits behind the buffers the
// output has primed ahead (three) and reaches the tap behind captured ones not yet handed over.
// A sweep's steps settle this much longer than the first tone's arrival (OnsetFrames).
inline constexpr int kImpedanceQueuedFrames = 6 * kFramesPerBuffer;
