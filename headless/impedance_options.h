#pragma once
// The command line of `tavrin impedance`: a part's impedance against a reference resistor, at one
// frequency block by block or over a stepped sweep, with the program's own test tone or an
// external generator's. Plain data and a parser, so every refusal is tested without a device.
// Any thread.

#include "analysis/impedance/impedance_corrections.h"
#include "analysis/impedance/impedance_files.h"
#include "headless/run_options.h"

#include <optional>
#include <string>
#include <vector>

struct ImpedanceSweepRange {
    double lo_hz = 20;
    double hi_hz = 20000;
};

struct ImpedanceOptions : RunOptions {
    double r_ref_ohm = 0;  // --ref, required
    double freq_hz = 1000; // to 0.01 Hz; live readings unless sweep or external
    std::optional<ImpedanceSweepRange> sweep;
    int per_octave = 12;
    ImpedanceModel model = ImpedanceModel::Series;
    std::optional<double> input_impedance_ohm; // over the stored one
    bool external = false;
    std::optional<std::string> zma_path;
    double level_dbfs = -3.0; // the test tone's RMS
    // --calibrate: measure this correction and store it for the card instead of printing
    // readings; clear_calibration: forget the card's match, open and short.
    std::optional<ImpedanceCalKind> calibrate;
    bool clear_calibration = false;
    // A sweep's loudspeaker figures: the voice coil's DC resistance (from an ohmmeter) in place
    // of the fit's Re.
    std::optional<double> re_ohm;
    // The added-mass method: this sweep runs with added_mass_kg on the cone; free_air_path is
    // the same driver's curve without it (an earlier run's --zma); sd_m2 from --sd or
    // --diameter.
    std::optional<double> added_mass_kg;
    std::optional<double> sd_m2;
    std::optional<std::string> free_air_path;
};

// The lowest and highest test frequencies: below 10 Hz a block of whole periods grows past a
// second, and a card's coupling capacitors and anti-alias filter leave little above 20 kHz.
inline constexpr double kImpedanceMinHz = 10.0;
inline constexpr double kImpedanceMaxHz = 20000.0;
// At a higher rate the card's own filter sits higher: up to 0.45 of the rate, never below 20 kHz.
inline double ImpedanceMaxHz(int rate_hz) {
    return rate_hz * 0.45 > kImpedanceMaxHz ? rate_hz * 0.45 : kImpedanceMaxHz;
}

// args: the arguments after "impedance". False with a one-line reason in *error.
bool ParseImpedanceOptions(const std::vector<std::string>& args, ImpedanceOptions* options,
                           std::string* error);

// The usage text for --help.
std::string ImpedanceUsage();
