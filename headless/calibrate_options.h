#pragma once
// The command line of `tavrin calibrate`: which channel of which device, and the voltmeter's
// reading that ties its dBFS to volts. Plain data and a parser, so every refusal is tested
// without a device. Any thread.

#include "analysis/calibration/calibration.h"
#include "headless/run_options.h"

#include <optional>
#include <string>
#include <vector>

struct CalibrateOptions : RunOptions {
    CalibrationSide side = CalibrationSide::Input;
    int channel = 0;                 // 0: X1 / L, 1: X2 / R
    double vrms = 0;                 // what the voltmeter reads, > 0
    double level_dbfs = -6.0;        // an output's tone, AES17 RMS
    std::optional<std::string> file; // nothing: CCalibrationStore::DefaultPath()
};

// How long each side runs when --seconds is not given: an input is read for a second, an
// output plays long enough to read a meter.
inline constexpr double kCalibrateInputSeconds = 1.0;
inline constexpr double kCalibrateOutputSeconds = 10.0;
// The output's tone.
inline constexpr double kCalibrateToneHz = 1000.0;

// args: the arguments after "calibrate". False with a one-line reason in *error. Fills
// options->seconds with the side's default when not given.
bool ParseCalibrateOptions(const std::vector<std::string>& args, CalibrateOptions* options,
                           std::string* error);

// The usage text for --help.
std::string CalibrateUsage();
