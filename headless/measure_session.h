#pragma once
// One run of `tavrin measure`: opens the device, starts the generator and the recording it was
// asked for, prints a row per captured buffer until the time is up or a stop signal arrives,
// then stops the engine and finishes the WAV file. Main thread; once per process (it installs
// the signal handlers and the alert sink).

#include "headless/headless_run.h"
#include "headless/measure_options.h"

int RunMeasure(const MeasureOptions& options);
