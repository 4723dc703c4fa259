#pragma once
// The rows the headless commands print and the analyser windows export: CSV with a header line
// of column names, or JSON lines whose first object names the device and the columns. Both read
// a missing value the same way: an empty CSV field, a JSON null. Plain functions; any thread.

#include <optional>
#include <string>
#include <vector>

enum class RowFormat { Csv, Jsonl };

// The first line, newline included. CSV: the column names. JSON lines:
// {"device":"NAME","columns":["a","b",...]}.
std::string RowHeader(RowFormat format, const std::vector<std::string>& columns,
                      const std::string& device);

// A value as it stands in a row: `decimals` digits after the point and never "-0.00" (see
// FixedText); nothing, infinite or NaN is the format's missing value.
std::string RowNumber(RowFormat format, std::optional<double> value, int decimals);
std::string RowInteger(RowFormat format, std::optional<int> value);
std::string RowMissing(RowFormat format);

// One line, newline included, from one value's text per column (as RowNumber gives it).
std::string RowLine(RowFormat format, const std::vector<std::string>& columns,
                    const std::vector<std::string>& values);

// `text` as the inside of a JSON string: quote and backslash escaped, control characters as
// \uXXXX, other bytes (UTF-8 included) as they are.
std::string JsonEscaped(const std::string& text);
