#include "analysis/distortion/distortion_rows.h"

namespace {

// Thousandths of a hertz, hundredths of a dB, ten-thousandths of a percent: below what one
// block resolves, and a percent figure of -100 dB (0.0010 %) still shows two digits.
constexpr int kHzDecimals = 3;
constexpr int kDbDecimals = 2;
constexpr int kPctDecimals = 4;
constexpr int kTimeDecimals = 3;

std::vector<std::string> MakeColumns(bool withImd) {
    std::vector<std::string> columns = {"time_s"};
    for (const char* channel : {"x1_", "x2_"}) {
        for (const char* figure : {"f0_hz", "level_dbfs", "thd_pct", "thd_db", "thdn_pct",
                                   "thdn_db", "sinad_db", "snr_db"}) {
            columns.push_back(std::string(channel) + figure);
        }
        for (int order = kLowestHarmonic; order <= kHighestHarmonic; ++order) {
            columns.push_back(std::string(channel) + "h" + std::to_string(order) + "_db");
        }
    }
    if (withImd) {
        for (const char* column : {"x1_imd_pct", "x1_imd_db", "x2_imd_pct", "x2_imd_db"}) {
            columns.push_back(column);
        }
    }
    return columns;
}

} // namespace

const std::vector<std::string>& DistortionColumns(bool withImd) {
    static const std::vector<std::string> kWith = MakeColumns(true);
    static const std::vector<std::string> kWithout = MakeColumns(false);
    return withImd ? kWith : kWithout;
}

std::string FormatDistortionHeader(RowFormat format, bool withImd, const std::string& device) {
    return RowHeader(format, DistortionColumns(withImd), device);
}

std::string FormatDistortionRow(RowFormat format, bool withImd, const DistortionRow& row) {
    const auto number = [format](std::optional<double> value, int decimals) {
        return RowNumber(format, value, decimals);
    };
    std::vector<std::string> values = {number(row.time_s, kTimeDecimals)};
    for (const DistortionReading& reading : row.channels) {
        values.push_back(number(reading.f0_hz, kHzDecimals));
        values.push_back(number(reading.level_dbfs, kDbDecimals));
        values.push_back(number(reading.thd_pct, kPctDecimals));
        values.push_back(number(reading.thd_db, kDbDecimals));
        values.push_back(number(reading.thdn_pct, kPctDecimals));
        values.push_back(number(reading.thdn_db, kDbDecimals));
        values.push_back(number(reading.sinad_db, kDbDecimals));
        values.push_back(number(reading.snr_db, kDbDecimals));
        for (const HarmonicReading& harmonic : reading.harmonics) {
            values.push_back(number(harmonic.level_db, kDbDecimals));
        }
    }
    if (withImd) {
        for (const std::optional<ImdReading>& imd : row.imd) {
            values.push_back(number(imd ? imd->imd_pct : std::nullopt, kPctDecimals));
            values.push_back(number(imd ? imd->imd_db : std::nullopt, kDbDecimals));
        }
    }
    return RowLine(format, DistortionColumns(withImd), values);
}

const std::vector<std::string>& ImdOrderColumns() {
    static const std::vector<std::string> kColumns = {"x1_imd_d2_pct", "x1_imd_d3_pct",
                                                      "x2_imd_d2_pct", "x2_imd_d3_pct"};
    return kColumns;
}

std::vector<std::string> ImdOrderValues(RowFormat format, const DistortionRow& row) {
    std::vector<std::string> values;
    for (const std::optional<ImdReading>& imd : row.imd) {
        values.push_back(RowNumber(format, imd ? imd->d2_pct : std::nullopt, kPctDecimals));
        values.push_back(RowNumber(format, imd ? imd->d3_pct : std::nullopt, kPctDecimals));
    }
    return values;
}

std::string DistortionRowRefusal(const DistortionRow& row) {
    if (row.gap) {
        return "input lost in the block (an xrun or a dropped buffer): no figure describes it";
    }
    DistortionRefusal refusals[2];
    for (int ch = 0; ch < 2; ++ch) {
        const DistortionReading& reading = row.channels[size_t(ch)];
        const std::optional<ImdReading>& imd = row.imd[size_t(ch)];
        if (reading.refusal == DistortionRefusal::None ||
            (imd && imd->refusal == DistortionRefusal::None)) {
            return "";
        }
        // The two-tone figures' reason when they are asked for: the signal is theirs.
        refusals[ch] = imd ? imd->refusal : reading.refusal;
    }
    if (refusals[0] == refusals[1]) {
        return DistortionRefusalText(refusals[0]);
    }
    return std::string("X1: ") + DistortionRefusalText(refusals[0]) +
           "; X2: " + DistortionRefusalText(refusals[1]);
}
