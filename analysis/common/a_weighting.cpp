#include "analysis/common/a_weighting.h"

#include <cmath>
#include <limits>

namespace {

// IEC 61672-1 pole frequencies of the A-weighting, in hertz.
constexpr double kF1 = 20.598997;
constexpr double kF2 = 107.65265;
constexpr double kF3 = 737.86223;
constexpr double kF4 = 12194.217;

// The unnormalised response's magnitude.
double Response(double freq_hz) {
    const double f2 = freq_hz * freq_hz;
    return kF4 * kF4 * f2 * f2 /
           ((f2 + kF1 * kF1) * std::sqrt((f2 + kF2 * kF2) * (f2 + kF3 * kF3)) * (f2 + kF4 * kF4));
}

} // namespace

// The standard rounds its normalisation to -2.000 dB; dividing by the response at 1 kHz itself
// makes 1 kHz exactly 0 dB.
double AWeightingDb(double freq_hz) {
    if (!(freq_hz > 0)) {
        return -std::numeric_limits<double>::infinity();
    }
    static const double atOneKilohertz = Response(1000.0);
    return 20 * std::log10(Response(freq_hz) / atOneKilohertz);
}
