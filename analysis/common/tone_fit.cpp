#include "analysis/common/tone_fit.h"

#include <cmath>

// The fit. With t centred the cosine and sine columns are orthogonal (their products are odd in
// t), so the normal equations split into a constant-and-cosines system and a sines system, whose
// matrices have closed forms in the Dirichlet kernel D(theta) = sum_t cos(theta t). The data
// enter only through their correlations with e^(-i w t) at each frequency, which one pass of
// Goertzel resonators gives; the frequency steps need sum_t t x e^(-i w t) too, from resonators fed
// t x, and the fitted model's own such sums, which have closed forms in E(theta) = sum_t t
// sin(theta t).
//
// The step for tone i is the Gauss-Newton one with the curvature taken as the tone's alone,
// (a^2 + b^2) / 2 x sum t^2: exact for a tone far from the others, a few per cent off for tones a
// few bins apart, where repeated steps still converge.

namespace {

constexpr int kMaxColumns = kMaxFitTones + 1;

// Two resonators a lane: the pass is bound by their arithmetic, and pairs keep the baseline
// instruction set's vector unit busy.
typedef double Pair __attribute__((vector_size(16)));
constexpr int kMaxPairs = kMaxFitTones / 2;

// sum over centred t of cos(theta t), n terms.
double Dirichlet(int n, double theta) {
    const double half = std::sin(0.5 * theta);
    if (half == 0) {
        return n; // theta = 0: only differences of a tone with itself come here
    }
    return std::sin(0.5 * n * theta) / half;
}

// sum over centred t of t sin(theta t) = -dD/dtheta.
double TimesSine(int n, double theta) {
    const double half = std::sin(0.5 * theta);
    if (half == 0) {
        return 0;
    }
    const double numerator = 0.5 * n * std::cos(0.5 * n * theta) * half -
                             0.5 * std::sin(0.5 * n * theta) * std::cos(0.5 * theta);
    return -numerator / (half * half);
}

// Resonator states after a pass: xs for x at each tone, ts for t x at the refined ones.
struct Resonators {
    double s1[kMaxFitTones + kMaxRefinedTones];
    double s2[kMaxFitTones + kMaxRefinedTones];
    double sum; // of x
};

// s_k = in_k + 2 cos(w) s_(k-1) - s_(k-2); Pairs pairs of x resonators, then one pair fed t x.
template <int Pairs>
void Resonate(const double* x, int n, const double* coefficient, Resonators& r) {
    Pair c[Pairs + 1];
    Pair s1[Pairs + 1] = {};
    Pair s2[Pairs + 1] = {};
    for (int p = 0; p <= Pairs; ++p) {
        c[p] = Pair{coefficient[2 * p], coefficient[2 * p + 1]};
    }
    const double t0 = -0.5 * (n - 1);
    double sum = 0;
    for (int k = 0; k < n; ++k) {
        const double v = x[k];
        sum += v;
        for (int p = 0; p < Pairs; ++p) {
            const Pair s0 = v + c[p] * s1[p] - s2[p];
            s2[p] = s1[p];
            s1[p] = s0;
        }
        const double tv = (t0 + k) * v;
        const Pair s0 = tv + c[Pairs] * s1[Pairs] - s2[Pairs];
        s2[Pairs] = s1[Pairs];
        s1[Pairs] = s0;
    }
    for (int p = 0; p <= Pairs; ++p) {
        for (int lane = 0; lane < 2; ++lane) {
            r.s1[2 * p + lane] = s1[p][lane];
            r.s2[2 * p + lane] = s2[p][lane];
        }
    }
    r.sum = sum;
}

// sum_k in_k e^(-i w t_k), t centred, from a resonator's last two states.
std::complex<double> Correlation(double s1, double s2, double w, int n) {
    const std::complex<double> y = s1 - std::complex<double>(std::cos(w), -std::sin(w)) * s2;
    const double centre = -0.5 * w * (n - 1);
    return std::complex<double>(std::cos(centre), std::sin(centre)) * y;
}

// Solves the symmetric positive definite size x size system a y = r in place (r becomes y) by
// Cholesky. False when a is not positive definite to working precision.
bool SolveSpd(double (&a)[kMaxColumns][kMaxColumns], int size, double* r) {
    for (int j = 0; j < size; ++j) {
        double d = a[j][j];
        for (int k = 0; k < j; ++k) {
            d -= a[j][k] * a[j][k];
        }
        if (!(d > 1e-12 * a[j][j])) {
            return false;
        }
        a[j][j] = std::sqrt(d);
        for (int i = j + 1; i < size; ++i) {
            double v = a[i][j];
            for (int k = 0; k < j; ++k) {
                v -= a[i][k] * a[j][k];
            }
            a[i][j] = v / a[j][j];
        }
    }
    for (int i = 0; i < size; ++i) {
        for (int k = 0; k < i; ++k) {
            r[i] -= a[i][k] * r[k];
        }
        r[i] /= a[i][i];
    }
    for (int i = size - 1; i >= 0; --i) {
        for (int k = i + 1; k < size; ++k) {
            r[i] -= a[k][i] * r[k];
        }
        r[i] /= a[i][i];
    }
    return true;
}

using PassFunction = void (*)(const double*, int, const double*, Resonators&);
constexpr PassFunction kPasses[kMaxPairs] = {Resonate<1>, Resonate<2>, Resonate<3>,
                                             Resonate<4>, Resonate<5>, Resonate<6>};

} // namespace

double ToneAmplitude::Amplitude() const {
    return std::hypot(a, b);
}

std::optional<double> StrongestLineBin(const std::complex<double>* spectrum, int bins, int kFrom,
                                       int kTo) {
    if (kFrom < 0) {
        kFrom = 0;
    }
    if (kTo > bins - 1) {
        kTo = bins - 1;
    }
    int peak = -1;
    double peakPower = 0;
    for (int k = kFrom; k <= kTo; ++k) {
        const double p = std::norm(spectrum[k]);
        if (p > peakPower) {
            peakPower = p;
            peak = k;
        }
    }
    if (peak < 0) {
        return std::nullopt;
    }
    if (peak == 0 || peak == bins - 1) {
        return double(peak);
    }
    const double below = std::norm(spectrum[peak - 1]);
    const double above = std::norm(spectrum[peak + 1]);
    if (!(below > 0 && above > 0)) {
        return double(peak);
    }
    const double l = std::log(below);
    const double c = std::log(peakPower);
    const double r = std::log(above);
    const double curvature = l - 2 * c + r;
    const double offset = curvature < 0 ? 0.5 * (l - r) / curvature : 0.0;
    return peak + std::fmax(-0.5, std::fmin(0.5, offset));
}

bool FitTonesAt(const double* x, int n, const double* radiansPerSample, int count, int refined,
                ToneFit& fit) {
    if (count < 1 || count > kMaxFitTones || refined < 0 || refined > kMaxRefinedTones ||
        refined > count) {
        return false;
    }
    const double* w = radiansPerSample;
    // Resonators 0..count-1 (padded to a pair) take x; the last pair takes t x.
    const int pairs = (count + 1) / 2;
    double coefficient[kMaxFitTones + kMaxRefinedTones] = {};
    for (int i = 0; i < count; ++i) {
        coefficient[i] = 2 * std::cos(w[i]);
    }
    for (int i = 0; i < refined; ++i) {
        coefficient[2 * pairs + i] = 2 * std::cos(w[i]);
    }
    Resonators r;
    kPasses[pairs - 1](x, n, coefficient, r);

    double cosRhs[kMaxColumns];
    double sinRhs[kMaxColumns];
    cosRhs[0] = r.sum;
    for (int i = 0; i < count; ++i) {
        const std::complex<double> c = Correlation(r.s1[i], r.s2[i], w[i], n);
        cosRhs[i + 1] = c.real();
        sinRhs[i] = -c.imag();
    }
    // sum cos(a t) cos(b t) = (D(a - b) + D(a + b)) / 2, sum sin sin = (D(a - b) - D(a + b)) / 2,
    // sum cos(a t) = D(a).
    double cosGram[kMaxColumns][kMaxColumns];
    double sinGram[kMaxColumns][kMaxColumns];
    cosGram[0][0] = n;
    for (int i = 0; i < count; ++i) {
        cosGram[i + 1][0] = cosGram[0][i + 1] = Dirichlet(n, w[i]);
        for (int j = 0; j <= i; ++j) {
            const double difference = Dirichlet(n, w[i] - w[j]);
            const double sum = Dirichlet(n, w[i] + w[j]);
            cosGram[i + 1][j + 1] = cosGram[j + 1][i + 1] = 0.5 * (difference + sum);
            sinGram[i][j] = sinGram[j][i] = 0.5 * (difference - sum);
        }
    }
    if (!SolveSpd(cosGram, count + 1, cosRhs) || !SolveSpd(sinGram, count, sinRhs)) {
        return false;
    }
    fit.constant = cosRhs[0];
    for (int i = 0; i < count; ++i) {
        fit.tones[i] = {cosRhs[i + 1], sinRhs[i]};
    }

    // Steps: the residual's sums against t cos(w_i t) and t sin(w_i t) are the data's less the
    // model's; of the model, only sine terms meet t cos and only the constant and cosine terms
    // meet t sin (the rest are odd in t).
    const double sumT2 = double(n) * (double(n) * n - 1) / 12;
    for (int i = 0; i < refined; ++i) {
        const std::complex<double> data =
            Correlation(r.s1[2 * pairs + i], r.s2[2 * pairs + i], w[i], n);
        double modelCos = 0;
        double modelSin = fit.constant * TimesSine(n, w[i]);
        for (int k = 0; k < count; ++k) {
            const double plus = TimesSine(n, w[k] + w[i]);
            modelCos += fit.tones[k].b * 0.5 * (plus + TimesSine(n, w[k] - w[i]));
            modelSin += fit.tones[k].a * 0.5 * (plus + TimesSine(n, w[i] - w[k]));
        }
        const double tCos = data.real() - modelCos;
        const double tSin = -data.imag() - modelSin;
        const ToneAmplitude& tone = fit.tones[i];
        const double curvature = 0.5 * (tone.a * tone.a + tone.b * tone.b) * sumT2;
        fit.step[i] = curvature > 0 ? -(tone.a * tSin - tone.b * tCos) / curvature : 0.0;
    }
    return true;
}
