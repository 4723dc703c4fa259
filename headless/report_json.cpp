#include "headless/report_json.h"

#include <nlohmann/json.hpp>

#include <cmath>
#include <cstdio>

namespace {

using nlohmann::json;

// NaN and infinity are not JSON: a figure without a value is null.
json Number(const std::optional<double>& value) {
    return value && std::isfinite(*value) ? json(*value) : json(nullptr);
}

json Numbers(const std::vector<double>& values) {
    json list = json::array();
    for (const double v : values) {
        list.push_back(std::isfinite(v) ? json(v) : json(nullptr));
    }
    return list;
}

// A CSV field: quoted when it holds a comma, a quote or a line break.
std::string Field(const std::string& text) {
    if (text.find_first_of(",\"\n") == std::string::npos) {
        return text;
    }
    std::string quoted = "\"";
    for (const char c : text) {
        quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    }
    return quoted + "\"";
}

std::string Value(const std::optional<double>& value) {
    if (!value || !std::isfinite(*value)) {
        return "";
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", *value);
    return text;
}

} // namespace

std::string ReportJsonText(const Report& report) {
    json root;
    root["program"] = "tavrin report";
    root["version"] = report.version;
    root["device"] = report.device;
    root["format"] = report.format;
    root["rate_hz"] = report.rate_hz;
    root["sample_format"] = report.sample_format;
    root["date"] = report.date;
    if (!report.compared_with.empty()) {
        root["compared_with"] = report.compared_with;
    }
    json steps = json::array();
    for (const ReportStep& step : report.steps) {
        steps.push_back({{"name", step.name},
                         {"seconds", step.seconds},
                         {"failed", step.failed},
                         {"note", step.note}});
    }
    root["steps"] = steps;
    json figures = json::array();
    for (const ReportFigure& f : report.figures) {
        json entry = {{"id", f.id},     {"label", f.label},   {"value", Number(f.value)},
                      {"unit", f.unit}, {"method", f.method}, {"step", f.step}};
        if (f.min || f.max) {
            entry["min"] = Number(f.min);
            entry["max"] = Number(f.max);
            entry["pass"] = f.pass.value_or(false);
        }
        if (f.before) {
            entry["before"] = Number(f.before);
        }
        figures.push_back(entry);
    }
    root["figures"] = figures;
    json curves = json::array();
    for (const ReportCurve& c : report.curves) {
        json series = json::array();
        for (const ReportSeries& s : c.series) {
            series.push_back({{"name", s.name}, {"x", Numbers(s.x)}, {"y", Numbers(s.y)}});
        }
        curves.push_back({{"id", c.id},
                          {"title", c.title},
                          {"x_label", c.x_label},
                          {"y_label", c.y_label},
                          {"log_x", c.log_x},
                          {"series", series}});
    }
    root["curves"] = curves;
    return root.dump(1) + "\n";
}

std::string ReportCsvText(const Report& report) {
    std::string text = "id,label,value,unit,method,min,max,verdict,before,difference\n";
    for (const ReportFigure& f : report.figures) {
        std::optional<double> difference;
        if (f.value && f.before) {
            difference = *f.value - *f.before;
        }
        text += Field(f.id) + "," + Field(f.label) + "," + Value(f.value) + "," + Field(f.unit) +
                "," + Field(f.method) + "," + Value(f.min) + "," + Value(f.max) + "," +
                (f.pass ? (*f.pass ? "pass" : "fail") : "") + "," + Value(f.before) + "," +
                Value(difference) + "\n";
    }
    return text;
}

std::optional<Report> ParseReportJson(const std::string& text, std::string* error) {
    const json root = json::parse(text, nullptr, false);
    if (root.is_discarded() || !root.is_object() || !root.contains("figures") ||
        !root["figures"].is_array()) {
        *error = "not a report.json of tavrin report";
        return std::nullopt;
    }
    Report report;
    report.device = root.value("device", "");
    report.date = root.value("date", "");
    report.format = root.value("format", "");
    report.rate_hz = root.value("rate_hz", 44100);
    report.sample_format = root.value("sample_format", "s16");
    for (const json& f : root["figures"]) {
        if (!f.is_object() || !f.contains("id") || !f["id"].is_string()) {
            continue;
        }
        ReportFigure figure;
        figure.id = f["id"].get<std::string>();
        if (f.contains("value") && f["value"].is_number()) {
            figure.value = f["value"].get<double>();
        }
        report.figures.push_back(figure);
    }
    if (root.contains("curves") && root["curves"].is_array()) {
        for (const json& c : root["curves"]) {
            if (!c.is_object() || !c.contains("series") || !c["series"].is_array()) {
                continue;
            }
            ReportCurve curve;
            curve.id = c.value("id", "");
            for (const json& s : c["series"]) {
                ReportSeries series;
                series.name = s.value("name", "");
                const json& xs = s.value("x", json::array());
                const json& ys = s.value("y", json::array());
                for (size_t i = 0; i < xs.size() && i < ys.size(); ++i) {
                    if (xs[i].is_number() && ys[i].is_number()) {
                        series.x.push_back(xs[i].get<double>());
                        series.y.push_back(ys[i].get<double>());
                    }
                }
                curve.series.push_back(series);
            }
            report.curves.push_back(curve);
        }
    }
    return report;
}

void CompareWith(const Report& old, Report& report) {
    report.compared_with = old.device + ", " + old.date;
    for (ReportFigure& figure : report.figures) {
        if (const ReportFigure* before = old.Figure(figure.id)) {
            figure.before = before->value;
        }
    }
    for (ReportCurve& curve : report.curves) {
        for (const ReportCurve& was : old.curves) {
            if (was.id != curve.id) {
                continue;
            }
            for (ReportSeries series : was.series) {
                series.name += " (before)";
                curve.series.push_back(std::move(series));
            }
        }
    }
}
