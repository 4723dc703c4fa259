#include "analysis/sweep/sweep_points.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

namespace {
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kPowerFloor = 1e-30; // -300 dB

double SmoothingOctaves(SweepSmoothing smoothing) {
    switch (smoothing) {
    case SweepSmoothing::None:
        return 0;
    case SweepSmoothing::Octave48:
        return 1.0 / 48;
    case SweepSmoothing::Octave24:
        return 1.0 / 24;
    case SweepSmoothing::Octave12:
        return 1.0 / 12;
    case SweepSmoothing::Octave6:
        return 1.0 / 6;
    case SweepSmoothing::Octave3:
        return 1.0 / 3;
    }
    return 0;
}

template <typename T, typename F> void RunningSums(std::vector<T>& sums, int count, F value) {
    sums[0] = T{};
    for (int k = 0; k < count; ++k) {
        sums[size_t(k) + 1] = sums[size_t(k)] + value(k);
    }
}

} // namespace

void ClearPoints(SweepResult& r) {
    for (auto* v :
         {&r.freq_hz, &r.mag_db, &r.phase_deg, &r.group_delay_ms, &r.thd_db, &r.thd9_db}) {
        v->clear();
    }
    for (int order = 2; order <= kSweepHighestHarmonic; ++order) {
        HarmonicDb(r, order).clear();
    }
}

CSweepPoints::CSweepPoints(int bins, int components)
    : m_bins(bins), m_response(size_t(bins)), m_responseSums(size_t(bins) + 1),
      m_responseSquares(size_t(bins) + 1),
      m_componentSquares(size_t(components), std::vector<double>(size_t(bins) + 1)) {}

bool CSweepPoints::Band(double hz, int& lo, int& hi) const {
    if (m_widthOctaves == 0) {
        return false;
    }
    const double half = std::exp2(m_widthOctaves / 2);
    lo = std::max(0, int(std::ceil(hz / half / m_binHz)));
    hi = std::min(m_bins - 1, int(std::floor(hz * half / m_binHz)));
    return hi >= lo;
}

std::complex<double> CSweepPoints::ValueAt(const std::vector<std::complex<double>>& spectrum,
                                           double hz) const {
    const double x = std::min(hz / m_binHz, double(m_bins - 1));
    const int k = std::min(int(x), m_bins - 2);
    const double t = x - k;
    return (1 - t) * spectrum[size_t(k)] + t * spectrum[size_t(k) + 1];
}

double CSweepPoints::PowerAt(const std::vector<std::complex<double>>& spectrum,
                             const std::vector<double>& sums, double hz) const {
    int lo = 0;
    int hi = 0;
    if (Band(hz, lo, hi)) {
        return (sums[size_t(hi) + 1] - sums[size_t(lo)]) / (hi - lo + 1);
    }
    return std::norm(ValueAt(spectrum, hz));
}

void CSweepPoints::Evaluate(const std::vector<std::complex<double>>* spectra, int highest,
                            const std::vector<std::complex<double>>* reference,
                            double residualDelay, double rateHz, double topHz,
                            const SweepAnalysisSettings& settings, SweepResult& r) {
    const int n = 2 * (m_bins - 1);
    m_binHz = rateHz / n;
    m_widthOctaves = SmoothingOctaves(settings.smoothing);

    // The response only where it is read: outside, a reference's near-zero bins would swamp the
    // running sums.
    const double margin = std::exp2(m_widthOctaves / 2);
    const int kLo = std::max(0, int(settings.lo_hz / margin / m_binHz) - 1);
    const int kHi = std::min(m_bins - 1, int(settings.hi_hz * margin / m_binHz) + 2);
    std::fill(m_response.begin(), m_response.end(), std::complex<double>{});
    for (int k = kLo; k <= kHi; ++k) {
        std::complex<double> h = spectra[0][size_t(k)];
        if (reference) {
            const std::complex<double> ref = (*reference)[size_t(k)];
            h = std::norm(ref) > 0 ? h / ref : std::complex<double>{};
        }
        m_response[size_t(k)] = h * std::polar(1.0, 2 * std::numbers::pi * k * residualDelay / n);
    }
    if (m_widthOctaves > 0) {
        RunningSums(m_responseSums, m_bins, [&](int k) { return m_response[size_t(k)]; });
        RunningSums(m_responseSquares, m_bins,
                    [&](int k) { return std::norm(m_response[size_t(k)]); });
        for (int c = 0; c < highest; ++c) {
            RunningSums(m_componentSquares[size_t(c)], m_bins,
                        [&](int k) { return std::norm(spectra[c][size_t(k)]); });
        }
    }

    const int count =
        int(std::floor(settings.points_per_octave * std::log2(settings.hi_hz / settings.lo_hz) +
                       1e-9)) +
        1;
    for (int i = 0; i < count; ++i) {
        const double hz = settings.lo_hz * std::exp2(double(i) / settings.points_per_octave);
        r.freq_hz.push_back(hz);
        r.mag_db.push_back(
            10 * std::log10(std::max(kPowerFloor, PowerAt(m_response, m_responseSquares, hz))));
        std::complex<double> value = ValueAt(m_response, hz);
        int lo = 0;
        int hi = 0;
        if (Band(hz, lo, hi)) {
            value =
                (m_responseSums[size_t(hi) + 1] - m_responseSums[size_t(lo)]) / double(hi - lo + 1);
        }
        r.phase_deg.push_back(std::arg(value));

        const double fundamental = PowerAt(spectra[0], m_componentSquares[0], hz);
        // THD over H2..H5 as the files have always had it, and over every harmonic read.
        double harmonicPower = 0;
        bool anyHarmonic = false;
        const auto thd = [&] {
            return anyHarmonic ? 10 * std::log10(std::max(kPowerFloor, harmonicPower / fundamental))
                               : kNaN;
        };
        for (int order = 2; order <= kSweepHighestHarmonic; ++order) {
            double db = kNaN;
            if (order <= highest && order * hz <= topHz && fundamental > 0) {
                const double power =
                    PowerAt(spectra[order - 1], m_componentSquares[size_t(order - 1)], order * hz);
                db = 10 * std::log10(std::max(kPowerFloor, power / fundamental));
                harmonicPower += power;
                anyHarmonic = true;
            }
            HarmonicDb(r, order).push_back(db);
            if (order == kSweepClassicHarmonic) {
                r.thd_db.push_back(thd());
            }
        }
        r.thd9_db.push_back(thd());
    }

    // Unwrap from the lowest point, then the group delay as the phase's slope (central
    // differences, one-sided at the ends), before turning radians into degrees.
    for (int i = 1; i < count; ++i) {
        double& p = r.phase_deg[size_t(i)];
        const double before = r.phase_deg[size_t(i) - 1];
        p += 2 * std::numbers::pi * std::round((before - p) / (2 * std::numbers::pi));
    }
    for (int i = 0; i < count; ++i) {
        const int a = std::max(0, i - 1);
        const int b = std::min(count - 1, i + 1);
        const double slope = b > a ? (r.phase_deg[size_t(b)] - r.phase_deg[size_t(a)]) /
                                         (r.freq_hz[size_t(b)] - r.freq_hz[size_t(a)])
                                   : 0.0;
        r.group_delay_ms.push_back(-1e3 * slope / (2 * std::numbers::pi));
    }
    for (double& p : r.phase_deg) {
        p *= 180 / std::numbers::pi;
    }
}
