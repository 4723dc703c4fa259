#pragma once
// What the card captures across a known impedance: the generator drives Z and R_ref in series,
// X1 at the top, X2 across R_ref, so V2 = V1 R/(Z + R) exactly. Rounded to the
// capture's depth, 16 bits unless asked.

#include <complex>
#include <cstdint>
#include <vector>

struct ChainSignal {
    double freq_hz = 1000;
    std::complex<double> z_ohm;
    double r_ref_ohm = 100;
    double x1_amplitude = 0.5;        // peak, fractions of full scale
    double noise_dbfs = -400;         // RMS of Gaussian noise added to each channel
    std::complex<double> x1_gain = 1; // X1's own error against X2 (a channel mismatch)
    double phase = 0.3;               // radians at frame 0
    uint32_t seed = 1;
    int bits = 16; // the capture's depth
};

// Interleaved X1, X2 in fractions of full scale, frames [first, first + frames) of the tone.
std::vector<double> ChainBlock(const ChainSignal& s, int frames, int64_t first = 0);

// The complex impedance of R, L and C in series or parallel at freq_hz.
std::complex<double> SeriesRlc(double freq_hz, double r_ohm, double l_h, double c_f);
std::complex<double> Parallel(std::complex<double> a, std::complex<double> b);
