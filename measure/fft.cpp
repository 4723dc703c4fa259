#include "measure/fft.h"

#include <cmath>
#include <cstdint>
#include <numbers>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// Every value the transform keeps is a float; a formula may be evaluated in double, but its result
// is rounded to float where it is stored. Readings that sit on a bin boundary depend on where those
// roundings happen, so they are spelled out below rather than left to the compiler.

namespace {
constexpr double kLog2E = 1.4426950408889634;

constexpr double kPeakFloor = 10.0; // a bin must beat this to be chosen
constexpr double kSpectrumScale = 0.005;

// Samples x[2j], x[2j+1] go to element j's re and im; the element after them receives the
// Nyquist bin.
void PackReal(const float* x, int n, ComplexF* z) {
    for (int j = 0; j < n / 2; ++j) {
        z[j].re = x[2 * j];
        z[j].im = x[2 * j + 1];
    }
}

// The forward twiddles and the untangling sines, evaluated once with exactly the expressions the
// transforms would evaluate themselves. Angles scale by powers of two between sizes, which
// is exact in binary floating point, so the entries of the largest size serve every smaller
// one bit for bit. Two transforms per buffer each need about a thousand of them; evaluating
// them afresh was most of the transform's cost.
// Largest butterfly span of the largest complex transform (512 of 1024 points).
constexpr int kTableSpan = kPeakSamples / 4;
constexpr int kTableRealSize = kPeakSamples; // largest real transform
struct TwiddleTables {
    ComplexF forward[kTableSpan];       // span kTableSpan, j0 = 0 .. span - 1
    float sine[kTableRealSize / 4 + 1]; // k = 0 .. N / 4 for N = kTableRealSize
    float cosine[kTableRealSize / 4 + 1];
    // i with its bits reversed over the largest complex size; a smaller size n reads entry i
    // (i < n) divided by the ratio of the sizes, since i's unused top bits reverse into zeros.
    int16_t reversed[2 * kTableSpan];
};

// The index order of the butterflies: j walks through the bit-reversed values of i.
template <typename Visit> void WalkBitReversal(int n, Visit visit) {
    int j = 0;
    for (int i = 1; i < n; ++i) {
        int k = n / 2;
        while (k + j >= n) {
            k /= 2;
        }
        j = (j % k) + k;
        visit(i, j);
    }
}

ComplexF Twiddle(float signPi, int j0, int span) {
    ComplexF w;
    CFftCalc::CExp(w, ComplexF{0.0f, float(double(signPi) * j0 / span)});
    return w;
}

const TwiddleTables& Tables() {
    static const TwiddleTables tables = [] {
        TwiddleTables t{};
        const float minusPi = float(-std::numbers::pi);
        for (int j0 = 0; j0 < kTableSpan; ++j0) {
            t.forward[j0] = Twiddle(minusPi, j0, kTableSpan);
        }
        WalkBitReversal(2 * kTableSpan, [&t](int i, int j) { t.reversed[i] = int16_t(j); });
        const float theta = float(2 * std::numbers::pi / kTableRealSize);
        for (int k = 0; k <= kTableRealSize / 4; ++k) {
            t.sine[k] = float(std::sin(k * double(theta)));
            t.cosine[k] = float(std::cos(k * double(theta)));
        }
        return t;
    }();
    return tables;
}

// lo, hi = lo + w hi, lo - w hi; the product in double, rounded to float once per part.
#if defined(__SSE2__)
// Both parts at once in SSE2 lanes, operation for operation what the portable form below does:
// wr hr + (-wi) hi is wr hr - wi hi exactly, and each lane rounds as a scalar would. The
// transform is most of the per-buffer work of the tone estimator and the frequency meter.
// Each element moves as one 64-bit lane; __m128i pointers may alias the floats.
__m128 LoadPair(const ComplexF& v) {
    return _mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(&v)));
}

void StorePair(ComplexF& v, __m128 pair) {
    _mm_storel_epi64(reinterpret_cast<__m128i*>(&v), _mm_castps_si128(pair));
}

inline void Butterfly(ComplexF& lo, ComplexF& hi, const ComplexF& w) {
    const __m128d h = _mm_cvtps_pd(LoadPair(hi));
    const __m128d swapped = _mm_shuffle_pd(h, h, 1);
    const __m128d product = _mm_add_pd(_mm_mul_pd(h, _mm_set1_pd(w.re)),
                                       _mm_mul_pd(swapped, _mm_set_pd(w.im, -double(w.im))));
    const __m128 t = _mm_cvtpd_ps(product);
    const __m128 l = LoadPair(lo);
    StorePair(hi, _mm_sub_ps(l, t));
    StorePair(lo, _mm_add_ps(l, t));
}
#else
inline void Butterfly(ComplexF& lo, ComplexF& hi, const ComplexF& w) {
    const double wr = w.re;
    const double wi = w.im;
    const float tr = float(wr * hi.re - wi * hi.im);
    const float ti = float(wr * hi.im + wi * hi.re);
    hi.re = lo.re - tr;
    hi.im = lo.im - ti;
    lo.re = lo.re + tr;
    lo.im = lo.im + ti;
}
#endif

double Magnitude(const ComplexF& v) {
    const double re = v.re;
    const double im = v.im;
    return std::sqrt(re * re + im * im);
}

} // namespace

void CFftCalc::Conj(ComplexF& dst, const ComplexF& src) {
    dst.re = src.re;
    dst.im = -src.im;
}

void CFftCalc::CExp(ComplexF& dst, const ComplexF& src) {
    const double scale = std::exp2(double(src.re) * kLog2E);
    const double angle = src.im;
    // Read everything from src before writing: dst and src may be the same element.
    const float re = float(scale * std::cos(angle));
    const float im = float(scale * std::sin(angle));
    dst.re = re;
    dst.im = im;
}

void CFftCalc::ComplexFft(ComplexF* z, int n, int sign) {
    const auto swapPair = [z](int i, int j) {
        if (i < j) {
            std::swap(z[i], z[j]);
        }
    };
    if (n <= 2 * kTableSpan) {
        const int16_t* const reversed = Tables().reversed;
        const int ratio = 2 * kTableSpan / n;
        for (int i = 1; i < n; ++i) {
            swapPair(i, reversed[i] / ratio);
        }
    } else {
        WalkBitReversal(n, swapPair);
    }

    const float signPi = float(sign * std::numbers::pi);
    const bool tabled = sign == -1 && n <= 2 * kTableSpan;
    // Fetched once per transform: the guard check behind the call, made per column, cost about
    // a fifth as much as the butterflies themselves.
    const ComplexF* const forward = Tables().forward;
    for (int span = 1; span < n; span *= 2) {
        for (int j0 = 0; j0 < span; ++j0) {
            // The twiddle depends only on (span, j0), so one value serves every butterfly of
            // the column; it is the same value each butterfly would compute itself.
            const ComplexF w =
                tabled ? forward[j0 * (kTableSpan / span)] : Twiddle(signPi, j0, span);
            for (int k = j0; k < n; k += 2 * span) {
                Butterfly(z[k], z[k + span], w);
            }
        }
    }
}

void CFftCalc::RealFft(ComplexF* z, int n) {
    const int m = n / 2;
    const float theta = float(2 * std::numbers::pi / n);

    ComplexFft(z, m, -1);
    z[m] = z[0];

    // Untangle the half-length transform: bins k and m - k are built from the same pair.
    const bool tabled = n >= 4 && n <= kTableRealSize && kTableRealSize % n == 0;
    const int step = tabled ? kTableRealSize / n : 0;
    const TwiddleTables& tables = Tables();
    for (int k = 0; k <= n / 4; ++k) {
        const double s = tabled ? tables.sine[k * step] : float(std::sin(k * double(theta)));
        const double c = tabled ? tables.cosine[k * step] : float(std::cos(k * double(theta)));
        const ComplexF a = z[k];
        ComplexF b;
        Conj(b, z[m - k]);

        const ComplexF y{float(0.5 * ((1 - s) * a.re + c * a.im + (1 + s) * b.re - c * b.im)),
                         float(0.5 * ((1 - s) * a.im - c * a.re + (1 + s) * b.im + c * b.re))};
        const ComplexF x{float(0.5 * ((1 + s) * a.re - c * a.im + (1 - s) * b.re + c * b.im)),
                         float(0.5 * ((1 + s) * a.im + c * a.re + (1 - s) * b.im - c * b.re))};

        // At k = n/4 both land on the same element and the second write is the one that stays.
        z[k] = y;
        Conj(z[m - k], x);
    }
}

int CFftCalc::PeakBin(const float* x2048) {
    ComplexF z[kPeakSamples / 2 + 1];
    PackReal(x2048, kPeakSamples, z);
    RealFft(z, kPeakSamples);

    // Strictly greater: among equal bins the lowest wins, and nothing at or below the floor counts.
    double strongest = kPeakFloor;
    int index = 0;
    for (int k = 0; k < kPeakSamples / 2; ++k) {
        const double magnitude = Magnitude(z[k]);
        if (strongest < magnitude) {
            strongest = magnitude;
            index = k;
        }
    }
    return index;
}

void CFftCalc::SpectrumMagnitudes(const float* x1024, float* out512) {
    ComplexF z[kSpectrumSamples / 2 + 1];
    PackReal(x1024, kSpectrumSamples, z);
    RealFft(z, kSpectrumSamples);
    for (int k = 0; k < kSpectrumSamples / 2; ++k) {
        out512[k] = float(Magnitude(z[k]) * kSpectrumScale);
    }
}
