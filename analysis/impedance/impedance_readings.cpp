#include "analysis/impedance/impedance_readings.h"

#include <cmath>
#include <numbers>

namespace {
constexpr double kDegPerRad = 57.29577951308232;

} // namespace

ImpedanceKind KindFromTheta(double theta_deg) {
    if (std::fabs(theta_deg) < kResistorMaxThetaDeg) {
        return ImpedanceKind::R;
    }
    return theta_deg > 0 ? ImpedanceKind::L : ImpedanceKind::C;
}

const char* ImpedanceKindName(ImpedanceKind kind) {
    switch (kind) {
    case ImpedanceKind::R:
        return "R";
    case ImpedanceKind::L:
        return "L";
    case ImpedanceKind::C:
        return "C";
    }
    return "";
}

ImpedanceReadings ReadImpedance(std::complex<double> z_ohm, double freq_hz,
                                double z_resolution_ohm) {
    ImpedanceReadings r;
    const double omega = 2 * std::numbers::pi * freq_hz;
    r.freq_hz = freq_hz;
    r.z_ohm = std::abs(z_ohm);
    r.theta_deg = std::arg(z_ohm) * kDegPerRad;
    r.kind = KindFromTheta(r.theta_deg);
    r.r_s_ohm = z_ohm.real();
    r.x_s_ohm = z_ohm.imag();
    if (r.x_s_ohm > 0) {
        r.l_s_h = r.x_s_ohm / omega;
    } else if (r.x_s_ohm < 0) {
        r.c_s_f = -1 / (omega * r.x_s_ohm);
    }
    const double reactance = std::fabs(r.x_s_ohm);
    if (r.r_s_ohm > 0) {
        r.q = reactance / r.r_s_ohm;
    }
    if (reactance > 0 && r.r_s_ohm >= 0) {
        r.d = r.r_s_ohm / reactance;
    }
    const std::complex<double> y = 1.0 / z_ohm;
    if (y.real() != 0) {
        r.r_p_ohm = 1 / y.real();
    }
    if (y.imag() > 0) {
        r.c_p_f = y.imag() / omega;
    } else if (y.imag() < 0) {
        r.l_p_h = -1 / (omega * y.imag());
    }
    if (!(z_resolution_ohm > 0)) {
        return r;
    }
    if (std::fabs(r.x_s_ohm) <= z_resolution_ohm) {
        r.l_s_h.reset();
        r.c_s_f.reset();
        r.l_p_h.reset();
        r.c_p_f.reset();
        r.q.reset();
        r.d.reset();
    } else if (std::fabs(r.r_s_ohm) <= z_resolution_ohm) {
        r.q.reset();
    }
    return r;
}
