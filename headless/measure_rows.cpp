#include "measure_rows.h"

#include "number_text.h"

#include <cmath>

namespace {

constexpr const char* kColumns[] = {"time_s",       "x1_hz", "x1_hz_precise", "x1_dbfs_rms",
                                    "x1_dbfs_peak", "x2_hz", "x2_hz_precise", "x2_dbfs_rms",
                                    "x2_dbfs_peak", "meter"};
constexpr int kColumnsWithoutMeter = 9;

// Hundredths of a dB and ten-thousandths of a hertz: below what the estimators resolve, so the
// log loses nothing and stays short.
std::string Number(std::optional<double> value, int decimals, const char* missing) {
    if (!value || !std::isfinite(*value)) {
        return missing;
    }
    return FixedText(*value, decimals);
}

} // namespace

std::string FormatHeader(RowFormat format, bool withMeter, const std::string& device) {
    const int columns = withMeter ? kColumnsWithoutMeter + 1 : kColumnsWithoutMeter;
    std::string line;
    if (format == RowFormat::Csv) {
        for (int i = 0; i < columns; ++i) {
            line += i == 0 ? "" : ",";
            line += kColumns[i];
        }
    } else {
        line = "{\"device\":\"";
        for (char c : device) {
            if (c == '"' || c == '\\') {
                line += '\\';
            }
            if (static_cast<unsigned char>(c) >= 0x20) {
                line += c;
            }
        }
        line += "\",\"columns\":[";
        for (int i = 0; i < columns; ++i) {
            line += i == 0 ? "\"" : ",\"";
            line += kColumns[i];
            line += '"';
        }
        line += "]}";
    }
    return line + "\n";
}

std::string FormatRow(RowFormat format, bool withMeter, const MeasureRow& row) {
    const char* missing = format == RowFormat::Csv ? "" : "null";
    std::string values[kColumnsWithoutMeter + 1] = {
        Number(row.seconds, 3, missing),
        std::to_string(row.x1.readoutHertz),
        Number(row.x1.preciseHertz, 4, missing),
        Number(row.x1.rmsDbfs, 2, missing),
        Number(row.x1.peakDbfs, 2, missing),
        std::to_string(row.x2.readoutHertz),
        Number(row.x2.preciseHertz, 4, missing),
        Number(row.x2.rmsDbfs, 2, missing),
        Number(row.x2.peakDbfs, 2, missing),
        row.meter ? std::to_string(*row.meter) : missing,
    };
    const int columns = withMeter ? kColumnsWithoutMeter + 1 : kColumnsWithoutMeter;
    std::string line = format == RowFormat::Csv ? "" : "{";
    for (int i = 0; i < columns; ++i) {
        if (i > 0) {
            line += ',';
        }
        if (format == RowFormat::Jsonl) {
            line += '"';
            line += kColumns[i];
            line += "\":";
        }
        line += values[i];
    }
    return line + (format == RowFormat::Csv ? "\n" : "}\n");
}
