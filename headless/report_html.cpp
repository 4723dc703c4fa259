#include "headless/report_html.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

constexpr const char* kStyle = R"(
body { font-family: sans-serif; margin: 2em auto; max-width: 60em; color: #222; }
h1 { font-size: 1.6em; } h2 { font-size: 1.2em; margin-top: 1.6em; }
table { border-collapse: collapse; width: 100%; font-size: 0.9em; }
th, td { border-bottom: 1px solid #ccc; padding: 0.2em 0.5em; text-align: left; }
td.num { text-align: right; font-variant-numeric: tabular-nums; }
.pass { color: #070; } .fail { color: #b00; font-weight: bold; }
.plot { page-break-inside: avoid; break-inside: avoid; margin: 1em 0; }
svg { width: 100%; height: auto; } svg text { font-size: 11px; font-family: sans-serif; }
@media print { body { margin: 0; max-width: none; font-size: 10pt; }
  h2 { page-break-after: avoid; break-after: avoid; } tr { page-break-inside: avoid; } }
)";

const char* const kColours[] = {"#1f77b4", "#d62728", "#2ca02c", "#9467bd", "#ff7f0e", "#8c564b"};

std::string Format(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::string Number(const std::optional<double>& value) {
    return value && std::isfinite(*value) ? Format("%.4g", *value) : "";
}

// A figure as a reader wants it: levels to a thousandth of a dB, frequencies to a tenth of a
// hertz, percentages to three significant digits however small. sign: "+" before a difference.
std::string Shown(const std::optional<double>& value, const std::string& unit,
                  const char* sign = "") {
    if (!value || !std::isfinite(*value)) {
        return "";
    }
    const std::string plus = std::string("%") + sign;
    if (unit == "%") {
        return Format((plus + ".3g").c_str(), *value);
    }
    if (unit == "Hz") {
        return Format((plus + ".1f").c_str(), *value);
    }
    return Format((plus + ".3f").c_str(), *value);
}

// Round steps for an axis from lo to hi: 1, 2 or 5 times a power of ten.
double NiceStep(double span) {
    const double raw = span / 6;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (const double m : {1.0, 2.0, 5.0}) {
        if (raw <= m * power) {
            return m * power;
        }
    }
    return 10 * power;
}

std::string Plot(const ReportCurve& curve) {
    constexpr double kW = 720, kH = 320, kLeft = 60, kRight = 110, kTop = 20, kBottom = 40;
    double xlo = 1e300, xhi = -1e300, ylo = 1e300, yhi = -1e300;
    for (const ReportSeries& s : curve.series) {
        for (size_t i = 0; i < s.x.size(); ++i) {
            if (std::isfinite(s.y[i]) && (!curve.log_x || s.x[i] > 0)) {
                xlo = std::min(xlo, s.x[i]);
                xhi = std::max(xhi, s.x[i]);
                ylo = std::min(ylo, s.y[i]);
                yhi = std::max(yhi, s.y[i]);
            }
        }
    }
    if (xlo > xhi) {
        return "<p>No points.</p>\n";
    }
    if (yhi - ylo < 1) {
        ylo -= 0.5;
        yhi += 0.5;
    }
    const double ystep = NiceStep(yhi - ylo);
    ylo = std::floor(ylo / ystep) * ystep;
    yhi = std::ceil(yhi / ystep) * ystep;
    if (xhi <= xlo) {
        xhi = curve.log_x ? xlo * 2 : xlo + 1;
    }
    auto X = [&](double x) {
        const double t =
            curve.log_x ? std::log10(x / xlo) / std::log10(xhi / xlo) : (x - xlo) / (xhi - xlo);
        return kLeft + t * (kW - kLeft - kRight);
    };
    auto Y = [&](double y) { return kTop + (yhi - y) / (yhi - ylo) * (kH - kTop - kBottom); };
    std::string svg = "<svg viewBox=\"0 0 " + Format("%.0f", kW) + " " + Format("%.0f", kH) +
                      "\" role=\"img\">\n";
    svg += "<rect x=\"" + Format("%.1f", kLeft) + "\" y=\"" + Format("%.1f", kTop) + "\" width=\"" +
           Format("%.1f", kW - kLeft - kRight) + "\" height=\"" +
           Format("%.1f", kH - kTop - kBottom) + "\" fill=\"none\" stroke=\"#888\"/>\n";
    for (double y = ylo; y <= yhi + ystep / 2; y += ystep) {
        svg += "<line x1=\"" + Format("%.1f", kLeft) + "\" x2=\"" + Format("%.1f", kW - kRight) +
               "\" y1=\"" + Format("%.1f", Y(y)) + "\" y2=\"" + Format("%.1f", Y(y)) +
               "\" stroke=\"#ddd\"/><text x=\"" + Format("%.1f", kLeft - 4) + "\" y=\"" +
               Format("%.1f", Y(y) + 4) + "\" text-anchor=\"end\">" + Format("%g", y) + "</text>\n";
    }
    std::vector<double> ticks;
    if (curve.log_x) {
        // 1, 2 and 5 of each decade the data spans.
        for (double decade = std::pow(10.0, std::floor(std::log10(xlo))); decade <= xhi;
             decade *= 10) {
            for (const double m : {1.0, 2.0, 5.0}) {
                if (m * decade >= xlo * 0.999 && m * decade <= xhi * 1.001) {
                    ticks.push_back(m * decade);
                }
            }
        }
    } else {
        const double xstep = NiceStep(xhi - xlo);
        for (double x = std::ceil(xlo / xstep) * xstep; x <= xhi + xstep / 2; x += xstep) {
            ticks.push_back(x);
        }
    }
    for (const double x : ticks) {
        svg += "<line x1=\"" + Format("%.1f", X(x)) + "\" x2=\"" + Format("%.1f", X(x)) +
               "\" y1=\"" + Format("%.1f", kTop) + "\" y2=\"" + Format("%.1f", kH - kBottom) +
               "\" stroke=\"#ddd\"/><text x=\"" + Format("%.1f", X(x)) + "\" y=\"" +
               Format("%.1f", kH - kBottom + 14) + "\" text-anchor=\"middle\">" + Format("%g", x) +
               "</text>\n";
    }
    svg += "<text x=\"" + Format("%.1f", (kLeft + kW - kRight) / 2) + "\" y=\"" +
           Format("%.1f", kH - 6) + "\" text-anchor=\"middle\">" + HtmlEscaped(curve.x_label) +
           "</text>\n<text x=\"12\" y=\"" + Format("%.1f", kH / 2) +
           "\" transform=\"rotate(-90 12 " + Format("%.1f", kH / 2) +
           ")\" text-anchor=\"middle\">" + HtmlEscaped(curve.y_label) + "</text>\n";
    for (size_t k = 0; k < curve.series.size(); ++k) {
        const ReportSeries& s = curve.series[k];
        const std::string colour = kColours[k % std::size(kColours)];
        const bool before = s.name.find("(before)") != std::string::npos;
        std::string points;
        for (size_t i = 0; i < s.x.size(); ++i) {
            if (std::isfinite(s.y[i]) && s.x[i] >= xlo && s.x[i] <= xhi) {
                points += Format("%.1f", X(s.x[i])) + "," + Format("%.1f", Y(s.y[i])) + " ";
            }
        }
        svg += "<polyline fill=\"none\" stroke=\"" + colour + "\" stroke-width=\"1.5\"" +
               (before ? " stroke-dasharray=\"4 3\"" : "") + " points=\"" + points + "\"/>\n";
        const double ly = kTop + 14 + 16 * double(k);
        svg += "<line x1=\"" + Format("%.1f", kW - kRight + 8) + "\" x2=\"" +
               Format("%.1f", kW - kRight + 28) + "\" y1=\"" + Format("%.1f", ly - 4) + "\" y2=\"" +
               Format("%.1f", ly - 4) + "\" stroke=\"" + colour +
               "\" stroke-width=\"2\"/><text x=\"" + Format("%.1f", kW - kRight + 32) + "\" y=\"" +
               Format("%.1f", ly) + "\">" + HtmlEscaped(s.name) + "</text>\n";
    }
    return svg + "</svg>\n";
}

} // namespace

std::string HtmlEscaped(const std::string& text) {
    std::string out;
    for (const char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&#39;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::string ReportHtmlText(const Report& report) {
    const bool limits = std::any_of(report.figures.begin(), report.figures.end(),
                                    [](const ReportFigure& f) { return f.pass.has_value(); });
    const bool compare = !report.compared_with.empty();
    std::string html = "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
                       "<title>Sound card report: " +
                       HtmlEscaped(report.device) + "</title>\n<style>" + kStyle +
                       "</style>\n</head>\n<body>\n";
    html += "<h1>Sound card report</h1>\n<table class=\"about\">\n";
    for (const auto& [name, value] :
         {std::pair{"Device", report.device}, std::pair{"Format", report.format},
          std::pair{"Date", report.date}, std::pair{"Program", "tavrin " + report.version}}) {
        html += std::string("<tr><th>") + name + "</th><td>" + HtmlEscaped(value) + "</td></tr>\n";
    }
    if (compare) {
        html +=
            "<tr><th>Compared with</th><td>" + HtmlEscaped(report.compared_with) + "</td></tr>\n";
    }
    html += "</table>\n<h2 id=\"summary\">Summary</h2>\n<table>\n<tr><th>Figure</th><th>Value</th>"
            "<th>Unit</th>";
    html += limits ? "<th>Limits</th><th>Verdict</th>" : "";
    html += compare ? "<th>Before</th><th>Difference</th>" : "";
    html += "<th>Method</th></tr>\n";
    for (const ReportFigure& f : report.figures) {
        html += "<tr><td>" + HtmlEscaped(f.label) + "</td><td class=\"num\">" +
                (f.value ? Shown(f.value, f.unit) : "&mdash;") + "</td><td>" + HtmlEscaped(f.unit) +
                "</td>";
        if (limits) {
            std::string bounds = f.min ? Number(f.min) + " &le; " : "";
            bounds += f.min || f.max ? "x" : "";
            bounds += f.max ? " &le; " + Number(f.max) : "";
            html += "<td>" + bounds + "</td><td class=\"" +
                    (f.pass ? (*f.pass ? "pass\">pass" : "fail\">FAIL") : "\">") + "</td>";
        }
        if (compare) {
            const std::optional<double> difference =
                f.value && f.before ? std::optional(*f.value - *f.before) : std::nullopt;
            html += "<td class=\"num\">" + Shown(f.before, f.unit) + "</td><td class=\"num\">" +
                    Shown(difference, f.unit, "+") + "</td>";
        }
        html += "<td>" + HtmlEscaped(f.method) + "</td></tr>\n";
    }
    html += "</table>\n";
    for (const ReportCurve& curve : report.curves) {
        html += "<div class=\"plot\">\n<h2 id=\"" + HtmlEscaped(curve.id) + "\">" +
                HtmlEscaped(curve.title) + "</h2>\n" + Plot(curve) + "</div>\n";
    }
    html += "<h2 id=\"steps\">Steps</h2>\n<table>\n<tr><th>Step</th><th>Time</th><th>Result</th>"
            "<th>Note</th></tr>\n";
    for (const ReportStep& step : report.steps) {
        html += "<tr><td>" + HtmlEscaped(step.name) + "</td><td class=\"num\">" +
                Format("%.2f s", step.seconds) + "</td><td class=\"" +
                (step.failed ? "fail\">failed" : "pass\">done") + "</td><td>" +
                HtmlEscaped(step.note) + "</td></tr>\n";
    }
    html += "</table>\n</body>\n</html>\n";
    return html;
}
