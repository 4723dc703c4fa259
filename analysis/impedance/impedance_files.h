#pragma once
// Impedance curves as files: ZMA text (`freq_hz  ohms  phase_deg` a line, `*` comments), the
// full CSV of every reading per frequency, and the live rows (CSV or JSON lines, time_s first)
// that `tavrin` prints and the analyser window exports. Numbers are written and read the same in
// every locale. Plain functions; any thread.

#include "analysis/impedance/impedance_readings.h"
#include "base/row_text.h"

#include <optional>
#include <string>
#include <vector>

// comments: lines without the leading "* ", written first.
std::string FormatZma(const std::vector<ImpedanceCurvePoint>& curve,
                      const std::vector<std::string>& comments);
// Blank lines and lines starting with '*' are skipped; every other line holds at least three
// numbers (more are ignored) with frequencies positive and rising, |Z| not negative. Nothing,
// with "line N: why" in *error, otherwise.
std::optional<std::vector<ImpedanceCurvePoint>> ParseZma(const std::string& text,
                                                         std::string* error);

// freq_hz,z_ohm,phase_deg,r_ohm,x_ohm,l_h,c_f,esr_ohm,q,d: the series model, L or C by the sign
// of X, an empty field where a figure does not apply.
const std::vector<std::string>& ImpedanceCsvColumns();
std::string FormatImpedanceCsv(const std::vector<ImpedanceCurvePoint>& curve);
// The header must be ImpedanceCsvColumns'; Z is rebuilt from z_ohm and phase_deg.
std::optional<std::vector<ImpedanceCurvePoint>> ParseImpedanceCsv(const std::string& text,
                                                                  std::string* error);

// Which equivalent circuit the live rows' r_ohm, x_ohm, l_h and c_f describe: Z = R_s + j X_s,
// or R_p in parallel with j X_p (X_p = -1/B, so L_p and C_p keep their own signs' meaning). The
// ESR, Q and D do not depend on it.
enum class ImpedanceModel { Series, Parallel };

// Live rows: time_s, then ImpedanceCsvColumns. A refused block is a row of missing values after
// its time.
std::string FormatImpedanceHeader(RowFormat format, const std::string& device);
std::string FormatImpedanceRow(RowFormat format, double time_s,
                               const std::optional<ImpedanceReadings>& readings,
                               ImpedanceModel model = ImpedanceModel::Series);
