#include "audio/sim/simulated_fir.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

namespace {

using Complex = std::complex<double>;

// At 0 Hz a capacitor is open and a constant phase undefined: the response is asked just above
// it and its real part kept, as a real filter's must be there and at Nyquist.
constexpr double kDcProbeHz = 1e-6;

// A Tukey window: flat over the middle half, where a response that settles within m / 4 frames
// of its centre lies untouched, then half a cosine down to 0 at either end, which ends the
// slow tails of a fractional delay or a constant phase smoothly. (A window curved at its
// centre, as Blackman's, would bend a resonance's response by a few parts in 1000.)
double Taper(int i) {
    constexpr int m = kSimFirTaps;
    const double from_flat = std::abs(i - m / 2) - m / 4;
    return from_flat <= 0 ? 1.0 : 0.5 * (1.0 + std::cos(std::numbers::pi * from_flat / (m / 4)));
}

// One entry of the response as an N-point spectrum: sampled at kSimFirTaps frequencies,
// delayed by the latency, tapered in time, zero-padded to N and scaled for the inverse.
std::vector<Complex> Design(const std::vector<Complex>& sampled, CInverseRealFft& inverse,
                            CRealFft& forward) {
    constexpr int m = kSimFirTaps;
    for (int k = 0; k <= m / 2; ++k) {
        // e^(-j pi k): a delay of m / 2 frames
        const Complex z = sampled[size_t(k)] * ((k % 2 == 0) ? 1.0 : -1.0);
        inverse.Input()[k] = (k == 0 || k == m / 2) ? Complex(z.real(), 0.0) : z;
    }
    inverse.Execute();
    const int n = forward.Size();
    std::fill(forward.Input(), forward.Input() + n, 0.0);
    for (int i = 0; i < m; ++i) {
        forward.Input()[i] = inverse.Output()[i] * Taper(i) / m / n;
    }
    forward.Execute();
    return std::vector<Complex>(forward.Output(), forward.Output() + forward.Bins());
}

} // namespace

CSimulatedFir::CSimulatedFir(const std::function<Matrix(double hz)>& response, int rate_hz) {
    constexpr int m = kSimFirTaps;
    std::vector<Complex> sampled[4];
    for (auto& entry : sampled) {
        entry.resize(m / 2 + 1);
    }
    for (int k = 0; k <= m / 2; ++k) {
        const double hz = k == 0 ? kDcProbeHz : double(k) * rate_hz / m;
        const Matrix h = response(hz);
        for (int e = 0; e < 4; ++e) {
            sampled[e][size_t(k)] = h[size_t(e)];
        }
    }
    const auto isConstant = [&](int e, double value) {
        return std::all_of(sampled[e].begin(), sampled[e].end(),
                           [value](Complex z) { return z == value; });
    };
    CInverseRealFft inverse(m);
    for (int out = 0; out < 2; ++out) {
        const int own = 2 * out + out;
        const int other = 2 * out + (1 - out);
        // A channel passed straight through is a plain delay: no transform needed.
        m_straight[out] = isConstant(own, 1.0) && isConstant(other, 0.0);
        for (int e : {own, other}) {
            if (!m_straight[out] && !isConstant(e, 0.0)) {
                m_spectra[e] = Design(sampled[e], inverse, m_forward);
            }
        }
    }
    for (int c = 0; c < 2; ++c) {
        m_history[c].assign(kFftSize, 0.0);
        m_inputSpectra[c].assign(size_t(m_forward.Bins()), Complex());
    }
}

void CSimulatedFir::Process(double* x1, double* x2, int frames) {
    for (int done = 0; done < frames;) {
        const int chunk = std::min(kMaxChunk, frames - done);
        double* const channels[2] = {x1 + done, x2 + done};
        ProcessChunk(channels, chunk);
        done += chunk;
    }
}

void CSimulatedFir::ProcessChunk(double* const* channels, int frames) {
    const int bins = m_forward.Bins();
    for (int c = 0; c < 2; ++c) {
        std::vector<double>& h = m_history[c];
        std::memmove(h.data(), h.data() + frames, sizeof(double) * size_t(kFftSize - frames));
        std::memcpy(h.data() + kFftSize - frames, channels[c], sizeof(double) * size_t(frames));
        if (!m_spectra[c].empty() || !m_spectra[2 + c].empty()) {
            std::memcpy(m_forward.Input(), h.data(), sizeof(double) * size_t(kFftSize));
            m_forward.Execute();
            std::copy(m_forward.Output(), m_forward.Output() + bins, m_inputSpectra[c].begin());
        }
    }
    // Overlap-save: of the circular convolution of the last kFftSize inputs, the newest
    // `frames` outputs are the linear one, since kFftSize - frames >= kSimFirTaps - 1.
    for (int out = 0; out < 2; ++out) {
        double* y = channels[out];
        if (m_straight[out]) {
            const double* from = m_history[out].data() + kFftSize - frames - kSimFirLatencyFrames;
            std::memcpy(y, from, sizeof(double) * size_t(frames));
            continue;
        }
        const auto& fromX1 = m_spectra[2 * out];
        const auto& fromX2 = m_spectra[2 * out + 1];
        Complex* spectrum = m_inverse.Input();
        for (int k = 0; k < bins; ++k) {
            Complex sum = 0;
            if (!fromX1.empty()) {
                sum += fromX1[size_t(k)] * m_inputSpectra[0][size_t(k)];
            }
            if (!fromX2.empty()) {
                sum += fromX2[size_t(k)] * m_inputSpectra[1][size_t(k)];
            }
            spectrum[k] = sum;
        }
        m_inverse.Execute();
        std::memcpy(y, m_inverse.Output() + kFftSize - frames, sizeof(double) * size_t(frames));
    }
}
