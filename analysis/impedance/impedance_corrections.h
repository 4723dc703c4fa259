#pragma once
// What stands between the raw V1/V2 and the part's own impedance: the card's input impedance
// loading R_ref, the two channels' own mismatch (measured with a short in place of the part,
// when both see one signal), and the leads' open and short readings. Stored per frequency;
// between stored frequencies interpolated in log f, and never extrapolated: a frequency outside
// the stored ones is uncalibrated there and says so. Plain data; one object per thread.

#include <complex>
#include <optional>
#include <vector>

struct ImpedanceCalPoint {
    double freq_hz = 0;
    std::complex<double> value; // V1/V2 for the match; ohms for open and short
};

// A table of calibration points kept in ascending frequency; setting a frequency already held
// (within a millionth) replaces it.
class CImpedanceCalTable {
public:
    void Set(double freq_hz, std::complex<double> value);
    void Clear() { m_points.clear(); }
    // Drops the points from lo_hz to hi_hz, both included: a band measured again replaces
    // what was there, so no stale point lies among the new ones.
    void ClearBand(double lo_hz, double hi_hz);
    bool Empty() const { return m_points.empty(); }
    const std::vector<ImpedanceCalPoint>& Points() const { return m_points; }
    // Linear in log f between the neighbours; nothing below the first point or above the last.
    std::optional<std::complex<double>> At(double freq_hz) const;

private:
    std::vector<ImpedanceCalPoint> m_points;
};

// How each correction fared at one frequency.
enum class CalState {
    Off,          // nothing stored: not applied, and not claimed
    Applied,      // applied from the stored points
    Uncalibrated, // stored, but not at this frequency: not applied, and the reading says so
};

struct CorrectedImpedance {
    std::complex<double> z_ohm;
    CalState match = CalState::Off;
    CalState leads = CalState::Off; // the open and short stored, alone or together
    // The smallest change of Z the reading resolves (from the noise of its fit, carried through
    // the corrections); 0 when not known.
    double z_resolution_ohm = 0;
};

struct ImpedanceCorrections {
    std::optional<double> input_impedance_ohm; // the card's, across X2; nothing: none
    CImpedanceCalTable match;                  // V1/V2 read with a short in place of the part
    CImpedanceCalTable open;                   // Z read with the leads open
    CImpedanceCalTable shorted;                // Z read with the leads shorted

    // R_ref as X2's node sees it: in parallel with the card's input impedance.
    double EffectiveRref(double r_ref_ohm) const;
    // Z from V1 and V2 at freq_hz with every correction that applies there. ratio_resolution:
    // the resolution of V1/V2 (ImpedanceDetection's), 0 when not known. Where the open or the
    // short is stored but does not reach freq_hz, neither is applied (the leads read
    // Uncalibrated): half a compensation is no better than none there.
    CorrectedImpedance Apply(std::complex<double> v1, std::complex<double> v2, double freq_hz,
                             double r_ref_ohm, double ratio_resolution = 0) const;
};

enum class ImpedanceCalKind {
    Match, // a short in place of the part: both channels see one signal
    Open,  // the leads open
    Short, // the leads shorted
};

// The table that holds kind's points.
CImpedanceCalTable& CalTable(ImpedanceCorrections& corrections, ImpedanceCalKind kind);

// Stores V1 and V2 read at freq_hz as kind's point: the match as V1/V2; the leads' open and
// short as Z with the other corrections, never the open/short ones themselves.
void SetCalPoint(ImpedanceCorrections& corrections, ImpedanceCalKind kind, double freq_hz,
                 std::complex<double> v1, std::complex<double> v2, double r_ref_ohm);

// The open/short compensation: the part's Z from the reading z_m and the leads' open and short
// readings at the same frequency.
std::complex<double> CompensateOpenShort(std::complex<double> z_m, std::complex<double> z_open,
                                         std::complex<double> z_short);
// The same with only one of them: the short's series impedance subtracted, or the open's
// admittance taken out in parallel. Each is the full form's limit as the other leg goes ideal
// (z_short to 0, z_open to infinity).
std::complex<double> CompensateShort(std::complex<double> z_m, std::complex<double> z_short);
std::complex<double> CompensateOpen(std::complex<double> z_m, std::complex<double> z_open);
