#pragma once
// Test oracle: the THD+N a tone's own samples carry at a converter's depth (16 bits unless
// told), with nothing of the program's arithmetic. The tone is rounded to the nearest code, a
// least-squares sine with an offset at its frequency is taken out, and what is left (the rounding)
// is compared with the whole signal by RMS. That rounding spreads evenly from 0 to Nyquist (997 Hz
// and 44100 Hz share no factor, so the error repeats only after a whole second; nor do 997 and
// 96000), so a band keeps its share of it.

#include "tests/support/tone_fit.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

inline double RoundedToneThdnDb(double freq_hz, double level_dbfs, double band_lo_hz,
                                double band_hi_hz, int frames = 65536, double fs = 44100.0,
                                int bits = 16) {
    const double fullScale = std::ldexp(1.0, bits - 1);
    const double peak = fullScale * std::pow(10.0, level_dbfs / 20.0);
    std::vector<double> codes(frames), basis(size_t(3) * frames);
    for (int n = 0; n < frames; ++n) {
        const double angle = 2.0 * std::numbers::pi * std::fmod(freq_hz * n, fs) / fs;
        codes[n] = std::clamp(std::nearbyint(peak * std::sin(angle)), -fullScale, fullScale - 1);
        basis[3 * n] = 1.0;
        basis[3 * n + 1] = std::cos(angle);
        basis[3 * n + 2] = std::sin(angle);
    }
    std::vector<double> ata(9, 0.0), aty(3, 0.0);
    for (int n = 0; n < frames; ++n) {
        for (int i = 0; i < 3; ++i) {
            aty[i] += basis[3 * n + i] * codes[n];
            for (int j = 0; j < 3; ++j) {
                ata[3 * i + j] += basis[3 * n + i] * basis[3 * n + j];
            }
        }
    }
    const std::vector<double> x = tonefit::Solve(ata, aty);
    double rest = 0, whole = 0;
    for (int n = 0; n < frames; ++n) {
        const double fitted = x[0] + x[1] * basis[3 * n + 1] + x[2] * basis[3 * n + 2];
        rest += (codes[n] - fitted) * (codes[n] - fitted);
        whole += codes[n] * codes[n];
    }
    const double bandShare = (std::min(band_hi_hz, fs / 2) - band_lo_hz) / (fs / 2);
    return 10.0 * std::log10(rest / whole * bandShare);
}
