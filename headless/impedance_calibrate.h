#pragma once
// `tavrin impedance --calibrate`: the correction a run measured stored for the card in the file
// the impedance window keeps, and `--calibrate clear`. Main thread.

#include "analysis/impedance/impedance_live.h"
#include "headless/impedance_options.h"

#include <optional>
#include <string>

// Forgets the card's match, open and short. The exit status.
int ClearImpedanceCalibration(const ImpedanceOptions& options);

// The correction measured by the run (one live reading, or a finished sweep's points), worked
// out with the run's corrections (an --input-impedance given included) and stored as the
// card's; stderr says what was stored and what could not be. The exit status.
int StoreImpedanceCalibration(const ImpedanceOptions& options, const std::string& device,
                              const ImpedanceCorrections& used,
                              const std::optional<ImpedanceLiveReading>& reading,
                              const CImpedanceSweep* sweep);

// After an open that could not be read (a small R_ref leaves its X2 below what can be read): a
// small part needs only the short.
void SayShortAlone();
