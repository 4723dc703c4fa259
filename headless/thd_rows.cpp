#include "headless/thd_rows.h"

namespace {

const std::vector<std::string> kVoltColumns = {"x1_level_vrms", "x2_level_vrms"};

} // namespace

std::string FormatThdHeader(RowFormat format, bool withImd, const std::string& device) {
    std::vector<std::string> columns = DistortionColumns(withImd);
    columns.insert(columns.end(), kVoltColumns.begin(), kVoltColumns.end());
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
    // The analyser's line up to its closing, then the volts as the same format writes them.
    std::string line = FormatDistortionRow(format, withImd, row);
    std::string tail = RowLine(format, kVoltColumns, values);
    const size_t closing = format == RowFormat::Csv ? 1 : 2; // "\n" or "}\n"
    line.resize(line.size() - closing);
    return line + "," + tail.substr(format == RowFormat::Csv ? 0 : 1);
}
