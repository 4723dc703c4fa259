#pragma once
// report.html: one self-contained page (inline CSS and SVG, nothing fetched) with the device,
// format, date and version, the figures with their methods (limits and comparison where given),
// a plot per curve and the notes of the steps. Reads on screen and on paper. Any thread.

#include "headless/report_data.h"

#include <string>

std::string ReportHtmlText(const Report& report);

// The text with &, <, >, " and ' written as entities.
std::string HtmlEscaped(const std::string& text);
