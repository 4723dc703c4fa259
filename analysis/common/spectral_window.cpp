#include "analysis/common/spectral_window.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

// 7-term Blackman-Harris coefficients (sidelobes below -180 dB).
constexpr double kA[kWindowTerms] = {0.27105140069342, 0.43329793923448, 0.21812299954311,
                                     0.06592544638803, 0.01081174209837, 0.00077658482522,
                                     0.00001388721735};

// Coefficient of e^(2 pi i m k / n) in the window, m = -6..6.
double B(int m) {
    const int a = m < 0 ? -m : m;
    if (a >= kWindowTerms) {
        return 0;
    }
    const double sign = a % 2 == 0 ? 1.0 : -1.0;
    return a == 0 ? kA[0] : sign * 0.5 * kA[a];
}

// Adds c times the windowed transform of e^(i 2 pi nu t / n), t centred, to spectrum[kFrom..kTo].
// Bin k of it is
//     (-1)^j sin(pi f) sum_m B(m) e^(i pi (k - m) / n) / sin(pi (nu - k + m) / n),
// nu = j + f with j whole and |f| <= 1/2: the sum over m of B(m) times the Dirichlet kernel
// sum_k e^(i 2 pi u k / n) = e^(i pi u (n-1)/n) sin(pi u) / sin(pi u / n) at u = nu - k + m, with
// the centring's phase folded in. Splitting nu keeps sin(pi f) exact near whole bins, where
// sin(pi nu) of a large argument would lose it; on a whole bin (f = 0) the kernel is n where
// u is a multiple of n and 0 elsewhere. Neighbouring bins share all but one of their sines, so
// each is computed once.
void AddWindowedExponential(std::complex<double>* spectrum, int n, double nu,
                            std::complex<double> c, int kFrom, int kTo) {
    constexpr int kSpan = kWindowTerms - 1; // m = -kSpan..kSpan
    const double j = std::nearbyint(nu);
    const double f = nu - j;
    const int whole = int(j);
    const double parity = std::fmod(j, 2.0) == 0 ? 1.0 : -1.0;
    if (f == 0) {
        const std::complex<double> scale =
            c * parity * double(n) * std::polar(1.0, std::numbers::pi * j / n);
        for (int m = -kSpan; m <= kSpan; ++m) {
            const int k = ((whole + m) % n + n) % n;
            if (k >= kFrom && k <= kTo) {
                spectrum[k] += scale * B(m);
            }
        }
        return;
    }
    std::complex<double> shifted[2 * kSpan + 1]; // B(m) e^(-i pi m / n)
    for (int m = -kSpan; m <= kSpan; ++m) {
        shifted[m + kSpan] = B(m) * std::polar(1.0, -std::numbers::pi * m / n);
    }
    const std::complex<double> scale = c * parity * std::sin(std::numbers::pi * f);
    constexpr int kChunk = 64;
    double inverseSines[kChunk + 2 * kSpan];
    for (int first = kFrom; first <= kTo; first += kChunk) {
        const int last = std::min(kTo, first + kChunk - 1);
        // q = whole - k + m runs from lowest to lowest + (last - first) + 2 kSpan.
        const int lowest = whole - last - kSpan;
        for (int i = 0; i <= last - first + 2 * kSpan; ++i) {
            inverseSines[i] = 1 / std::sin(std::numbers::pi * (f + double(lowest + i)) / n);
        }
        for (int k = first; k <= last; ++k) {
            const double* sines = inverseSines + (whole - k - lowest);
            std::complex<double> sum = 0;
            for (int m = -kSpan; m <= kSpan; ++m) {
                sum += shifted[m + kSpan] * sines[m];
            }
            spectrum[k] += scale * std::polar(1.0, std::numbers::pi * k / n) * sum;
        }
    }
}

} // namespace

SpectralWindow MakeBlackmanHarris7(int n) {
    SpectralWindow window;
    window.w.resize(size_t(n));
    for (int k = 0; k < n; ++k) {
        double v = 0;
        for (int m = kWindowTerms - 1; m >= 0; --m) {
            const double sign = m % 2 == 0 ? 1.0 : -1.0;
            v += sign * kA[m] * std::cos(2 * std::numbers::pi * double(m) * k / n);
        }
        window.w[size_t(k)] = v;
        window.sum += v;
        window.sumSquares += v * v;
    }
    return window;
}

// a cos + b sin = Re((a - i b) e^(i w t)) = c e^(i w t) / 2 + conj(c) e^(-i w t) / 2.
void SubtractWindowedTone(std::complex<double>* spectrum, int n, double nu, double a, double b,
                          int kFrom, int kTo) {
    const std::complex<double> half(0.5 * a, -0.5 * b);
    AddWindowedExponential(spectrum, n, nu, -half, kFrom, kTo);
    AddWindowedExponential(spectrum, n, -nu, -std::conj(half), kFrom, kTo);
}
