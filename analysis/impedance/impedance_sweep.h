#pragma once
// A stepped-sine impedance sweep: the plan (frequencies, settling and measuring frames for each)
// and the state machine that runs it from captured buffers. It knows nothing of the engine: its
// driver plays ToneHz() whenever Feed says the tone changed, and hands it every captured buffer
// (the capture tap's arguments). One thread at a time; Feed allocates nothing.

#include "analysis/impedance/impedance_corrections.h"
#include "analysis/impedance/impedance_detector.h"

#include <complex>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct ImpedanceSweepSettings {
    double f1_hz = 20;
    double f2_hz = 20000;
    int per_octave = 12;
    double r_ref_ohm = 100;
    double sample_rate_hz = 44100;
    int sample_bits = 16; // the capture's depth: the finest a reading can resolve
    // Measure over whole periods, at least this long and at least this many.
    double least_block_s = 0.05;
    int least_block_periods = 10;
    // Discard at least this long after a tone change (the output's buffering delays the new tone
    // by a few buffers), and at least this many periods: a driver's resonance of Q up to 10
    // rings down with time constant Q / (pi f), three periods, so 20 periods leave e^-6 of it.
    double least_settle_s = 0.3;
    int least_settle_periods = 20;
};

struct ImpedanceStep {
    double freq_hz = 0;
    int settle_frames = 0;
    int block_frames = 0; // a whole number of periods, to within a frame
};

// f1 .. f2 (f1 < f2, both ends included) spaced evenly in log f, no more than 1/per_octave
// octave apart.
std::vector<double> SweepFrequencies(double f1_hz, double f2_hz, int per_octave);
// Nothing (with the reason in *error) for settings that cannot make a sweep: f1 >= f2, f2 at or
// above Nyquist, f1 <= 0, per_octave < 1, R_ref <= 0.
std::optional<std::vector<ImpedanceStep>> PlanImpedanceSweep(const ImpedanceSweepSettings& s,
                                                             std::string* error);

struct ImpedanceSweepPoint {
    double freq_hz = 0;
    ImpedanceRefusal refusal = ImpedanceRefusal::None;
    std::complex<double> z_ohm; // corrected; meaningful when refusal is None
    CorrectedImpedance corrected;
    // The raw amplitudes, also when out of range: a calibration sweep stores from them.
    bool has_amplitudes = false;
    std::complex<double> v1;
    std::complex<double> v2;
};

// What a calibration sweep stored.
struct SweepCalibration {
    int stored = 0;
    double lo_hz = 0; // the band stored, when stored > 0
    double hi_hz = 0;
    std::vector<ImpedanceSweepPoint> refused; // points without amplitudes to store
};

// Every point of a sweep run with the calibration's short or open in place stored as kind's,
// replacing what the table held over the sweep's band. A point refused for being out of range
// is stored all the same: a short reads near 0 and an open far above 1000 R_ref.
SweepCalibration CalibrateFromSweep(ImpedanceCorrections& corrections, ImpedanceCalKind kind,
                                    const std::vector<ImpedanceSweepPoint>& points,
                                    double r_ref_ohm);

enum class SweepEvent {
    None,     // keep playing the same tone
    NextTone, // play ToneHz() now
    Finished, // stop the generator; Points() is complete
};

class CImpedanceSweep {
public:
    // plan: from PlanImpedanceSweep with the same settings.
    CImpedanceSweep(const ImpedanceSweepSettings& settings, std::vector<ImpedanceStep> plan,
                    const ImpedanceCorrections& corrections = {});

    // The tone to play; nothing once finished.
    std::optional<double> ToneHz() const;
    // One captured buffer: interleaved int16 or float (+-1.0 full scale) at the settings' rate,
    // X1 first. gapCount: cumulative; a change since the last call means frames were lost, and
    // the step under way starts over (settling again).
    SweepEvent Feed(const int16_t* interleaved, int frames, uint64_t gapCount);
    SweepEvent Feed(const float* interleaved, int frames, uint64_t gapCount);

    // Adds frames to every step's settling (the loop's delay, once known). Before the first Feed;
    // allocates nothing.
    void LengthenSettling(int frames);

    bool Finished() const { return m_step >= int(m_plan.size()); }
    // Steps done / steps planned, 0..1.
    double Progress() const;
    int StepsRepeated() const { return m_repeats; }
    const std::vector<ImpedanceSweepPoint>& Points() const { return m_points; }

private:
    template <class Sample>
    SweepEvent FeedSamples(const Sample* interleaved, int frames, uint64_t gapCount);
    void StartStep();
    SweepEvent FinishStep();

    ImpedanceSweepSettings m_settings;
    std::vector<ImpedanceStep> m_plan;
    ImpedanceCorrections m_corrections;
    CImpedanceDetector m_detector;
    std::vector<double> m_block; // interleaved, fractions of full scale
    std::vector<ImpedanceSweepPoint> m_points;
    int m_step = 0;
    int m_settled = 0;   // frames discarded so far in this step
    int m_collected = 0; // frames of the block so far
    std::optional<uint64_t> m_gapCount;
    int m_repeats = 0;
};
