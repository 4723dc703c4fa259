#pragma once
// A memoryless curve as an analogue stage before an ideal converter, for the sweep's harmonics:
// their oracle is the curve's own algebra, at any rate.

#include "fft/real_fft.h"

#include <algorithm>
#include <complex>
#include <vector>

// y = curve(x) as an analogue stage before an ideal converter: worked out at four times the rate
// (exact band-limited upsampling), then everything above Nyquist removed, so the harmonics above
// it vanish as a card's anti-alias filter removes them instead of folding back.
template <typename Curve>
std::vector<double> MemorylessStage(const std::vector<double>& x, Curve curve) {
    const int n = int(x.size());
    const int wide = 4 * n;
    CRealFft forward(n);
    std::copy(x.begin(), x.end(), forward.Input());
    forward.Execute();
    CInverseRealFft up(wide);
    std::fill(up.Input(), up.Input() + wide / 2 + 1, std::complex<double>{});
    for (int k = 0; k < n / 2; ++k) {
        up.Input()[k] = forward.Output()[k] / double(n);
    }
    up.Execute();
    CRealFft wideForward(wide);
    for (int i = 0; i < wide; ++i) {
        const double v = up.Output()[i];
        wideForward.Input()[i] = curve(v);
    }
    wideForward.Execute();
    CInverseRealFft down(n);
    for (int k = 0; k <= n / 2; ++k) {
        down.Input()[k] =
            k < n / 2 ? wideForward.Output()[k] / double(wide) : std::complex<double>{};
    }
    down.Execute();
    return std::vector<double>(down.Output(), down.Output() + n);
}

inline std::vector<double> PolynomialStage(const std::vector<double>& x, double a2, double a3) {
    return MemorylessStage(x, [=](double v) { return v + a2 * v * v + a3 * v * v * v; });
}
