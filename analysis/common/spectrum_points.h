#pragma once
// A spectrum of tens of thousands of bins reduced to the points a plot over a log frequency axis
// can show: the loudest bin of each of `bands` equal steps in log frequency, so a narrow
// harmonic is never averaged away. Any thread.

#include <vector>

struct SpectrumPoint {
    double freq_hz = 0;
    double level_db = 0;
};

// level_db: one value per bin, bin k at k x bin_hz. Bands with no bin (below the first bin's
// spacing at low frequencies) are skipped; bins outside lo_hz..hi_hz are left out.
std::vector<SpectrumPoint> PeakPerLogBand(const std::vector<double>& level_db, double bin_hz,
                                          double lo_hz, double hi_hz, int bands);
