#pragma once
// One run of `tavrin report`: the limits and the older report read first (a fault in either
// ends the run before anything plays), the steps measured on the card, the three files written.
// Main thread; once per process (it installs the signal handlers and the alert sink).

#include "headless/report_card.h"
#include "headless/report_options.h"
#include "headless/report_steps.h"

int RunReport(const ReportOptions& options);

// The run on a card already open, for a card other than the engine's (settings shortened in
// tests). `device` names it in the report.
int RunReportOn(ICardCapture& card, const std::string& device, const ReportOptions& options,
                const ReportSettings& settings);
