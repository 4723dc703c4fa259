#pragma once
// The command line of `tavrin thd`: the distortion analyser on the capture, block by block,
// optionally playing its own test signal. Plain data and a parser, so every refusal is tested
// without a device. Any thread.

#include "analysis/distortion/distortion.h"
#include "audio/test_signal.h"
#include "headless/run_options.h"

#include <optional>
#include <string>
#include <vector>

struct ThdTone {
    double freq_hz = 997.0; // to 0.01 Hz
    double level_dbfs = -1.0;
    // Given in volts RMS instead: level_dbfs follows from the output's calibration at the run.
    std::optional<double> level_vrms;
};

struct ThdOptions : RunOptions {
    std::optional<ThdTone> tone; // nothing: measure what comes in (unless --imd)
    bool dither = false;
    std::optional<ImdTones> imd;  // play that two-tone signal and add its figures
    double imd_level_dbfs = -1.0; // the two tones' summed peak
    int block_frames = 65536;
    DistortionSettings analysis; // the band and the weighting
};

// args: the arguments after "thd". False with a one-line reason in *error.
bool ParseThdOptions(const std::vector<std::string>& args, ThdOptions* options, std::string* error);

// What the outputs play for these options; nothing when the run only listens.
std::optional<TestSignal> ThdTestSignal(const ThdOptions& options);

// The usage text for --help.
std::string ThdUsage();
