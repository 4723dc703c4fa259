#pragma once
// The command line of `tavrin report`: one run of every standard measurement through the card,
// written as report.html, report.json and summary.csv in a folder, optionally compared with an
// older report.json and held to limits. Plain data and a parser; any thread.

#include "headless/run_options.h"

#include <optional>
#include <string>
#include <vector>

// Exit statuses of a report beyond the shared ones (headless_run.h).
inline constexpr int kExitReportStopped = 1;    // Ctrl-C or SIGTERM before the end
inline constexpr int kExitReportStepFailed = 4; // a step failed twice; every limit held
inline constexpr int kExitReportOutOfLimits = 5;

struct ReportOptions : RunOptions {
    std::string out_dir;
    std::optional<std::string> compare; // an older report.json
    std::optional<std::string> limits;  // a limits file (report_limits.h)
};

// args: the arguments after "report". False with a one-line reason in *error.
bool ParseReportOptions(const std::vector<std::string>& args, ReportOptions* options,
                        std::string* error);

std::string ReportUsage();
