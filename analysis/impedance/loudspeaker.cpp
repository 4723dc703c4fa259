#include "analysis/impedance/loudspeaker.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>

namespace {
// The fit stops above this many times the resonance: real voice coils' losses (eddy currents)
// raise the real part there, which the model leaves out.
constexpr double kFitTopRatio = 10.0;
constexpr int kMaxIterations = 200;

struct Motional {
    double re = 0;
    double res = 0; // R_es: the motional part's peak
    double fs = 0;
    double q = 0; // Q_ms
};

double Detuning(double f, double fs) {
    return f / fs - fs / f;
}

// Re Z of the model: the parallel R_es, L_ces, C_mes is R_es / (1 + j Q u).
double RealPart(const Motional& m, double f) {
    const double qu = m.q * Detuning(f, m.fs);
    return m.re + m.res / (1 + qu * qu);
}

double Cost(const std::vector<ImpedanceCurvePoint>& points, const Motional& m) {
    double sum = 0;
    for (const ImpedanceCurvePoint& p : points) {
        const double r = p.z_ohm.real() - RealPart(m, p.freq_hz);
        sum += r * r;
    }
    return sum;
}

// Solves a x = b (4 x 4) by elimination with partial pivoting; false when singular.
bool Solve4(std::array<std::array<double, 4>, 4> a, std::array<double, 4>& b) {
    for (int c = 0; c < 4; ++c) {
        int pivot = c;
        for (int r = c + 1; r < 4; ++r) {
            if (std::fabs(a[r][c]) > std::fabs(a[pivot][c])) {
                pivot = r;
            }
        }
        if (!(std::fabs(a[pivot][c]) > 0)) {
            return false;
        }
        std::swap(a[c], a[pivot]);
        std::swap(b[c], b[pivot]);
        for (int r = c + 1; r < 4; ++r) {
            const double k = a[r][c] / a[c][c];
            for (int j = c; j < 4; ++j) {
                a[r][j] -= k * a[c][j];
            }
            b[r] -= k * b[c];
        }
    }
    for (int c = 3; c >= 0; --c) {
        for (int j = c + 1; j < 4; ++j) {
            b[c] -= a[c][j] * b[j];
        }
        b[c] /= a[c][c];
    }
    return true;
}

// Levenberg-Marquardt on the real part; Re held when given.
bool FitRealPart(const std::vector<ImpedanceCurvePoint>& points, bool holdRe, Motional& m) {
    double lambda = 1e-3;
    double cost = Cost(points, m);
    for (int iteration = 0; iteration < kMaxIterations; ++iteration) {
        std::array<std::array<double, 4>, 4> jtj{};
        std::array<double, 4> jtr{};
        for (const ImpedanceCurvePoint& p : points) {
            const double f = p.freq_hz;
            const double u = Detuning(f, m.fs);
            const double g = 1 / (1 + m.q * m.q * u * u);
            const double dudfs = -f / (m.fs * m.fs) - 1 / f;
            const std::array<double, 4> j = {holdRe ? 0.0 : 1.0, g,
                                             -m.res * g * g * m.q * m.q * 2 * u * dudfs,
                                             -m.res * g * g * 2 * m.q * u * u};
            const double r = p.z_ohm.real() - RealPart(m, f);
            for (int a = 0; a < 4; ++a) {
                jtr[a] += j[a] * r;
                for (int b = 0; b < 4; ++b) {
                    jtj[a][b] += j[a] * j[b];
                }
            }
        }
        if (holdRe) {
            jtj[0][0] = 1;
        }
        bool improved = false;
        while (lambda < 1e12) {
            auto a = jtj;
            auto step = jtr;
            for (int d = 0; d < 4; ++d) {
                a[d][d] *= 1 + lambda;
            }
            if (!Solve4(a, step)) {
                return false;
            }
            const Motional next = {m.re + step[0], m.res + step[1], m.fs + step[2], m.q + step[3]};
            const double nextCost =
                next.res > 0 && next.fs > 0 && next.q > 0 ? Cost(points, next) : INFINITY;
            if (nextCost < cost) {
                const bool settled = cost - nextCost <= 1e-15 * cost;
                m = next;
                cost = nextCost;
                lambda = std::max(lambda / 10, 1e-12);
                improved = true;
                if (settled) {
                    return true;
                }
                break;
            }
            lambda *= 10;
        }
        if (!improved) {
            return true; // no step lowers the cost: at the minimum to working precision
        }
    }
    return true;
}

// Where the real part crosses halfway between Re and its peak on each side gives Q_ms's start:
// there Q |u| = 1, so Q = 2 / (u(f_above) - u(f_below)).
double StartQ(const std::vector<ImpedanceCurvePoint>& points, const Motional& m, size_t peak) {
    const double half = m.re + 0.5 * m.res;
    size_t below = peak;
    while (below > 0 && points[below].z_ohm.real() > half) {
        --below;
    }
    size_t above = peak;
    while (above + 1 < points.size() && points[above].z_ohm.real() > half) {
        ++above;
    }
    const double span =
        Detuning(points[above].freq_hz, m.fs) - Detuning(points[below].freq_hz, m.fs);
    return span > 0 ? 2 / span : 1.0;
}

// Re and the motional part, without Le.
std::complex<double> ModelZ(const Motional& m, double f) {
    return m.re + m.res / std::complex<double>(1, m.q * Detuning(f, m.fs));
}

// From f_s outwards by factor `by` until the model's |Z| falls to `level`, then bisection.
double Crossing(const Motional& m, double fs, double level, double by) {
    double inside = fs;
    double outside = fs;
    for (int k = 0; k < 2000 && std::abs(ModelZ(m, outside)) > level; ++k) {
        inside = outside;
        outside *= by;
    }
    for (int k = 0; k < 100; ++k) {
        const double mid = std::sqrt(inside * outside);
        (std::abs(ModelZ(m, mid)) > level ? inside : outside) = mid;
    }
    return std::sqrt(inside * outside);
}

} // namespace

std::optional<double> ResonanceHz(const std::vector<ImpedanceCurvePoint>& curve) {
    // The falling zero crossing of the phase with the highest |Z|: the voice coil's inductance
    // can lift |Z| at 20 kHz above the resonance's peak, but there the phase does not fall
    // through zero.
    std::optional<double> best_hz;
    double best_ohm = 0;
    for (size_t k = 0; k + 1 < curve.size(); ++k) {
        const double a = std::arg(curve[k].z_ohm);
        const double b = std::arg(curve[k + 1].z_ohm);
        const double ohms = std::max(std::abs(curve[k].z_ohm), std::abs(curve[k + 1].z_ohm));
        if (a >= 0 && b < 0 && ohms > best_ohm) {
            const double share = a / (a - b);
            best_hz = curve[k].freq_hz * std::pow(curve[k + 1].freq_hz / curve[k].freq_hz, share);
            best_ohm = ohms;
        }
    }
    if (best_hz) {
        return best_hz;
    }
    // No crossing (a phase offset the leads left): the highest peak inside the curve.
    size_t peak = 0;
    for (size_t k = 1; k + 1 < curve.size(); ++k) {
        const double y = std::abs(curve[k].z_ohm);
        if (y > std::abs(curve[k - 1].z_ohm) && y >= std::abs(curve[k + 1].z_ohm) &&
            (peak == 0 || y > std::abs(curve[peak].z_ohm))) {
            peak = k;
        }
    }
    if (peak == 0) {
        return std::nullopt;
    }
    const double x0 = std::log(curve[peak - 1].freq_hz);
    const double x1 = std::log(curve[peak].freq_hz);
    const double x2 = std::log(curve[peak + 1].freq_hz);
    const double y0 = std::abs(curve[peak - 1].z_ohm);
    const double y1 = std::abs(curve[peak].z_ohm);
    const double y2 = std::abs(curve[peak + 1].z_ohm);
    // Vertex of the parabola through three points.
    const double num = (x1 - x0) * (x1 - x0) * (y1 - y2) - (x1 - x2) * (x1 - x2) * (y1 - y0);
    const double den = (x1 - x0) * (y1 - y2) - (x1 - x2) * (y1 - y0);
    return den == 0 ? curve[peak].freq_hz : std::exp(x1 - 0.5 * num / den);
}

std::optional<ThieleSmall> ThieleSmallFromCurve(const std::vector<ImpedanceCurvePoint>& curve,
                                                std::optional<double> re_ohm, std::string* why) {
    const std::optional<double> fs = ResonanceHz(curve);
    if (!fs) {
        *why = "no resonance: no peak of |Z| inside the curve";
        return std::nullopt;
    }
    std::vector<ImpedanceCurvePoint> points;
    for (const ImpedanceCurvePoint& p : curve) {
        if (p.freq_hz <= kFitTopRatio * *fs) {
            points.push_back(p);
        }
    }
    const auto peak = size_t(std::max_element(points.begin(), points.end(),
                                              [](const auto& a, const auto& b) {
                                                  return a.z_ohm.real() < b.z_ohm.real();
                                              }) -
                             points.begin());
    Motional m;
    m.re = re_ohm
               ? *re_ohm
               : std::min_element(points.begin(), points.end(), [](const auto& a, const auto& b) {
                     return a.z_ohm.real() < b.z_ohm.real();
                 })->z_ohm.real();
    m.res = points[peak].z_ohm.real() - m.re;
    m.fs = *fs;
    if (!(m.res > 0) || points.size() < 5) {
        *why = "no resonance peak above the voice coil's resistance";
        return std::nullopt;
    }
    m.q = StartQ(points, m, peak);
    if (!FitRealPart(points, re_ohm.has_value(), m) || !(m.re > 0)) {
        *why = "the curve does not fit a driver's: no Re found";
        return std::nullopt;
    }
    // Le: least squares of the imaginary part left after the motional part's.
    double num = 0;
    double den = 0;
    for (const ImpedanceCurvePoint& p : points) {
        const double omega = 2 * std::numbers::pi * p.freq_hz;
        const std::complex<double> motional =
            m.res / std::complex<double>(1, m.q * Detuning(p.freq_hz, m.fs));
        num += omega * (p.z_ohm.imag() - motional.imag());
        den += omega * omega;
    }
    ThieleSmall ts;
    ts.le_h = std::max(0.0, num / den);
    ts.re_ohm = m.re;
    ts.re_given = re_ohm.has_value();
    ts.fs_hz = *fs;
    ts.z_max_ohm = RealPart(m, *fs);
    ts.r0 = ts.z_max_ohm / ts.re_ohm;
    if (!(ts.r0 > 1)) {
        *why = "the peak is no higher than Re";
        return std::nullopt;
    }
    const double level = ts.re_ohm * std::sqrt(ts.r0);
    ts.f1_hz = Crossing(m, *fs, level, 1 / 1.01);
    ts.f2_hz = Crossing(m, *fs, level, 1.01);
    ts.q_ms = ts.fs_hz * std::sqrt(ts.r0) / (ts.f2_hz - ts.f1_hz);
    ts.q_es = ts.q_ms / (ts.r0 - 1);
    ts.q_ts = ts.q_ms * ts.q_es / (ts.q_ms + ts.q_es);
    return ts;
}

std::optional<DriverMechanics> AddedMassMechanics(const ThieleSmall& free_air, double loaded_fs_hz,
                                                  double added_kg, double sd_m2, std::string* why) {
    if (!(added_kg > 0) || !(sd_m2 > 0)) {
        *why = "the added mass and the cone's area must be above zero";
        return std::nullopt;
    }
    const double shift = free_air.fs_hz / loaded_fs_hz;
    // A mass must lower f_s by more than the two sweeps' own scatter; a hundredth of a per cent
    // would put M_ms at ten thousand times the mass added.
    if (!(loaded_fs_hz > 0) || !(shift > 1.0001)) {
        *why = "the resonance with the mass is not below the free air's: is the mass on the cone?";
        return std::nullopt;
    }
    DriverMechanics m;
    const double omega = 2 * std::numbers::pi * free_air.fs_hz;
    m.mms_kg = added_kg / (shift * shift - 1);
    m.cms_m_per_n = 1 / (omega * omega * m.mms_kg);
    m.vas_m3 = kAirRhoC2Pa * sd_m2 * sd_m2 * m.cms_m_per_n;
    m.bl_tm = std::sqrt(omega * m.mms_kg * free_air.re_ohm / free_air.q_es);
    m.rms_kg_per_s = omega * m.mms_kg / free_air.q_ms;
    return m;
}

double ConeArea(double diameter_m) {
    return (2 * std::numbers::pi) / 8 * diameter_m * diameter_m;
}
