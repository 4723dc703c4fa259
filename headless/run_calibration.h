#pragma once
// The calibration a measuring run reads once at its start: volts at 0 dBFS for both channels
// of the device in use. Main thread.

#include "analysis/calibration/calibration.h"
#include "audio/stream/stream_format.h"

#include <array>
#include <optional>
#include <string>

// Volts at 0 dBFS per channel (X1/L first); nothing for a channel without calibration.
using ChannelVolts = std::array<std::optional<double>, 2>;

// The figures of `device` on `side` from the file at `path`. A file that cannot be read
// whole says so in one line on stderr, and the run goes on uncalibrated: a half-read file is
// not trusted for readings. An entry taken at another format than the run's still applies, and
// a line says where it was taken (SayCalibratedElsewhere).
ChannelVolts LoadChannelVolts(const std::string& path, const std::string& device,
                              CalibrationSide side, const StreamFormat& run = {});

// The format an entry was taken at: the panel's when the file does not say.
StreamFormat CalibrationFormat(const CalibrationEntry& entry);
// "tavrin-measure: input X1 of 'hw:1' calibrated at 48 kHz/24-bit" for an entry taken at another
// format than the run's: its volts apply, as a card's analogue gain is the same at every
// format, and the reader knows. Nothing for an entry of the run's own format.
void SayCalibratedElsewhere(const CalibrationEntry& entry, const StreamFormat& run);
// The entry's record of the format it is taken at now.
void NoteCalibrationFormat(CalibrationEntry* entry, const StreamFormat& format);

// A reading in dBFS as volts on a channel; nothing for an uncalibrated channel or no level.
std::optional<double> ChannelVrms(const std::optional<double>& vrms_at_0dbfs, double dbfs);
