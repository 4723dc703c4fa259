#include "analysis/sweep/sweep_files.h"

#include "base/entry_validation.h"
#include "base/number_text.h"
#include "base/row_text.h"

#include <array>
#include <cmath>
#include <limits>

namespace {

// The first nine are the columns the files have always had, in their order: a script that reads
// them by position reads the same. The harmonics above H5 and THD over all of them follow.
const std::vector<std::string> kCsvColumns = {
    "freq_hz", "mag_db", "phase_deg", "group_delay_ms", "h2_db", "h3_db", "h4_db",
    "h5_db",   "thd_db", "h6_db",     "h7_db",          "h8_db", "h9_db", "thd9_db"};
constexpr size_t kClassicCsvColumns = 9;

// The result's columns in kCsvColumns' order; Result is SweepResult, const or not.
template <typename Result> auto CsvValues(Result& r) {
    return std::array{&r.freq_hz, &r.mag_db, &r.phase_deg, &r.group_delay_ms, &r.h2_db,
                      &r.h3_db,   &r.h4_db,  &r.h5_db,     &r.thd_db,         &r.h6_db,
                      &r.h7_db,   &r.h8_db,  &r.h9_db,     &r.thd9_db};
}

// Digits kept per column: well below what a sound card resolves, enough that a file read back
// draws the same curve (a hundredth of a degree, a ten-thousandth of a dB).
constexpr int kFreqDecimals = 3;
constexpr int kLevelDecimals = 4;
constexpr int kPhaseDecimals = 2;
constexpr int kDelayDecimals = 5;

// One line of `text` at a time, its end of line ("\n" or "\r\n") removed, numbered from 1.
class CLines {
public:
    explicit CLines(std::string_view text) : m_rest(text) {
        // A byte-order mark, as editors on other systems write, is not part of the first line.
        if (m_rest.substr(0, 3) == "\xEF\xBB\xBF") {
            m_rest.remove_prefix(3);
        }
    }
    bool Next(std::string_view& line) {
        if (m_rest.empty()) {
            return false;
        }
        const size_t end = m_rest.find('\n');
        line = m_rest.substr(0, end);
        m_rest.remove_prefix(end == std::string_view::npos ? m_rest.size() : end + 1);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        ++m_number;
        return true;
    }
    int Number() const { return m_number; }

private:
    std::string_view m_rest;
    int m_number = 0;
};

std::string AtLine(int number, const std::string& why) {
    return "line " + std::to_string(number) + ": " + why;
}

std::string Excerpt(std::string_view line) {
    return std::string(line.substr(0, 60));
}

// FRD fields: runs of blanks, tabs and commas separate them.
std::vector<std::string_view> FrdFields(std::string_view line) {
    std::vector<std::string_view> fields;
    const char* kSeparators = " \t,";
    size_t at = line.find_first_not_of(kSeparators);
    while (at != std::string_view::npos) {
        const size_t end = line.find_first_of(kSeparators, at);
        fields.push_back(line.substr(at, end - at));
        at = end == std::string_view::npos ? end : line.find_first_not_of(kSeparators, end);
    }
    return fields;
}

// CSV fields: every comma separates, so an empty field stays a field.
std::vector<std::string_view> CsvFields(std::string_view line) {
    std::vector<std::string_view> fields;
    size_t at = 0;
    for (;;) {
        const size_t end = line.find(',', at);
        fields.push_back(line.substr(at, end - at));
        if (end == std::string_view::npos) {
            return fields;
        }
        at = end + 1;
    }
}

bool IsFrdComment(std::string_view line) {
    const size_t first = line.find_first_not_of(" \t");
    return first == std::string_view::npos || line[first] == '*' || line[first] == '#' ||
           line[first] == ';';
}

} // namespace

std::string SweepCsvText(const SweepResult& r) {
    constexpr RowFormat kCsv = RowFormat::Csv;
    std::string text = RowHeader(kCsv, kCsvColumns, "");
    const auto columns = CsvValues(r);
    std::vector<std::string> fields(columns.size());
    for (size_t i = 0; i < r.freq_hz.size(); ++i) {
        for (size_t c = 0; c < columns.size(); ++c) {
            const int decimals = c == 0   ? kFreqDecimals
                                 : c == 2 ? kPhaseDecimals
                                 : c == 3 ? kDelayDecimals
                                          : kLevelDecimals;
            const std::vector<double>& column = *columns[c];
            fields[c] = RowNumber(kCsv, i < column.size() ? column[i] : std::nan(""), decimals);
        }
        text += RowLine(kCsv, kCsvColumns, fields);
    }
    return text;
}

std::string SweepFrdText(const SweepResult& r, const std::string& comment) {
    std::string text;
    CLines lines(comment);
    std::string_view line;
    while (lines.Next(line)) {
        text += "* ";
        text += line;
        text += '\n';
    }
    text += "* freq_hz  dB  phase_deg\n";
    for (size_t i = 0; i < r.freq_hz.size(); ++i) {
        if (!std::isfinite(r.mag_db[i]) || !std::isfinite(r.phase_deg[i])) {
            continue;
        }
        text += FixedText(r.freq_hz[i], kFreqDecimals) + "  " +
                FixedText(r.mag_db[i], kLevelDecimals) + "  " +
                FixedText(r.phase_deg[i], kPhaseDecimals) + "\n";
    }
    return text;
}

std::optional<FrdCurve> ParseFrd(std::string_view text, std::string& error) {
    FrdCurve curve;
    size_t columns = 0;
    bool headerAllowed = true;
    CLines lines(text);
    std::string_view line;
    while (lines.Next(line)) {
        if (IsFrdComment(line)) {
            continue;
        }
        const std::vector<std::string_view> fields = FrdFields(line);
        std::vector<double> values;
        for (const std::string_view field : fields) {
            if (const std::optional<double> value = ParseDecimal(field)) {
                values.push_back(*value);
            } else {
                break;
            }
        }
        if (values.size() != fields.size()) {
            // Some tools name their columns on a line of their own, without a comment mark.
            if (headerAllowed && values.empty()) {
                headerAllowed = false;
                continue;
            }
            error = AtLine(lines.Number(), "not a number in \"" + Excerpt(line) + "\"");
            return std::nullopt;
        }
        headerAllowed = false;
        if (values.size() < 2 || values.size() > 3) {
            error = AtLine(lines.Number(),
                           "expected 2 or 3 columns, found " + std::to_string(values.size()));
            return std::nullopt;
        }
        if (columns != 0 && values.size() != columns) {
            error = AtLine(lines.Number(), "expected " + std::to_string(columns) +
                                               " columns like the lines before");
            return std::nullopt;
        }
        columns = values.size();
        if (values[0] <= 0.0) {
            error = AtLine(lines.Number(), "frequency must be above 0 Hz");
            return std::nullopt;
        }
        if (!curve.freq_hz.empty() && values[0] <= curve.freq_hz.back()) {
            error = AtLine(lines.Number(), "frequencies must ascend");
            return std::nullopt;
        }
        curve.freq_hz.push_back(values[0]);
        curve.mag_db.push_back(values[1]);
        if (columns == 3) {
            curve.phase_deg.push_back(values[2]);
        }
    }
    if (curve.freq_hz.empty()) {
        error = "no data: no line holds a frequency and a level";
        return std::nullopt;
    }
    return curve;
}

std::optional<SweepResult> ParseSweepCsv(std::string_view text, std::string& error) {
    CLines lines(text);
    std::string_view line;
    // Files saved before the harmonics above H5 were read have the first nine columns alone.
    std::string header = RowHeader(RowFormat::Csv, kCsvColumns, "");
    header.pop_back();
    const std::vector<std::string> classicColumns(kCsvColumns.begin(),
                                                  kCsvColumns.begin() + kClassicCsvColumns);
    std::string classicHeader = RowHeader(RowFormat::Csv, classicColumns, "");
    classicHeader.pop_back();
    const bool read = lines.Next(line);
    if (!read || (line != header && line != classicHeader)) {
        error = AtLine(1, "expected the header \"" + header + "\"");
        return std::nullopt;
    }
    const size_t columnCount = line == header ? kCsvColumns.size() : kClassicCsvColumns;
    SweepResult r;
    r.refusal = SweepRefusal::None;
    const auto columns = CsvValues(r);
    while (lines.Next(line)) {
        if (line.empty()) {
            continue;
        }
        const std::vector<std::string_view> fields = CsvFields(line);
        if (fields.size() != columnCount) {
            error = AtLine(lines.Number(), "expected " + std::to_string(columnCount) +
                                               " fields, found " + std::to_string(fields.size()));
            return std::nullopt;
        }
        for (size_t c = columnCount; c < columns.size(); ++c) {
            columns[c]->push_back(std::numeric_limits<double>::quiet_NaN());
        }
        for (size_t c = 0; c < fields.size(); ++c) {
            std::optional<double> value = ParseDecimal(fields[c]);
            // Only frequency and magnitude make a point; anything else may be missing.
            if (!value && (c < 2 || !fields[c].empty())) {
                error = AtLine(lines.Number(), kCsvColumns[c] + " is not a number");
                return std::nullopt;
            }
            columns[c]->push_back(value.value_or(std::numeric_limits<double>::quiet_NaN()));
        }
        const size_t n = r.freq_hz.size();
        if (r.freq_hz[n - 1] <= 0.0 || (n > 1 && r.freq_hz[n - 1] <= r.freq_hz[n - 2])) {
            error = AtLine(lines.Number(), "frequencies must be above 0 Hz and ascend");
            return std::nullopt;
        }
    }
    if (r.freq_hz.empty()) {
        error = "no data: the file holds only its header";
        return std::nullopt;
    }
    return r;
}
