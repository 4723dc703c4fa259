#include "tests/analysis/impedance_signals.h"

#include "tests/analysis/test_signals.h"

#include <algorithm>
#include <cmath>
#include <random>

std::vector<double> ChainBlock(const ChainSignal& s, int frames, int64_t first) {
    const std::complex<double> h = s.r_ref_ohm / (s.z_ohm + s.r_ref_ohm);
    const std::complex<double> v1 = s.x1_amplitude * s.x1_gain;
    const std::complex<double> v2 = s.x1_amplitude * h;
    std::mt19937 rng(s.seed);
    std::normal_distribution<double> noise(0.0, std::pow(10.0, s.noise_dbfs / 20));
    const double codes = std::ldexp(1.0, s.bits - 1);
    const auto quantise = [codes](double x) {
        return std::clamp(std::round(x * codes), -codes, codes - 1) / codes;
    };
    std::vector<double> block(2 * size_t(frames));
    for (int k = 0; k < frames; ++k) {
        const double wt = 2 * kPi * s.freq_hz * double(first + k) / kRate + s.phase;
        block[2 * size_t(k)] = quantise(std::abs(v1) * std::sin(wt + std::arg(v1)) + noise(rng));
        block[2 * size_t(k) + 1] =
            quantise(std::abs(v2) * std::sin(wt + std::arg(v2)) + noise(rng));
    }
    return block;
}

std::complex<double> SeriesRlc(double freq_hz, double r_ohm, double l_h, double c_f) {
    const double w = 2 * kPi * freq_hz;
    return {r_ohm, w * l_h - (c_f > 0 ? 1 / (w * c_f) : 0.0)};
}

std::complex<double> Parallel(std::complex<double> a, std::complex<double> b) {
    return a * b / (a + b);
}
