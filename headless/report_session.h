#pragma once
// One run of `tavrin report`: the limits and the older report read first (a fault in either
// ends the run before anything plays), the steps measured on the card, the three files written.
// Main thread; once per process (it installs the signal handlers and the alert sink).

#include "headless/report_options.h"

int RunReport(const ReportOptions& options);
