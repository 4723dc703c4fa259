#include "analysis/impedance/impedance_files.h"

#include <charconv>
#include <cmath>
#include <sstream>

namespace {

constexpr double kDegPerRad = 57.29577951308232;
// Enough for a round trip of every reading to far below what any measurement resolves, few
// enough for a person to read.
constexpr int kSignificant = 10;
constexpr int kTimeDecimals = 3;

// Shortest general form at kSignificant digits, '.' as the point whatever the locale.
std::string Number(double value) {
    char text[64];
    const auto done =
        std::to_chars(text, text + sizeof text, value, std::chars_format::general, kSignificant);
    return std::string(text, done.ptr);
}

std::string Field(RowFormat format, const std::optional<double>& value) {
    return value && std::isfinite(*value) ? Number(*value) : RowMissing(format);
}

// The ten readings of ImpedanceCsvColumns in order.
std::vector<std::string> ReadingFields(RowFormat format, const ImpedanceReadings& r) {
    return {Number(r.freq_hz),  Number(r.z_ohm),        Number(r.theta_deg),    Number(r.r_s_ohm),
            Number(r.x_s_ohm),  Field(format, r.l_s_h), Field(format, r.c_s_f), Number(r.r_s_ohm),
            Field(format, r.q), Field(format, r.d)};
}

// r_ohm, x_ohm, l_h and c_f of the parallel model in place of the series model's.
void ParallelFields(RowFormat format, const ImpedanceReadings& r,
                    std::vector<std::string>& fields) {
    const std::complex<double> y = 1.0 / std::polar(r.z_ohm, r.theta_deg / kDegPerRad);
    const std::optional<double> x_p =
        y.imag() != 0 ? std::optional<double>(-1.0 / y.imag()) : std::nullopt;
    fields[3] = Field(format, r.r_p_ohm);
    fields[4] = Field(format, x_p);
    fields[5] = Field(format, r.l_p_h);
    fields[6] = Field(format, r.c_p_f);
}

// Splits at any of `separators` (runs of them count once when `merge`); false at text that is not
// a number.
bool Numbers(const std::string& line, const char* separators, bool merge,
             std::vector<std::optional<double>>& out) {
    out.clear();
    size_t at = 0;
    while (at <= line.size()) {
        size_t end = line.find_first_of(separators, at);
        if (end == std::string::npos) {
            end = line.size();
        }
        const std::string field = line.substr(at, end - at);
        if (!(merge && field.empty())) {
            if (field.empty()) {
                out.emplace_back();
            } else {
                double value = 0;
                const auto [ptr, ec] =
                    std::from_chars(field.data(), field.data() + field.size(), value);
                if (ec != std::errc() || ptr != field.data() + field.size()) {
                    return false;
                }
                out.emplace_back(value);
            }
        }
        at = end + 1;
    }
    return true;
}

std::complex<double> FromPolar(double ohms, double phase_deg) {
    return std::polar(ohms, phase_deg / kDegPerRad);
}

std::string Trimmed(std::string line) {
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) {
        line.pop_back();
    }
    const size_t start = line.find_first_not_of(" \t");
    return start == std::string::npos ? std::string() : line.substr(start);
}

// Checks one parsed point against the one before; the reason when it does not follow.
const char* Problem(double f, double ohms, double phase,
                    const std::vector<ImpedanceCurvePoint>& so_far) {
    if (!std::isfinite(f) || !std::isfinite(ohms) || !std::isfinite(phase) || !(f > 0)) {
        return "the frequency is not a positive number";
    }
    if (ohms < 0) {
        return "|Z| is negative";
    }
    if (!so_far.empty() && !(f > so_far.back().freq_hz)) {
        return "frequencies do not rise";
    }
    return nullptr;
}

} // namespace

std::string FormatZma(const std::vector<ImpedanceCurvePoint>& curve,
                      const std::vector<std::string>& comments) {
    std::string text;
    for (const std::string& comment : comments) {
        text += "* " + comment + "\n";
    }
    text += "* freq_hz  ohms  phase_deg\n";
    for (const ImpedanceCurvePoint& p : curve) {
        text += Number(p.freq_hz) + "  " + Number(std::abs(p.z_ohm)) + "  " +
                Number(std::arg(p.z_ohm) * kDegPerRad) + "\n";
    }
    return text;
}

std::optional<std::vector<ImpedanceCurvePoint>> ParseZma(const std::string& text,
                                                         std::string* error) {
    std::vector<ImpedanceCurvePoint> curve;
    std::istringstream lines(text);
    std::string line;
    std::vector<std::optional<double>> values;
    for (int number = 1; std::getline(lines, line); ++number) {
        line = Trimmed(line);
        if (line.empty() || line[0] == '*') {
            continue;
        }
        const char* problem = nullptr;
        if (!Numbers(line, " \t", true, values) || values.size() < 3) {
            problem = "not three numbers (freq_hz ohms phase_deg)";
        } else {
            problem = Problem(*values[0], *values[1], *values[2], curve);
        }
        if (problem != nullptr) {
            *error = "line " + std::to_string(number) + ": " + problem;
            return std::nullopt;
        }
        curve.push_back({*values[0], FromPolar(*values[1], *values[2])});
    }
    if (curve.empty()) {
        *error = "no points";
        return std::nullopt;
    }
    return curve;
}

const std::vector<std::string>& ImpedanceCsvColumns() {
    static const std::vector<std::string> kColumns = {
        "freq_hz", "z_ohm", "phase_deg", "r_ohm", "x_ohm", "l_h", "c_f", "esr_ohm", "q", "d"};
    return kColumns;
}

std::string FormatImpedanceCsv(const std::vector<ImpedanceCurvePoint>& curve) {
    std::string text = RowHeader(RowFormat::Csv, ImpedanceCsvColumns(), "");
    for (const ImpedanceCurvePoint& p : curve) {
        text += RowLine(
            RowFormat::Csv, ImpedanceCsvColumns(),
            ReadingFields(RowFormat::Csv, ReadImpedance(p.z_ohm, p.freq_hz, p.z_resolution_ohm)));
    }
    return text;
}

std::optional<std::vector<ImpedanceCurvePoint>> ParseImpedanceCsv(const std::string& text,
                                                                  std::string* error) {
    std::istringstream lines(text);
    std::string line;
    if (!std::getline(lines, line) ||
        Trimmed(line) + "\n" != RowHeader(RowFormat::Csv, ImpedanceCsvColumns(), "")) {
        *error = "line 1: not the impedance CSV's header";
        return std::nullopt;
    }
    std::vector<ImpedanceCurvePoint> curve;
    std::vector<std::optional<double>> values;
    for (int number = 2; std::getline(lines, line); ++number) {
        line = Trimmed(line);
        if (line.empty()) {
            continue;
        }
        const char* problem = nullptr;
        if (!Numbers(line, ",", false, values) || values.size() != ImpedanceCsvColumns().size() ||
            !values[0] || !values[1] || !values[2]) {
            problem = "not a row of the impedance CSV";
        } else {
            problem = Problem(*values[0], *values[1], *values[2], curve);
        }
        if (problem != nullptr) {
            *error = "line " + std::to_string(number) + ": " + problem;
            return std::nullopt;
        }
        curve.push_back({*values[0], FromPolar(*values[1], *values[2])});
    }
    return curve;
}

std::string FormatImpedanceHeader(RowFormat format, const std::string& device) {
    std::vector<std::string> columns = {"time_s"};
    columns.insert(columns.end(), ImpedanceCsvColumns().begin(), ImpedanceCsvColumns().end());
    return RowHeader(format, columns, device);
}

std::string FormatImpedanceRow(RowFormat format, double time_s,
                               const std::optional<ImpedanceReadings>& readings,
                               ImpedanceModel model) {
    std::vector<std::string> columns = {"time_s"};
    columns.insert(columns.end(), ImpedanceCsvColumns().begin(), ImpedanceCsvColumns().end());
    std::vector<std::string> values = {RowNumber(format, time_s, kTimeDecimals)};
    if (readings) {
        std::vector<std::string> fields = ReadingFields(format, *readings);
        if (model == ImpedanceModel::Parallel) {
            ParallelFields(format, *readings, fields);
        }
        values.insert(values.end(), fields.begin(), fields.end());
    } else {
        values.resize(columns.size(), RowMissing(format));
    }
    return RowLine(format, columns, values);
}
