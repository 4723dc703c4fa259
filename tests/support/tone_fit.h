#pragma once
// Test oracle: the amplitudes of a few sinusoids of known frequencies in a block, from a linear
// least-squares fit of a constant plus a cosine and a sine at each frequency. Exact for a block
// made of those tones whatever its length (no window, no leakage); shares nothing with the
// program's own transforms. Header-only; plain double arithmetic.

#include <cmath>
#include <cstddef>
#include <numbers>
#include <utility>
#include <vector>

struct ToneFit {
    double offset = 0;              // the constant, in sample units
    std::vector<double> amplitudes; // peak, in sample units, one per frequency
};

namespace tonefit {

// Solves a x = b in place (Gaussian elimination, partial pivoting); a is n x n, row-major.
inline std::vector<double> Solve(std::vector<double> a, std::vector<double> b) {
    const size_t n = b.size();
    for (size_t col = 0; col < n; ++col) {
        size_t pivot = col;
        for (size_t r = col + 1; r < n; ++r) {
            if (std::abs(a[r * n + col]) > std::abs(a[pivot * n + col])) {
                pivot = r;
            }
        }
        for (size_t c = 0; c < n; ++c) {
            std::swap(a[col * n + c], a[pivot * n + c]);
        }
        std::swap(b[col], b[pivot]);
        for (size_t r = col + 1; r < n; ++r) {
            const double k = a[r * n + col] / a[col * n + col];
            for (size_t c = col; c < n; ++c) {
                a[r * n + c] -= k * a[col * n + c];
            }
            b[r] -= k * b[col];
        }
    }
    std::vector<double> x(n);
    for (size_t i = n; i-- > 0;) {
        double sum = b[i];
        for (size_t c = i + 1; c < n; ++c) {
            sum -= a[i * n + c] * x[c];
        }
        x[i] = sum / a[i * n + i];
    }
    return x;
}

} // namespace tonefit

// samples[0], samples[stride], ... (`frames` of them), taken at sampleRateHz.
template <typename Sample>
ToneFit FitTones(const Sample* samples, int stride, int frames, const std::vector<double>& freqsHz,
                 double sampleRateHz = 44100.0) {
    const size_t m = 1 + 2 * freqsHz.size();
    std::vector<double> ata(m * m, 0.0);
    std::vector<double> aty(m, 0.0);
    std::vector<double> row(m);
    for (int n = 0; n < frames; ++n) {
        row[0] = 1.0;
        for (size_t k = 0; k < freqsHz.size(); ++k) {
            // Reduced to one cycle first, so the angle stays exact however long the block.
            const double cycles = std::fmod(freqsHz[k] * n, sampleRateHz) / sampleRateHz;
            row[1 + 2 * k] = std::cos(2.0 * std::numbers::pi * cycles);
            row[2 + 2 * k] = std::sin(2.0 * std::numbers::pi * cycles);
        }
        const double y = double(samples[size_t(n) * size_t(stride)]);
        for (size_t i = 0; i < m; ++i) {
            aty[i] += row[i] * y;
            for (size_t j = 0; j < m; ++j) {
                ata[i * m + j] += row[i] * row[j];
            }
        }
    }
    const std::vector<double> x = tonefit::Solve(std::move(ata), std::move(aty));
    ToneFit fit;
    fit.offset = x[0];
    for (size_t k = 0; k < freqsHz.size(); ++k) {
        fit.amplitudes.push_back(std::hypot(x[1 + 2 * k], x[2 + 2 * k]));
    }
    return fit;
}
