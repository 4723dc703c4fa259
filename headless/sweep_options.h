#pragma once
// The command line of `tavrin sweep`: one frequency-response measurement through the card, its
// result as CSV (stdout unless a file is named), FRD, an impulse-response WAV and the capture.
// Plain data and a parser, so every refusal is tested without a device. Any thread.

#include "analysis/sweep/sweep_measurement.h"
#include "headless/run_options.h"

#include <optional>
#include <string>
#include <vector>

struct SweepOptions : RunOptions {
    SweepMeasurementSettings measurement;
    std::optional<std::string> csv; // nothing or "-": stdout
    std::optional<std::string> frd;
    std::optional<std::string> ir;
    std::optional<std::string> capture; // the raw stereo capture as a 16-bit WAV
};

// args: the arguments after "sweep". False with a one-line reason, naming the option, in *error.
bool ParseSweepOptions(const std::vector<std::string>& args, SweepOptions* options,
                       std::string* error);

// The usage text for --help.
std::string SweepUsage();
