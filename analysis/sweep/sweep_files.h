#pragma once
// A sweep's result as text files, and the curves read back from them: our CSV (every column the
// result has) and the FRD text that loudspeaker and crossover tools exchange (frequency,
// magnitude, phase). Reading is lenient about the FRD dialects in circulation and strict about
// the numbers: a line that is not data is refused with its line number, never guessed at.
// Plain functions; any thread.

#include "analysis/sweep/sweep_analyser.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Header "freq_hz,mag_db,phase_deg,group_delay_ms,h2_db,h3_db,h4_db,h5_db,thd_db,h6_db,h7_db,
// h8_db,h9_db,thd9_db" (thd_db over H2..H5, thd9_db over H2..H9), then one row per point; NaN
// (a harmonic out of band) is an empty field.
std::string SweepCsvText(const SweepResult& result);

// `comment` as '*' lines (one per line of it), a '*' line naming the columns, then
// "freq_hz  dB  phase_deg" per point in the result's (ascending) order. Points whose magnitude
// or phase is not finite are left out: FRD has no missing value.
std::string SweepFrdText(const SweepResult& result, const std::string& comment);

struct FrdCurve {
    std::vector<double> freq_hz, mag_db;
    std::vector<double> phase_deg; // empty when the file has two columns
};

// Lines starting with '*', '#' or ';' and blank lines are comments; one line of column names
// may precede the data. Fields are separated by blanks, tabs or commas; every data line has the
// same 2 or 3 columns, and frequencies are positive and strictly ascending. On refusal: nullopt,
// and *error says why, with the line number.
std::optional<FrdCurve> ParseFrd(std::string_view text, std::string& error);

// SweepCsvText's output back: the same header and as many fields per row, or the first nine
// columns alone as files were saved before H6..H9 (those then read NaN); empty fields as NaN,
// ascending frequencies. The result reads as a measurement (no refusal) with no latency.
std::optional<SweepResult> ParseSweepCsv(std::string_view text, std::string& error);
