#pragma once
// The program's own radix-2 FFT on 32-bit floats: no window, no normalisation, no allocation.

#include "base/pcm_format.h"

// The frequency meter transforms a whole block; a spectrum view transforms its first half and
// shows half as many bins.
inline constexpr int kPeakSamples = kBlockFrames;          // 2048
inline constexpr int kSpectrumSamples = kBlockFrames / 2;  // 1024
inline constexpr int kSpectrumBins = kSpectrumSamples / 2; // 512

struct ComplexF {
    float re;
    float im;
};

// Stateless and callable from any thread; make one on the stack per use. Sizes are powers of two.
class CFftCalc {
public:
    virtual ~CFftCalc() = default;

    // Index 0..1023 of the strongest bin of 2048 samples (0 when none exceeds 10.0).
    int PeakBin(const float* x2048);
    // out[0..511] = |bin k| x 0.005 of a 1024-point real transform of x1024.
    void SpectrumMagnitudes(const float* x1024, float* out512);
    // In-place forward transform of n real samples packed in n/2 + 1 elements.
    void RealFft(ComplexF* z, int n);
    // In-place radix-2 transform of n elements, exponent sign `sign`, unscaled.
    void ComplexFft(ComplexF* z, int n, int sign);
    static void Conj(ComplexF& dst, const ComplexF& src);
    static void CExp(ComplexF& dst, const ComplexF& src);
};
