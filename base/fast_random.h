#pragma once
// A small seeded generator (SplitMix64) for the test signal's dither and the simulated card's
// noise: no allocation, no lock, a handful of instructions per number, and the same sequence
// for the same seed on every machine, so a run that fails can be run again sample for sample.
// Not for anything that must be unpredictable. One thread at a time per generator.

#include <cmath>
#include <cstdint>
#include <numbers>

class CFastRandom {
public:
    explicit CFastRandom(uint64_t seed = 0) : m_state(seed) {}

    void Seed(uint64_t seed) { m_state = seed; }

    uint64_t Next() {
        uint64_t z = (m_state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }

    // Uniform over [0, 1), on 53 bits.
    double Uniform() { return double(Next() >> 11) * 0x1.0p-53; }

    // Triangular over (-1, 1), the difference of two uniforms: TPDF dither of +-1 LSB.
    double Triangular() { return Uniform() - Uniform(); }

    // Standard normal (Box-Muller; the second value of each pair is not kept, which keeps the
    // generator free of hidden state).
    double Gaussian() {
        const double u1 = 1.0 - Uniform(); // (0, 1]: the logarithm stays finite
        const double u2 = Uniform();
        return std::sqrt(-2.0 * std::log(u1)) * std::cos(2.0 * std::numbers::pi * u2);
    }

private:
    uint64_t m_state;
};
