#include "headless/report_limits.h"

#include <nlohmann/json.hpp>

#include <algorithm>

namespace {

bool Fail(std::string* error, const std::string& text) {
    *error = text;
    return false;
}

// One bound: a finite number, or absent.
bool ReadBound(const nlohmann::json& entry, const std::string& id, const char* key,
               std::optional<double>* bound, std::string* error) {
    if (!entry.contains(key)) {
        return true;
    }
    const nlohmann::json& value = entry.at(key);
    if (!value.is_number()) {
        return Fail(error,
                    "limits: '" + id + "': " + key + " must be a number, not " + value.dump());
    }
    *bound = value.get<double>();
    return true;
}

} // namespace

std::optional<std::vector<FigureLimit>>
ParseLimits(const std::string& text, const std::vector<ReportFigure>& table, std::string* error) {
    const nlohmann::json root = nlohmann::json::parse(text, nullptr, false);
    if (root.is_discarded()) {
        *error = "limits: not JSON";
        return std::nullopt;
    }
    if (!root.is_object()) {
        *error = "limits: the file must hold one object of figure ids";
        return std::nullopt;
    }
    std::vector<FigureLimit> limits;
    for (const auto& [id, entry] : root.items()) {
        const bool known = std::any_of(table.begin(), table.end(),
                                       [&](const ReportFigure& f) { return f.id == id; });
        if (!known) {
            *error = "limits: unknown figure '" + id + "'";
            return std::nullopt;
        }
        if (!entry.is_object()) {
            *error = "limits: '" + id + "' must be an object with min, max or both";
            return std::nullopt;
        }
        for (const auto& [key, value] : entry.items()) {
            if (key != "min" && key != "max") {
                *error = "limits: '" + id + "': unknown key '" + key + "' (min or max)";
                return std::nullopt;
            }
        }
        FigureLimit limit{id, {}, {}};
        if (!ReadBound(entry, id, "min", &limit.min, error) ||
            !ReadBound(entry, id, "max", &limit.max, error)) {
            return std::nullopt;
        }
        if (!limit.min && !limit.max) {
            *error = "limits: '" + id + "' has neither min nor max";
            return std::nullopt;
        }
        if (limit.min && limit.max && *limit.min > *limit.max) {
            *error = "limits: '" + id + "': min lies above max";
            return std::nullopt;
        }
        limits.push_back(limit);
    }
    return limits;
}

std::vector<std::string> ApplyLimits(const std::vector<FigureLimit>& limits, Report& report) {
    std::vector<std::string> failed;
    for (ReportFigure& figure : report.figures) {
        for (const FigureLimit& limit : limits) {
            if (limit.id != figure.id) {
                continue;
            }
            figure.min = limit.min;
            figure.max = limit.max;
            const bool pass = figure.value && (!limit.min || *figure.value >= *limit.min) &&
                              (!limit.max || *figure.value <= *limit.max);
            figure.pass = pass;
            if (!pass) {
                failed.push_back(figure.id);
            }
        }
    }
    return failed;
}
