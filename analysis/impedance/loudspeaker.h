#pragma once
// A loudspeaker driver's small-signal parameters from its impedance curve (free air, one sweep),
// and its mechanical ones from a second sweep with a known mass on the cone. Plain functions;
// any thread.

#include "analysis/impedance/impedance_readings.h"

#include <optional>
#include <string>
#include <vector>

// The resonance: where the phase crosses zero falling, interpolated linearly in log f; of several
// such crossings, the one with the highest |Z|. Where the phase never crosses, the top of a
// parabola in log f through the highest peak of |Z| inside the curve and its neighbours. Nothing
// when |Z| has no peak inside the curve. curve: ascending frequencies.
std::optional<double> ResonanceHz(const std::vector<ImpedanceCurvePoint>& curve);

struct ThieleSmall {
    double re_ohm = 0; // given, or from the fit
    bool re_given = false;
    double fs_hz = 0;
    double z_max_ohm = 0; // |Z| at f_s
    double r0 = 0;        // z_max / Re
    double f1_hz = 0;     // below and above f_s, where |Z| = Re sqrt(r0)
    double f2_hz = 0;
    double q_ms = 0;
    double q_es = 0;
    double q_ts = 0;
    double le_h = 0; // the voice coil's inductance from the fit
};

// Re, when not given (a DC resistance measured with an ohmmeter), comes from fitting
// Re + j w Le + (R_es | L_ces | C_mes) to the curve below ten times the resonance: the real part
// Re + R_es / (1 + Q^2 (f/f_s - f_s/f)^2) for Re, R_es, f_s and Q, then Le from the imaginary
// part. The lowest point of the curve is no estimate: the motional part still adds to it at
// 20 Hz, and Le beyond f_s. Then the three-point method: r0 = Z_max / Re, f1 and f2 where
// |Z| = Re sqrt(r0), Q_ms = f_s sqrt(r0) / (f2 - f1), Q_es = Q_ms / (r0 - 1),
// Q_ts = Q_ms Q_es / (Q_ms + Q_es), with f_s from ResonanceHz, Z_max the fitted real part there
// (where the phase is zero, |Z| is its real part), and f1, f2 on the fitted curve without Le:
// the formulas hold for Re and the motional part alone, and Le lifts |Z| at f2 enough to bias Q
// by one to two per cent on a woofer; a straight line between measured points 1/12 octave
// apart would cut the corners of the peak's sides besides.
// Nothing, with the reason in *why, when the curve shows no resonance or the fit fails.
std::optional<ThieleSmall> ThieleSmallFromCurve(const std::vector<ImpedanceCurvePoint>& curve,
                                                std::optional<double> re_ohm, std::string* why);

// rho c^2 of air at 20 degC and sea level (1.204 kg/m^3, 343.2 m/s), pascals: the stiffness of
// the air a driver's compliance is compared with.
inline constexpr double kAirRhoC2Pa = 1.42e5;

// The mechanical figures of the added-mass method (the driver's own, without the mass).
struct DriverMechanics {
    double mms_kg = 0;       // moving mass, air load included
    double cms_m_per_n = 0;  // suspension compliance
    double vas_m3 = 0;       // the air volume of the same compliance over the cone's area
    double bl_tm = 0;        // force factor
    double rms_kg_per_s = 0; // mechanical resistance
};

// A known mass added_kg on the cone lowers the resonance from the free air's f_s to
// loaded_fs_hz; the mass the cone already had is what it takes to do so:
// M_ms = M / ((f_s / f_s')^2 - 1), C_ms = 1 / ((2 pi f_s)^2 M_ms), V_as = rho c^2 S_d^2 C_ms,
// Bl = sqrt(2 pi f_s M_ms R_e / Q_es), R_ms = 2 pi f_s M_ms / Q_ms, all with free_air's f_s, R_e,
// Q_es and Q_ms. sd_m2: the cone's effective area. Nothing, with the reason in *why, unless the
// mass lowered the resonance.
std::optional<DriverMechanics> AddedMassMechanics(const ThieleSmall& free_air, double loaded_fs_hz,
                                                  double added_kg, double sd_m2, std::string* why);

// The effective area of a cone of this effective diameter (half the surround included): pi d^2/4.
double ConeArea(double diameter_m);
