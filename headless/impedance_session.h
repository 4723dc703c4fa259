#pragma once
// One run of `tavrin impedance`: opens the device, plays the test tone (or listens for an
// external one), and prints a row per block, or steps the tone over a sweep and prints its curve
// at the end, until the time is up, the sweep ends or a stop signal arrives. Main thread; once
// per process (it installs the signal handlers and the alert sink).

#include "headless/headless_run.h"
#include "headless/impedance_options.h"

// Every block (or every point of a sweep) refused: nothing measured, and the reason said.
inline constexpr int kExitRefused = 4;

int RunImpedance(const ImpedanceOptions& options);
