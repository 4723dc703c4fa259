#pragma once
// Frequency response and harmonic distortion from one synchronized sweep (sweep_signal.h): the
// capture is deconvolved to an impulse response, whose linear part gives magnitude, phase and
// group delay and whose harmonic parts, L ln N early, give H2..H9 and THD against the exciting
// frequency. A gate, when given, cuts the linear response to a time window around its peak, so
// a reflection arriving after the window's end is left out of the response above 1 / its length. A
// reference channel, when given, divides the response so the card's own response and latency
// cancel.
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
    // The gate: a window on the linear impulse response from gate_left_ms before its peak to
    // gate_right_ms after it, rising as half a Hann window over the left part and falling as a
    // Tukey window's last quarter over the right. Both 0: no gate (the whole linear window).
    // Each 0..kSweepGateMostMs; a gate wider than the linear window is that window.
    double gate_left_ms = 0;
    double gate_right_ms = 0;
};

inline constexpr double kSweepGateMostMs = 5000;

enum class SweepRefusal {
    None,
    Clipped,  // a sample at full scale: the response would be the clipping's
    NoSignal, // nothing of the sweep came back (or, with a reference, on the reference)
};

inline constexpr int kSweepHighestHarmonic = 9;
// The harmonics the files have always summed in thd_db.
inline constexpr int kSweepClassicHarmonic = 5;

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
    std::vector<double> h6_db, h7_db, h8_db, h9_db;
    std::vector<double> thd9_db; // H2..H9 together, against the fundamental
    // With a gate: the lowest frequency the gated response holds, 1 / the gate's length (below
    // it the window, not the device, shapes the response); 0 without one.
    double gate_lowest_hz = 0;
    // The linear response as deconvolved, over the window its spectrum is taken from (the
    // harmonics' responses lie outside it), scaled so that a straight wire peaks at 1. The
    // channel's own against the sweep, with a reference too.
    std::vector<float> impulse;
    int impulse_peak = 0; // the index of its largest sample
    // The gate's first and last sample in impulse (with no gate, the whole of it).
    int gate_first = 0, gate_last = 0;
};

// Harmonic order's (2..kSweepHighestHarmonic) points in the result.
std::vector<double>& HarmonicDb(SweepResult& result, int order);
const std::vector<double>& HarmonicDb(const SweepResult& result, int order);

// The gate's weight at i samples from the peak (left: the samples before it, right: after).
double GateWeight(int i, int left, int right);

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
