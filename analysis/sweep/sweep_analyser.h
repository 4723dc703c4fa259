#pragma once
// Frequency response and harmonic distortion from one synchronized sweep (sweep_signal.h): the
// capture is deconvolved to an impulse response, whose linear part gives magnitude, phase and
// group delay and whose harmonic parts, L ln N early, give H2..H5 and THD against the exciting
// frequency. A reference channel, when given, divides the response so the card's own response
// and latency cancel.
//
// One analyser per sweep: its transforms, the sweep's inverse and every scratch buffer are made
// in the constructor, so Analyse allocates nothing once its result has grown to the number of
// points asked for. Used by one thread at a time; different analysers may run at once.

#include "analysis/sweep/sweep_signal.h"

#include <complex>
#include <memory>
#include <vector>

enum class SweepSmoothing { None, Octave48, Octave24, Octave12, Octave6, Octave3 };

struct SweepAnalysisSettings {
    double lo_hz = 20.0;
    double hi_hz = 20000.0;
    int points_per_octave = 48; // 1..480
    SweepSmoothing smoothing = SweepSmoothing::None;
    bool harmonics = true;
};

enum class SweepRefusal {
    None,
    Clipped,  // a sample at full scale: the response would be the clipping's
    NoSignal, // nothing of the sweep came back (or, with a reference, on the reference)
};

inline constexpr int kSweepHighestHarmonic = 5;

// One entry per point in every vector. A harmonic whose frequency lies above the sweep's top
// (where its fade-out begins, or Nyquist) reads NaN there, as does THD where no harmonic remains.
// With a reference, magnitude, phase, group delay and latency are the channel's over the
// reference's; the harmonics stay the channel's own, against its own fundamental.
struct SweepResult {
    SweepRefusal refusal = SweepRefusal::NoSignal;
    double latency_samples = 0; // the linear response's peak; with a reference, channel - ref
    double latency_ms = 0;
    std::vector<double> freq_hz;
    std::vector<double> mag_db;         // 0 dB: the sweep came back at its own level
    std::vector<double> phase_deg;      // latency taken out, unwrapped from the lowest point
    std::vector<double> group_delay_ms; // beyond the latency
    std::vector<double> h2_db, h3_db, h4_db, h5_db; // against the fundamental, at the exciting f
    std::vector<double> thd_db;                     // H2..H5 together, against the fundamental
    // The linear response as deconvolved, over the window its spectrum is taken from (the
    // harmonics' responses lie outside it), scaled so that a straight wire peaks at 1. The
    // channel's own against the sweep, with a reference too.
    std::vector<float> impulse;
    int impulse_peak = 0; // the index of its largest sample
};

class CSweepAnalyser {
public:
    // Throws std::invalid_argument as MakeSweepShape does.
    explicit CSweepAnalyser(const SweepSettings& sweep);
    ~CSweepAnalyser();
    CSweepAnalyser(const CSweepAnalyser&) = delete;
    CSweepAnalyser& operator=(const CSweepAnalyser&) = delete;

    const SweepShape& Shape() const;
    // The sweep this analyser expects back, as GenerateSweep makes it.
    const std::vector<double>& Sweep() const;

    // response: the capture, frames of samples at response[0], response[stride], ...; reference
    // likewise or nullptr. Fractions of full scale. The result lives until the next call.
    // Throws std::invalid_argument for settings out of range.
    const SweepResult& Analyse(const double* response, int stride, const double* reference,
                               const SweepAnalysisSettings& settings);

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};
