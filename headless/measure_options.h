#pragma once
// The command line of `tavrin measure`: what to measure, for how long, where the rows go.
// Plain data and a parser, so every refusal is tested without a device. Any thread.

#include "headless/run_options.h"

#include <optional>
#include <string>
#include <vector>

// One --generate: a generator channel as the panel sets it.
struct GenerateOption {
    int channel = 0;  // 0 L, 1 R
    int hertz = 0;    // whole hertz, the panel's range
    int waveform = 0; // 0 sine, 1 triangle, 2 square
    int divisor = 1;  // 1, 2, 4, 8, 16 for 0 .. -24 dB
};

struct MeasureOptions : RunOptions {
    std::vector<GenerateOption> generate;
    std::optional<int> meterMode; // kMeterModeR .. kMeterModeVac
    double refValue = 1.0;        // the panel's reference until the user enters one
    std::optional<std::string> recordPath;
};

// args: the arguments after the program name. False with a one-line reason in *error.
bool ParseMeasureOptions(const std::vector<std::string>& args, MeasureOptions* options,
                         std::string* error);

// The usage text for --help.
std::string MeasureUsage();
