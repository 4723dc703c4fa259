#pragma once
// The complex amplitudes of X1 (the top of the source -> Z -> R_ref -> ground chain) and X2
// (across R_ref) at the test frequency over one block, and the raw Z = R_ref (V1/V2 - 1) they
// give, or why the block gives none. One detector per thread; Detect allocates nothing.

#include "analysis/common/tone_search.h"

#include <complex>
#include <optional>
#include <vector>

enum class ImpedanceRefusal {
    None,
    Clipped,    // two successive samples at full scale on X1 or X2
    NoTone,     // no test tone on X1 (or none found there, with an external generator)
    X2Silent,   // nothing across R_ref: an open circuit, or X2 not wired
    OutOfRange, // |Z| below R_ref / 1000 or above 1000 R_ref: the reading means nothing
};

// One line for the user, e.g. "X2 is silent: check the reference resistor's wiring".
const char* ImpedanceRefusalText(ImpedanceRefusal refusal);

// |Z| / R_ref beyond which the V1/V2 ratio is too near 1 (a short) or too large (an open) for
// the card's noise and channel mismatch to leave a figure: the error grows as R_ref / |Z| and
// |Z| / R_ref outside R_ref, so a thousandfold is already an error of a good part of itself.
inline constexpr double kImpedanceRangeRatio = 1000.0;
// Tone amplitudes (peak, fractions of full scale) below which a channel carries no tone.
inline constexpr double kLeastX1Amplitude = 1e-4; // -80 dBFS
inline constexpr double kLeastX2Amplitude = 1e-5; // -100 dBFS: 1000 R_ref at -40 dBFS on X1

struct ImpedanceDetection {
    ImpedanceRefusal refusal = ImpedanceRefusal::NoTone;
    double freq_hz = 0;      // the test frequency, or the one found on X1 (external)
    int frames = 0;          // the whole periods the amplitudes are taken over
    std::complex<double> v1; // peak amplitudes in fractions of full scale, phases at one instant
    std::complex<double> v2;
    std::complex<double> z_ohm; // R_ref (V1/V2 - 1), uncorrected; set unless refused earlier
    // The smallest change of V1/V2 the block resolves, along any one direction of the complex
    // plane (its real or its imaginary part): kResolutionSigmas standard errors of the ratio,
    // from what each channel's fit leaves over (noise, hum, quantisation, harmonics). Set with
    // z_ohm.
    double ratio_resolution = 0;
};

// How many standard errors a figure must stand above zero to be told from it: at three, noise
// alone passes once in 370 readings.
inline constexpr double kResolutionSigmas = 3.0;
// A least-squares amplitude's standard error along one axis, a fraction of full scale, from the
// residual's mean square over n samples: each of cos and sin carries sqrt(2 / n) of the
// residual's RMS; never less than rounding to `sampleBits` leaves (which a steady tone repeats).
double ToneAmplitudeError(double residual_mean_square, int n, int sampleBits = 16);

class CImpedanceDetector {
public:
    // maxFrames: the longest block Detect takes and the only length DetectExternal takes (even,
    // at least 4096). sampleBits: the capture's depth (16, 24, 32; float counts as 24), whose
    // rounding is the least error a reading can claim.
    CImpedanceDetector(int maxFrames, double sampleRateHz, int sampleBits = 16);

    // interleaved: frames stereo frames, X1 first, fractions of full scale. The tone is the
    // generator's own at freq_hz.
    ImpedanceDetection Detect(const double* interleaved, int frames, double freq_hz,
                              double r_ref_ohm);
    // An external generator: the frequency is found on X1's tone (to well below a millihertz
    // for a clean tone) and then as Detect. Takes maxFrames frames.
    ImpedanceDetection DetectExternal(const double* interleaved, double r_ref_ohm);

private:
    int m_maxFrames;
    double m_sampleRateHz;
    int m_sampleBits;
    std::vector<double> m_x1;
    std::vector<double> m_x2;
    CToneSearch m_search;
};
