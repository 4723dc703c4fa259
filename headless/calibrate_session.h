#pragma once
// One run of `tavrin calibrate`: an input's level read for a while, or an output's tone played
// for a while, and the volts at 0 dBFS that follow from the voltmeter's reading stored for the
// device and channel. Main thread; once per process (it installs the signal handlers and the
// alert sink).

#include "headless/calibrate_options.h"
#include "headless/headless_run.h"

// Exit status of an input reading stopped by Ctrl-C or SIGTERM before it was complete:
// nothing is stored.
inline constexpr int kExitCalibrationStopped = 1;

int RunCalibrate(const CalibrateOptions& options);
