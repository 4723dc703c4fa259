#pragma once
// What an LCR meter shows for one complex impedance at one frequency: |Z| and its angle, the
// series and parallel models, and which kind of part it looks like. Plain functions; any thread.

#include <complex>
#include <optional>

enum class ImpedanceKind { R, L, C };

// |theta| below this reads as a resistor: its reactance is under tan(10 deg) = 18 % of its
// resistance, less than a wirewound resistor's own inductance or a lead's at audio frequencies
// is often worth; above it the sign of theta says inductor (> 0) or capacitor (< 0). A
// capacitor with a large ESR, or an inductor with a large winding resistance, still reads as
// itself until its reactance is that small.
inline constexpr double kResistorMaxThetaDeg = 10.0;

ImpedanceKind KindFromTheta(double theta_deg);
const char* ImpedanceKindName(ImpedanceKind kind); // "R", "L", "C"

struct ImpedanceReadings {
    double freq_hz = 0;
    double z_ohm = 0;     // |Z|
    double theta_deg = 0; // arg Z, -180..180
    ImpedanceKind kind = ImpedanceKind::R;
    // Series model Z = R_s + j X_s. L_s when X_s > 0, C_s when X_s < 0, neither at X_s = 0.
    double r_s_ohm = 0; // also the ESR
    double x_s_ohm = 0;
    std::optional<double> l_s_h;
    std::optional<double> c_s_f;
    // Q = |X_s| / R_s and D = R_s / |X_s|: nothing where the divisor is zero (or R_s is negative,
    // a reading that no passive part gives).
    std::optional<double> q;
    std::optional<double> d;
    // Parallel model Y = 1/Z = 1/R_p + j B: R_p nothing where Re Y = 0; C_p when B > 0, L_p when
    // B < 0.
    std::optional<double> r_p_ohm;
    std::optional<double> l_p_h;
    std::optional<double> c_p_f;
};

// Z nonzero, freq_hz > 0. z_resolution_ohm: the smallest change of Z the reading resolves (0:
// not known). A reactance |X_s| no larger is none the reading can tell from zero: L, C (both
// models), Q and D are left empty, where they would print the noise's own figures (a resistor's
// picked-up 1e-13 ohm as 1e9 F and D 1e13). Likewise Q where R_s is unresolved.
ImpedanceReadings ReadImpedance(std::complex<double> z_ohm, double freq_hz,
                                double z_resolution_ohm = 0);

// One point of an impedance curve.
struct ImpedanceCurvePoint {
    double freq_hz = 0;
    std::complex<double> z_ohm;
    double z_resolution_ohm = 0; // as ReadImpedance's; 0 for a curve read from a file
};
