#pragma once
// report.json (every figure and curve) and summary.csv (one row per figure), and the reading of
// an older report.json for a comparison. Plain data; any thread.

#include "headless/report_data.h"

#include <optional>
#include <string>

std::string ReportJsonText(const Report& report);
std::string ReportCsvText(const Report& report);

// The report a report.json holds: device, date, figures (id and value) and curves. Nothing
// with one line in *error when the text is not one.
std::optional<Report> ParseReportJson(const std::string& text, std::string* error);

// Takes the old report's figure values as each figure's `before` and adds its curves'
// series to the matching curves, named "... (before)".
void CompareWith(const Report& old, Report& report);
