#include "analysis/impedance/impedance_corrections.h"

#include <algorithm>
#include <cmath>

namespace {

// Frequencies this close (relative) are one calibration frequency: a sweep repeated with the
// same plan lands on the same ones to far better than this.
constexpr double kSameFreq = 1e-6;

bool Same(double a, double b) {
    return std::fabs(a - b) <= kSameFreq * std::max(std::fabs(a), std::fabs(b));
}

} // namespace

void CImpedanceCalTable::Set(double freq_hz, std::complex<double> value) {
    auto at = std::lower_bound(
        m_points.begin(), m_points.end(), freq_hz,
        [](const ImpedanceCalPoint& point, double f) { return point.freq_hz < f; });
    if (at != m_points.end() && Same(at->freq_hz, freq_hz)) {
        at->value = value;
        return;
    }
    if (at != m_points.begin() && Same(std::prev(at)->freq_hz, freq_hz)) {
        std::prev(at)->value = value;
        return;
    }
    m_points.insert(at, {freq_hz, value});
}

void CImpedanceCalTable::ClearBand(double lo_hz, double hi_hz) {
    std::erase_if(m_points, [&](const ImpedanceCalPoint& point) {
        return (point.freq_hz >= lo_hz || Same(point.freq_hz, lo_hz)) &&
               (point.freq_hz <= hi_hz || Same(point.freq_hz, hi_hz));
    });
}

std::optional<std::complex<double>> CImpedanceCalTable::At(double freq_hz) const {
    if (m_points.empty() || !(freq_hz > 0)) {
        return std::nullopt;
    }
    if (Same(freq_hz, m_points.front().freq_hz)) {
        return m_points.front().value;
    }
    if (Same(freq_hz, m_points.back().freq_hz)) {
        return m_points.back().value;
    }
    if (freq_hz < m_points.front().freq_hz || freq_hz > m_points.back().freq_hz) {
        return std::nullopt;
    }
    const auto above = std::upper_bound(
        m_points.begin(), m_points.end(), freq_hz,
        [](double f, const ImpedanceCalPoint& point) { return f < point.freq_hz; });
    const auto below = std::prev(above);
    const double share =
        std::log(freq_hz / below->freq_hz) / std::log(above->freq_hz / below->freq_hz);
    return below->value + share * (above->value - below->value);
}

double ImpedanceCorrections::EffectiveRref(double r_ref_ohm) const {
    if (!input_impedance_ohm) {
        return r_ref_ohm;
    }
    return r_ref_ohm * *input_impedance_ohm / (r_ref_ohm + *input_impedance_ohm);
}

CorrectedImpedance ImpedanceCorrections::Apply(std::complex<double> v1, std::complex<double> v2,
                                               double freq_hz, double r_ref_ohm,
                                               double ratio_resolution) const {
    CorrectedImpedance out;
    std::complex<double> ratio = v1 / v2;
    double scale = EffectiveRref(r_ref_ohm); // |dZ / d(V1/V2)|
    if (!match.Empty()) {
        const auto mismatch = match.At(freq_hz);
        out.match = mismatch ? CalState::Applied : CalState::Uncalibrated;
        if (mismatch) {
            ratio /= *mismatch;
            scale /= std::abs(*mismatch);
        }
    }
    const std::complex<double> z_m = EffectiveRref(r_ref_ohm) * (ratio - 1.0);
    out.z_ohm = z_m;
    if (!open.Empty() || !shorted.Empty()) {
        const auto z_open = open.At(freq_hz);
        const auto z_short = shorted.At(freq_hz);
        const bool reaches = (open.Empty() || z_open) && (shorted.Empty() || z_short);
        out.leads = reaches ? CalState::Applied : CalState::Uncalibrated;
        if (reaches) {
            // Each form is a Moebius map of z_m: dZ/dz_m carries the resolution through it.
            if (z_open && z_short) {
                out.z_ohm = CompensateOpenShort(z_m, *z_open, *z_short);
                scale *=
                    std::abs(*z_open * (*z_open - *z_short) / ((z_m - *z_open) * (z_m - *z_open)));
            } else if (z_short) {
                out.z_ohm = CompensateShort(z_m, *z_short);
            } else {
                out.z_ohm = CompensateOpen(z_m, *z_open);
                scale *= std::norm(*z_open / (*z_open - z_m));
            }
        }
    }
    out.z_resolution_ohm = ratio_resolution * scale;
    return out;
}

CImpedanceCalTable& CalTable(ImpedanceCorrections& corrections, ImpedanceCalKind kind) {
    return kind == ImpedanceCalKind::Match  ? corrections.match
           : kind == ImpedanceCalKind::Open ? corrections.open
                                            : corrections.shorted;
}

void SetCalPoint(ImpedanceCorrections& corrections, ImpedanceCalKind kind, double freq_hz,
                 std::complex<double> v1, std::complex<double> v2, double r_ref_ohm) {
    if (kind == ImpedanceCalKind::Match) {
        corrections.match.Set(freq_hz, v1 / v2);
        return;
    }
    ImpedanceCorrections raw = corrections;
    raw.open.Clear();
    raw.shorted.Clear();
    const std::complex<double> z = raw.Apply(v1, v2, freq_hz, r_ref_ohm).z_ohm;
    CalTable(corrections, kind).Set(freq_hz, z);
}

std::complex<double> CompensateOpenShort(std::complex<double> z_m, std::complex<double> z_open,
                                         std::complex<double> z_short) {
    return z_open * (z_short - z_m) / (z_m - z_open);
}

std::complex<double> CompensateShort(std::complex<double> z_m, std::complex<double> z_short) {
    return z_m - z_short;
}

std::complex<double> CompensateOpen(std::complex<double> z_m, std::complex<double> z_open) {
    return z_open * z_m / (z_open - z_m);
}
