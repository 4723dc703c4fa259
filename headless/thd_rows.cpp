#include "headless/thd_rows.h"

namespace {

const std::vector<std::string> kVoltColumns = {"x1_level_vrms", "x2_level_vrms"};

// What follows the analyser's columns: the volts, then with the two-tone figures their orders
// (added after the volts, so the columns before them keep their places).
std::vector<std::string> TailColumns(bool withImd) {
    std::vector<std::string> columns = kVoltColumns;
    if (withImd) {
        columns.insert(columns.end(), ImdOrderColumns().begin(), ImdOrderColumns().end());
    }
    return columns;
}

} // namespace

std::string FormatThdHeader(RowFormat format, bool withImd, const std::string& device) {
    std::vector<std::string> columns = DistortionColumns(withImd);
    const std::vector<std::string> tail = TailColumns(withImd);
    columns.insert(columns.end(), tail.begin(), tail.end());
    return RowHeader(format, columns, device);
}

std::string FormatThdRow(RowFormat format, bool withImd, const DistortionRow& row,
                         const ChannelVolts& volts) {
    std::vector<std::string> values;
    for (int channel = 0; channel < 2; ++channel) {
        const auto& dbfs = row.channels[channel].level_dbfs;
        // Microvolts, as `tavrin measure` gives them.
        values.push_back(
            RowNumber(format, dbfs ? ChannelVrms(volts[channel], *dbfs) : std::nullopt, 6));
    }
    if (withImd) {
        const std::vector<std::string> orders = ImdOrderValues(format, row);
        values.insert(values.end(), orders.begin(), orders.end());
    }
    // The analyser's line up to its closing, then the tail as the same format writes it.
    std::string line = FormatDistortionRow(format, withImd, row);
    std::string tail = RowLine(format, TailColumns(withImd), values);
    const size_t closing = format == RowFormat::Csv ? 1 : 2; // "\n" or "}\n"
    line.resize(line.size() - closing);
    return line + "," + tail.substr(format == RowFormat::Csv ? 0 : 1);
}
