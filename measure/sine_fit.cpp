#include "measure/sine_fit.h"

#include "base/pcm_format.h"

#include <cmath>
#include <numbers>

// Model: x(t) = a cos(w t) + b sin(w t) + c, t counted from the middle of the block, w in radians
// per sample. For a given w the best a, b, c are a linear least-squares problem; w itself is found
// by Gauss-Newton on the joint problem. On a clean tone the residual is only quantisation, so the
// steps converge quadratically, and the estimate is the maximum-likelihood one for white noise:
// its error sits at the Cramer-Rao bound (about 0.01 Hz for a -40 dBFS tone in -60 dBFS noise over
// 4096 frames). The constant term keeps tones of under two cycles per block (20 Hz) unbiased,
// where a windowed transform peak would be pulled by the DC bin and by the tone's own mirror
// image at -w.
//
// Cost: with t centred, every sum the normal equations need except four correlations with the data
// has a closed form in the Dirichlet kernel and its derivatives, so one step is one pass of four
// multiply-adds per sample behind a complex oscillator.

namespace {
constexpr double kLowestHertz = 10.0;
constexpr double kHighestShareOfRate = 22000.0 / kSampleRate;
// Convergence is quadratic on a clean tone, so once a step is this small the next would be far
// below any figure a reading shows.
constexpr double kSettledHertz = 1e-4;
constexpr int kLanes = 4; // independent oscillators, so the rotations do not wait on each other

double HertzToRadians(double hertz, double sampleRateHz) {
    return 2 * std::numbers::pi * hertz / sampleRateHz;
}

double RadiansToHertz(double w, double sampleRateHz) {
    return w * sampleRateHz / (2 * std::numbers::pi);
}

// Sums over the block of x cos(w t), x sin(w t), t x cos(w t) and t x sin(w t).
struct Correlations {
    double xc = 0;
    double xs = 0;
    double txc = 0;
    double txs = 0;
};

Correlations Correlate(std::span<const double> x, double w) {
    const int n = int(x.size());
    const double t0 = -0.5 * (n - 1);
    double c[kLanes];
    double s[kLanes];
    double xc[kLanes] = {};
    double xs[kLanes] = {};
    double txc[kLanes] = {};
    double txs[kLanes] = {};
    for (int l = 0; l < kLanes; ++l) {
        c[l] = std::cos(w * (t0 + l));
        s[l] = std::sin(w * (t0 + l));
    }
    const double rc = std::cos(kLanes * w);
    const double rs = std::sin(kLanes * w);
    int k = 0;
    for (; k + kLanes <= n; k += kLanes) {
        for (int l = 0; l < kLanes; ++l) {
            const double v = x[k + l];
            const double tv = (t0 + k + l) * v;
            xc[l] += v * c[l];
            xs[l] += v * s[l];
            txc[l] += tv * c[l];
            txs[l] += tv * s[l];
            const double cNext = c[l] * rc - s[l] * rs;
            s[l] = s[l] * rc + c[l] * rs;
            c[l] = cNext;
        }
    }
    Correlations sum;
    for (; k < n; ++k) {
        const double t = t0 + k;
        sum.xc += x[k] * std::cos(w * t);
        sum.xs += x[k] * std::sin(w * t);
        sum.txc += t * x[k] * std::cos(w * t);
        sum.txs += t * x[k] * std::sin(w * t);
    }
    for (int l = 0; l < kLanes; ++l) {
        sum.xc += xc[l];
        sum.xs += xs[l];
        sum.txc += txc[l];
        sum.txs += txs[l];
    }
    return sum;
}

// D(theta) = sum over the centred t of cos(theta t) = sin(n theta / 2) / sin(theta / 2), with its
// first and second derivatives in theta. Valid for 0 < theta < 2 pi.
struct Kernel {
    double d0;
    double d1;
    double d2;
};

Kernel Dirichlet(int n, double theta) {
    const double u = 0.5 * n * theta;
    const double f = std::sin(u);
    const double f1 = 0.5 * n * std::cos(u);
    const double f2 = -0.25 * double(n) * n * f;
    const double g = std::sin(0.5 * theta);
    const double g1 = 0.5 * std::cos(0.5 * theta);
    const double g2 = -0.25 * g;
    Kernel k;
    k.d0 = f / g;
    k.d1 = (f1 * g - f * g1) / (g * g);
    k.d2 = (f2 * g - f * g2) / (g * g) - 2 * g1 * k.d1 / g;
    return k;
}

struct Vec3 {
    double a; // cosine
    double b; // sine
    double c; // constant
};

double Dot(const Vec3& u, const Vec3& v) {
    return u.a * v.a + u.b * v.b + u.c * v.c;
}

// The normal equations of the linear part at one w: with t centred, the sine column is orthogonal
// to the other two, so the 3 x 3 system splits into 1 + 2.
struct LinearGram {
    double cc; // sum cos^2
    double ss; // sum sin^2
    double c1; // sum cos
    double n;  // sum 1

    Vec3 Solve(const Vec3& r) const {
        const double det = cc * n - c1 * c1;
        return {(r.a * n - c1 * r.c) / det, r.b / ss, (cc * r.c - c1 * r.a) / det};
    }
};

// One pass at w: the linear fit there and the Gauss-Newton step for w.
struct Step {
    Vec3 p;          // a, b, c at w
    double residual; // sum of squared residuals at w
    double dw;       // Gauss-Newton step
    double schur;    // curvature of the residual in w with a, b, c free; 1 / variance per noise
};

Step GaussNewtonStep(std::span<const double> x, double sumX, double sumX2, double w) {
    const int n = int(x.size());
    const Correlations r = Correlate(x, w);
    const Kernel k1 = Dirichlet(n, w);
    const Kernel k2 = Dirichlet(n, 2 * w);
    const LinearGram h{0.5 * (n + k2.d0), 0.5 * (n - k2.d0), k1.d0, double(n)};

    Step step;
    step.p = h.Solve({r.xc, r.xs, sumX});
    const Vec3& p = step.p;
    step.residual = sumX2 - Dot(p, {r.xc, r.xs, sumX});

    // Cross terms of the w column t (-a sin + b cos) with cos, sin, 1 and with itself.
    const double tcs = -0.5 * k2.d1;                        // sum t cos sin
    const double ts = -k1.d1;                               // sum t sin
    const double tt = double(n) * (double(n) * n - 1) / 12; // sum t^2
    const double ttcc = 0.5 * (tt - k2.d2);
    const double ttss = 0.5 * (tt + k2.d2);
    const Vec3 g{-p.a * tcs, p.b * tcs, -p.a * ts};
    const double gww = p.a * p.a * ttss + p.b * p.b * ttcc;
    const double jwx = -p.a * r.txs + p.b * r.txc;

    step.schur = gww - Dot(g, h.Solve(g));
    step.dw = (jwx - Dot(g, p)) / step.schur;
    return step;
}

} // namespace

std::optional<SineFit> FitSine(std::span<const double> x, const BlockSums& sums,
                               std::span<const double> startHertz, const FitLimits& limits) {
    return FitSine(x, sums, startHertz, limits, kSampleRate);
}

std::optional<SineFit> FitSine(std::span<const double> x, const BlockSums& sums,
                               std::span<const double> startHertz, const FitLimits& limits,
                               double sampleRateHz) {
    const int n = int(x.size());
    const double sumX = sums.sum;
    const double sumX2 = sums.sumSquares;

    const double lowest = HertzToRadians(kLowestHertz, sampleRateHz);
    const double highest = 2 * std::numbers::pi * kHighestShareOfRate;
    double w = 0;
    std::optional<Step> step;
    for (const double hertz : startHertz) {
        const double candidate = HertzToRadians(hertz, sampleRateHz);
        if (candidate < lowest || candidate > highest || (step && candidate == w)) {
            continue;
        }
        const Step s = GaussNewtonStep(x, sumX, sumX2, candidate);
        if (!step || s.residual < step->residual) {
            step = s;
            w = candidate;
        }
    }

    if (step && limits.leastStartShare > 0) {
        const double power = sumX2 / n - (sumX / n) * (sumX / n);
        const Vec3& p = step->p;
        if (0.5 * (p.a * p.a + p.b * p.b) < limits.leastStartShare * power) {
            return std::nullopt;
        }
    }
    // A step never goes further than half a bin: beyond that the linearisation is not trusted.
    const double longest = 2 * std::numbers::pi / (2 * n);
    for (int i = 0; step; ++i) {
        const Step& s = *step;
        if (!(s.schur > 0)) {
            return std::nullopt;
        }
        w += std::fmax(-longest, std::fmin(longest, s.dw));
        if (w < lowest || w > highest) {
            return std::nullopt;
        }
        if (std::fabs(RadiansToHertz(s.dw, sampleRateHz)) < kSettledHertz) {
            const double noise = std::fmax(s.residual, 0.0) / (n - 4);
            return SineFit{RadiansToHertz(w, sampleRateHz), std::hypot(s.p.a, s.p.b), s.p.c,
                           std::atan2(-s.p.b, s.p.a),
                           RadiansToHertz(std::sqrt(noise / s.schur), sampleRateHz)};
        }
        if (i + 1 == limits.maxSteps) {
            break; // no pass whose step would not be looked at
        }
        step = GaussNewtonStep(x, sumX, sumX2, w);
    }
    return std::nullopt;
}
