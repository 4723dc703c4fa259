#pragma once
// What `tavrin report` measured, as plain data for its files: figures (one number each, with
// its unit and the standard method that gives it), curves (x, y series), the steps' times and
// the notes of the steps that failed. Any thread.

#include <optional>
#include <string>
#include <vector>

struct ReportFigure {
    std::string id;    // stable, for limits and comparisons: "thd_m1dbfs_db_l"
    std::string label; // for a person: "THD at -1 dBFS, L"
    std::string unit;  // "dB", "%", "Hz", "dBFS", "dB(A)", "deg", "ms"
    std::string method;
    std::optional<double> value; // nothing: its step failed or the figure does not exist
    std::string step;
    // From a limits file: the bounds, and whether the value keeps within them (a figure not
    // measured does not).
    std::optional<double> min, max;
    std::optional<bool> pass;
    std::optional<double> before; // from a report compared against
};

struct ReportSeries {
    std::string name; // "L", "R", "L (before)"
    std::vector<double> x;
    std::vector<double> y;
};

struct ReportCurve {
    std::string id; // "response"
    std::string title;
    std::string x_label, y_label;
    bool log_x = true;
    std::vector<ReportSeries> series;
};

struct ReportStep {
    std::string name;
    double seconds = 0;
    bool failed = false;
    std::string note; // why it failed, or what it found
};

struct Report {
    std::string device;
    std::string format;                // for a person: "96 kHz/24-bit, stereo"
    int rate_hz = 44100;               // the card's rate
    std::string sample_format = "s16"; // as --format names it
    std::string date;                  // ISO 8601, UTC
    std::string version;
    std::vector<ReportStep> steps;
    std::vector<ReportFigure> figures;
    std::vector<ReportCurve> curves;
    std::string compared_with; // the old report's device and date, when one was given

    const ReportFigure* Figure(const std::string& id) const {
        for (const ReportFigure& figure : figures) {
            if (figure.id == id) {
                return &figure;
            }
        }
        return nullptr;
    }
};
