#pragma once
// The analysers' window and the exact spectrum of a windowed sinusoid.
//
// The window is the 7-term Blackman-Harris (highest sidelobe -180 dB): a line 0 dB above a floor
// leaves nothing of itself more than a few bins away, where a 4-term window's -92 dB sidelobes
// would sit above a 16-bit floor. Periodic form, w[n] = sum_m (-1)^m a_m cos(2 pi m n / N), so
// its transform is a sum of shifted Dirichlet kernels and a sinusoid's windowed spectrum has a
// closed form at any frequency: that is what lets a fitted tone be taken out of a spectrum bin by
// bin, exactly, instead of transforming the block again without it.

#include <complex>
#include <vector>

inline constexpr int kWindowTerms = 7;
// Half the main lobe in bins: beyond it the window's response is below -180 dB.
inline constexpr int kWindowMainLobeBins = kWindowTerms;

// The window of n samples and the sums a spectrum's scale needs.
struct SpectralWindow {
    std::vector<double> w;
    double sum = 0; // coherent gain x n: a sine of amplitude A centred on a bin reads A sum / 2
    double sumSquares =
        0; // power gain x n: noise of mean square P sums to P n sumSquares over bins
};

SpectralWindow MakeBlackmanHarris7(int n);

// A sinusoid of n samples in centred time t = k - (n - 1) / 2:
//     a cos(2 pi nu t / n) + b sin(2 pi nu t / n),  nu in bins (any real, need not be whole).
// Subtracts its windowed transform from spectrum[kFrom..kTo] (bins of an n-point r2c transform
// of the windowed block, scaled as FFTW leaves them). A constant is nu = 0, b = 0.
void SubtractWindowedTone(std::complex<double>* spectrum, int n, double nu, double a, double b,
                          int kFrom, int kTo);
