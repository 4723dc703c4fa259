#include "tests/analysis/test_signals.h"

#include "fft/real_fft.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <random>

std::vector<double> Synthesise(int frames, const std::vector<Partial>& partials, double rateHz) {
    std::vector<double> x(size_t(frames), 0.0);
    for (const Partial& p : partials) {
        const double w = 2 * kPi * p.freq_hz / rateHz;
        for (int k = 0; k < frames; ++k) {
            x[size_t(k)] += p.amplitude * std::cos(w * k + p.phase);
        }
    }
    return x;
}

std::vector<double> Quantise16(const std::vector<double>& x, bool dither, uint32_t seed) {
    return QuantiseBits(x, 16, dither, seed);
}

std::vector<double> QuantiseBits(const std::vector<double>& x, int bits, bool dither,
                                 uint32_t seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> uniform(-0.5, 0.5);
    const double scale = std::ldexp(1.0, bits - 1);
    std::vector<double> q(x.size());
    for (size_t k = 0; k < x.size(); ++k) {
        const double d = dither ? uniform(rng) + uniform(rng) : 0.0;
        q[k] = std::clamp(std::round(x[k] * scale + d), -scale, scale - 1) / scale;
    }
    return q;
}

double BandMeanSquare(const std::vector<double>& x, double loHz, double hiHz, double rateHz) {
    const int n = int(x.size());
    CRealFft fft(n);
    std::copy(x.begin(), x.end(), fft.Input());
    fft.Execute();
    double sum = 0;
    for (int k = 0; k <= n / 2; ++k) {
        const double hz = k * rateHz / n;
        if (hz >= loHz && hz <= hiHz) {
            sum += std::norm(fft.Output()[k]) * ((k == 0 || 2 * k == n) ? 1 : 2);
        }
    }
    return sum / (double(n) * n);
}

std::vector<double> Interleave(const std::vector<double>& x1, const std::vector<double>& x2) {
    std::vector<double> both(2 * x1.size());
    for (size_t k = 0; k < x1.size(); ++k) {
        both[2 * k] = x1[k];
        both[2 * k + 1] = x2[k];
    }
    return both;
}

double Db(double ratio) {
    return 20 * std::log10(ratio);
}
