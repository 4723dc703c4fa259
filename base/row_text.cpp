#include "base/row_text.h"

#include "base/number_text.h"

#include <cmath>
#include <cstdio>

std::string JsonEscaped(const std::string& text) {
    std::string escaped;
    escaped.reserve(text.size());
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            escaped += '\\';
            escaped += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char code[8];
            std::snprintf(code, sizeof code, "\\u%04x", static_cast<unsigned>(c));
            escaped += code;
        } else {
            escaped += c;
        }
    }
    return escaped;
}

std::string RowHeader(RowFormat format, const std::vector<std::string>& columns,
                      const std::string& device) {
    std::string line;
    if (format == RowFormat::Csv) {
        for (size_t i = 0; i < columns.size(); ++i) {
            line += i == 0 ? "" : ",";
            line += columns[i];
        }
    } else {
        line = "{\"device\":\"" + JsonEscaped(device) + "\",\"columns\":[";
        for (size_t i = 0; i < columns.size(); ++i) {
            line += i == 0 ? "\"" : ",\"";
            line += JsonEscaped(columns[i]);
            line += '"';
        }
        line += "]}";
    }
    return line + "\n";
}

std::string RowMissing(RowFormat format) {
    return format == RowFormat::Csv ? "" : "null";
}

std::string RowNumber(RowFormat format, std::optional<double> value, int decimals) {
    if (!value || !std::isfinite(*value)) {
        return RowMissing(format);
    }
    return FixedText(*value, decimals);
}

std::string RowInteger(RowFormat format, std::optional<int> value) {
    return value ? std::to_string(*value) : RowMissing(format);
}

std::string RowLine(RowFormat format, const std::vector<std::string>& columns,
                    const std::vector<std::string>& values) {
    std::string line = format == RowFormat::Csv ? "" : "{";
    for (size_t i = 0; i < columns.size() && i < values.size(); ++i) {
        if (i > 0) {
            line += ',';
        }
        if (format == RowFormat::Jsonl) {
            line += '"';
            line += JsonEscaped(columns[i]);
            line += "\":";
        }
        line += values[i];
    }
    return line + (format == RowFormat::Csv ? "\n" : "}\n");
}
