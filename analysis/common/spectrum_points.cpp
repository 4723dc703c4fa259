#include "analysis/common/spectrum_points.h"

#include <algorithm>
#include <cmath>

std::vector<SpectrumPoint> PeakPerLogBand(const std::vector<double>& level_db, double bin_hz,
                                          double lo_hz, double hi_hz, int bands) {
    std::vector<SpectrumPoint> points;
    if (level_db.empty() || bin_hz <= 0 || lo_hz <= 0 || hi_hz <= lo_hz || bands < 1) {
        return points;
    }
    points.reserve(static_cast<size_t>(bands));
    const double ratio = std::log(hi_hz / lo_hz) / bands;
    const long last = static_cast<long>(level_db.size()) - 1;
    long bin = std::max(1L, static_cast<long>(std::ceil(lo_hz / bin_hz)));
    for (int band = 0; band < bands && bin <= last; ++band) {
        const double top_hz = lo_hz * std::exp(ratio * (band + 1));
        // The last band takes hi_hz itself, which rounding could leave out.
        const long top = band + 1 == bands
                             ? std::min(last, static_cast<long>(std::floor(hi_hz / bin_hz)))
                             : std::min(last, static_cast<long>(std::ceil(top_hz / bin_hz)) - 1);
        if (top < bin) {
            continue;
        }
        long loudest = bin;
        for (long k = bin + 1; k <= top; ++k) {
            if (level_db[static_cast<size_t>(k)] > level_db[static_cast<size_t>(loudest)]) {
                loudest = k;
            }
        }
        points.push_back({loudest * bin_hz, level_db[static_cast<size_t>(loudest)]});
        bin = top + 1;
    }
    return points;
}
