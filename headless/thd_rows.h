#pragma once
// The rows `tavrin thd` prints: the distortion analyser's, with each fundamental's level in
// volts after the analyser's columns (x1_level_vrms, x2_level_vrms), so that those keep their
// places; with the two-tone figures, their orders last (ImdOrderColumns). Plain functions; any
// thread.

#include "analysis/distortion/distortion_rows.h"
#include "headless/run_calibration.h"

#include <string>

std::string FormatThdHeader(RowFormat format, bool withImd, const std::string& device);
// One line, newline included; a channel without calibration or without a level has an empty
// field (CSV) or null (JSON lines).
std::string FormatThdRow(RowFormat format, bool withImd, const DistortionRow& row,
                         const ChannelVolts& volts);
