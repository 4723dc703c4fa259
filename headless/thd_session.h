#pragma once
// One run of `tavrin thd`: opens the device, plays the test signal it was asked for, runs the
// distortion monitor on the capture and prints a row per block until the time is up or a stop
// signal arrives, then stops the engine. Main thread; once per process (it installs the signal
// handlers and the alert sink).

#include "headless/headless_run.h"
#include "headless/thd_options.h"

int RunThd(const ThdOptions& options);
