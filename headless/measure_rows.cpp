#include "headless/measure_rows.h"

namespace {

// The volts come last, so that scripts written before them find every other column where it was.
const std::vector<std::string>& Columns(bool withMeter) {
    static const std::vector<std::string> kWithMeter = {
        "time_s",        "x1_hz",       "x1_hz_precise", "x1_dbfs_rms", "x1_dbfs_peak", "x2_hz",
        "x2_hz_precise", "x2_dbfs_rms", "x2_dbfs_peak",  "meter",       "x1_vrms",      "x2_vrms"};
    static const std::vector<std::string> kWithoutMeter = {
        "time_s",        "x1_hz",       "x1_hz_precise", "x1_dbfs_rms", "x1_dbfs_peak", "x2_hz",
        "x2_hz_precise", "x2_dbfs_rms", "x2_dbfs_peak",  "x1_vrms",     "x2_vrms"};
    return withMeter ? kWithMeter : kWithoutMeter;
}

} // namespace

std::string FormatHeader(RowFormat format, bool withMeter, const std::string& device) {
    return RowHeader(format, Columns(withMeter), device);
}

std::string FormatRow(RowFormat format, bool withMeter, const MeasureRow& row) {
    // Hundredths of a dB and ten-thousandths of a hertz: below what the estimators resolve, so
    // the log loses nothing and stays short.
    std::vector<std::string> values = {
        RowNumber(format, row.seconds, 3),         std::to_string(row.x1.readoutHertz),
        RowNumber(format, row.x1.preciseHertz, 4), RowNumber(format, row.x1.rmsDbfs, 2),
        RowNumber(format, row.x1.peakDbfs, 2),     std::to_string(row.x2.readoutHertz),
        RowNumber(format, row.x2.preciseHertz, 4), RowNumber(format, row.x2.rmsDbfs, 2),
        RowNumber(format, row.x2.peakDbfs, 2),
    };
    if (withMeter) {
        values.push_back(RowInteger(format, row.meter));
    }
    // Microvolts: a line level to six decimals, as far as a calibration from a voltmeter goes.
    values.push_back(RowNumber(format, row.x1.vrms, 6));
    values.push_back(RowNumber(format, row.x2.vrms, 6));
    return RowLine(format, Columns(withMeter), values);
}
