#pragma once
// The limits a production line holds a report to: a JSON object of figure ids, each with a
// "min", a "max" or both, e.g. {"thd_m1dbfs_db_l": {"max": -80}}. Plain data and parsing; any
// thread.

#include "headless/report_data.h"

#include <optional>
#include <string>
#include <vector>

struct FigureLimit {
    std::string id;
    std::optional<double> min, max;
};

// The limits in `text`, each naming a figure of `table`; nothing with one line in *error naming
// the first fault (an unknown figure, a bound that is not a number, min above max, JSON that
// does not parse).
std::optional<std::vector<FigureLimit>>
ParseLimits(const std::string& text, const std::vector<ReportFigure>& table, std::string* error);

// Marks each limited figure pass or fail; the ids of those that fail, in the report's order.
std::vector<std::string> ApplyLimits(const std::vector<FigureLimit>& limits, Report& report);
