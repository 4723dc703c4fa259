#include "audio/sim/simulated_poly.h"

#include "base/pcm_format.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

namespace {

// Described at the panel's 44.1 kHz; only their ratio counts, so the filter follows any rate.
constexpr double kHighRateHz = double(kSampleRate) * kSimPolyOversampling;
// Halfway between the top of the band kept flat (20 kHz) and Nyquist, where the stopband starts.
constexpr double kCutoffHz = 21025.0;
// Kaiser's beta for 130 dB of stopband; with kSimPolyTaps taps the transition is then ~2.04 kHz
// wide, which the cutoff above fits between 20 kHz and 22.05 kHz.
constexpr double kKaiserBeta = 0.1102 * (130.0 - 8.7);

// Four running sums, so that the compiler may keep them in vector registers.
double Dot(const double* a, const double* b, int n) {
    double s[4] = {0, 0, 0, 0};
    int i = 0;
    for (; i + 4 <= n; i += 4) {
        for (int k = 0; k < 4; ++k) {
            s[k] += a[i + k] * b[i + k];
        }
    }
    for (; i < n; ++i) {
        s[0] += a[i] * b[i];
    }
    return (s[0] + s[1]) + (s[2] + s[3]);
}

std::vector<double> DesignLowpass() {
    constexpr int m = kSimPolyTaps;
    constexpr double centre = (m - 1) / 2.0;
    const double band = 2.0 * kCutoffHz / kHighRateHz;
    const double i0Beta = std::cyl_bessel_i(0.0, kKaiserBeta);
    std::vector<double> taps(m);
    double sum = 0;
    for (int i = 0; i < m; ++i) {
        const double t = i - centre;
        const double sinc =
            t == 0 ? 1.0 : std::sin(std::numbers::pi * band * t) / (std::numbers::pi * band * t);
        const double r = t / centre;
        const double window = std::cyl_bessel_i(0.0, kKaiserBeta * std::sqrt(1.0 - r * r)) / i0Beta;
        taps[size_t(i)] = band * sinc * window;
        sum += taps[size_t(i)];
    }
    for (double& tap : taps) {
        tap /= sum;
    }
    return taps;
}

} // namespace

CSimulatedPoly::CSimulatedPoly(double a2, double a3, bool x1_only)
    : m_a2(a2), m_a3(a3), m_x1Only(x1_only), m_taps(DesignLowpass()) {
    for (int p = 0; p < kSimPolyOversampling; ++p) {
        m_phases[p].assign(kPhaseTaps, 0.0);
        for (int i = 0; i < kPhaseTaps; ++i) {
            const int tap = kSimPolyOversampling * (kPhaseTaps - 1 - i) + p;
            if (tap < kSimPolyTaps) {
                m_phases[p][size_t(i)] = kSimPolyOversampling * m_taps[size_t(tap)];
            }
        }
    }
    for (int c = 0; c < 2; ++c) {
        m_input[c].assign(kPhaseTaps - 1 + kChunkFrames, 0.0);
        m_over[c].assign(kSimPolyTaps - 1 + kSimPolyOversampling * kChunkFrames, 0.0);
    }
    if (x1_only) {
        m_straight.assign(kSimPolyLatencyFrames + kChunkFrames, 0.0);
    }
}

void CSimulatedPoly::Process(double* x1, double* x2, int frames) {
    for (int done = 0; done < frames;) {
        const int chunk = std::min(kChunkFrames, frames - done);
        ProcessChunk(0, x1 + done, chunk);
        if (m_x1Only) {
            DelayChunk(x2 + done, chunk);
        } else {
            ProcessChunk(1, x2 + done, chunk);
        }
        done += chunk;
    }
}

void CSimulatedPoly::ProcessChunk(int channel, double* x, int frames) {
    constexpr int history = kPhaseTaps - 1;
    constexpr int overHistory = kSimPolyTaps - 1;
    double* in = m_input[channel].data();
    double* over = m_over[channel].data();
    std::memcpy(in + history, x, sizeof(double) * size_t(frames));
    for (int n = 0; n < frames; ++n) {
        for (int p = 0; p < kSimPolyOversampling; ++p) {
            const double v = Dot(m_phases[p].data(), in + n, kPhaseTaps);
            over[overHistory + kSimPolyOversampling * n + p] = v + v * v * (m_a2 + v * m_a3);
        }
    }
    // The taps are symmetric: taken forwards they are the convolution's reversed taps.
    for (int n = 0; n < frames; ++n) {
        x[n] = Dot(m_taps.data(), over + kSimPolyOversampling * n, kSimPolyTaps);
    }
    std::memmove(in, in + frames, sizeof(double) * size_t(history));
    std::memmove(over, over + kSimPolyOversampling * frames, sizeof(double) * size_t(overHistory));
}

void CSimulatedPoly::DelayChunk(double* x, int frames) {
    double* line = m_straight.data();
    std::memcpy(line + kSimPolyLatencyFrames, x, sizeof(double) * size_t(frames));
    std::memcpy(x, line, sizeof(double) * size_t(frames));
    std::memmove(line, line + frames, sizeof(double) * size_t(kSimPolyLatencyFrames));
}
