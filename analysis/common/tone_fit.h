#pragma once
// Sinusoids at known frequencies in one block: where the strongest one is in a spectrum, and the
// least-squares amplitudes of several at once with Gauss-Newton steps for the frequencies of some.
// Plain functions over plain data; any thread; no allocation.

#include <complex>
#include <optional>

// At most this many sinusoids in one joint fit (the fundamental and nine harmonics; two tones and
// six products), of which at most kMaxRefinedTones get a frequency step.
inline constexpr int kMaxFitTones = 12;
inline constexpr int kMaxRefinedTones = 2;

// One sinusoid of the fit in centred time t = k - (n - 1) / 2: a cos(w t) + b sin(w t).
struct ToneAmplitude {
    double a = 0;
    double b = 0;
    double Amplitude() const;
};

struct ToneFit {
    double constant = 0;
    ToneAmplitude tones[kMaxFitTones];
    // For each refined tone, the Gauss-Newton step of its frequency in radians per sample that
    // lowers the residual with every amplitude free and the other frequencies held.
    double step[kMaxRefinedTones] = {};
};

// Where the strongest line of a windowed spectrum lies between bins kFrom and kTo (inclusive), in
// bins with a fraction: the largest bin's power and its neighbours' through a parabola in log
// power, which the window's main lobe follows closely near its top. Nothing when the range is
// empty or silent.
std::optional<double> StrongestLineBin(const std::complex<double>* spectrum, int bins, int kFrom,
                                       int kTo);

// The least-squares constant plus sinusoids at radiansPerSample[0..count) (distinct, each between
// about a bin and about a bin short of pi) over x[0..n), and frequency steps for the first
// `refined` of them. False when the frequencies are too close for the block to tell apart.
bool FitTonesAt(const double* x, int n, const double* radiansPerSample, int count, int refined,
                ToneFit& fit);
