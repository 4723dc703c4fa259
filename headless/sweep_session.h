#pragma once
// One run of `tavrin sweep`: the capture started, the sweep played once (or averaged), the
// response analysed and written; a gap in the capture is measured again once. Main thread; once
// per process (it installs the signal handlers and the alert sink).

#include "headless/headless_run.h"
#include "headless/sweep_options.h"

// Exit status of a run stopped by Ctrl-C or SIGTERM before the sweep had come back.
inline constexpr int kExitSweepStopped = 1;
// Exit status of a measurement refused: a gap twice, clipping, or no sweep back.
inline constexpr int kExitSweepRefused = 4;

int RunSweep(const SweepOptions& options);
