#pragma once
// The rows `tavrin measure` prints: one per captured buffer, as CSV or as JSON lines. Plain
// functions over plain data; any thread.

#include "base/row_text.h"

#include <optional>
#include <string>

struct ChannelRow {
    int readoutHertz = 0;               // what the panel's frequency readout shows
    std::optional<double> preciseHertz; // nothing: no clear tone
    double rmsDbfs = 0;                 // -infinity for an all-zero buffer
    double peakDbfs = 0;
    std::optional<double> vrms; // the RMS level in volts; nothing when uncalibrated
};

struct MeasureRow {
    double seconds = 0; // start of the buffer, from the first captured frame
    ChannelRow x1, x2;
    std::optional<int> meter; // the meter readout's value; nothing while it shows blanks
};

// CSV: the column names; JSON lines: an object naming the columns and the device.
std::string FormatHeader(RowFormat format, bool withMeter, const std::string& device);
// One line, newline included. A missing or infinite value is an empty CSV field or a JSON null.
std::string FormatRow(RowFormat format, bool withMeter, const MeasureRow& row);
