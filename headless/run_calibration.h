#pragma once
// The calibration a measuring run reads once at its start: volts at 0 dBFS for both channels
// of the device in use. Main thread.

#include "analysis/calibration/calibration.h"

#include <array>
#include <optional>
#include <string>

// Volts at 0 dBFS per channel (X1/L first); nothing for a channel without calibration.
using ChannelVolts = std::array<std::optional<double>, 2>;

// The figures of `device` on `side` from the file at `path`. A file that cannot be read
// whole says so in one line on stderr, and the run goes on uncalibrated: a half-read file is
// not trusted for readings.
ChannelVolts LoadChannelVolts(const std::string& path, const std::string& device,
                              CalibrationSide side);

// A reading in dBFS as volts on a channel; nothing for an uncalibrated channel or no level.
std::optional<double> ChannelVrms(const std::optional<double>& vrms_at_0dbfs, double dbfs);
