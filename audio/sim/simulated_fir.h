#pragma once
// A linear two-in, two-out stage of the simulated device under test whose exact response has no
// IIR form (a fractional delay, a voltage divider over an arbitrary network, a constant phase
// shift): an FIR made by sampling that response at kSimFirTaps frequencies, its impulse response
// centred on kSimFirLatencyFrames, left exact over the middle half and tapered beyond so that
// slow tails do not wrap round, then run by FFT overlap-save. Every output, even one
// that passes straight, comes out kSimFirLatencyFrames late, so channels stay aligned.
// A response whose impulse response settles within 8192 frames (~186 ms at 44.1 kHz) is matched
// to a few parts in 1e6; one with slower tails (a fractional delay, a constant phase) as well
// from 20 Hz to 21.9 kHz at 44.1 kHz (the same share of Nyquist at other rates), though not
// within a few hertz of 0 Hz or Nyquist. The taps are a number of frames whatever the rate, so
// the latency's duration and the finest detail held scale with it.
// Threads: built on any thread, then Process on one thread at a time; nothing is allocated
// after the constructor.

#include "base/pcm_format.h"
#include "fft/real_fft.h"

#include <array>
#include <complex>
#include <functional>
#include <vector>

inline constexpr int kSimFirTaps = 1 << 15;
inline constexpr int kSimFirLatencyFrames = kSimFirTaps / 2; // 16384 frames, ~371.5 ms at 44.1k

class CSimulatedFir {
public:
    // response(hz)[2 * out + in]: out_X = sum over in of H * in; hz from 0 to Nyquist of
    // `rate_hz`, the rate the stage works at.
    using Matrix = std::array<std::complex<double>, 4>;
    explicit CSimulatedFir(const std::function<Matrix(double hz)>& response,
                           int rate_hz = kSampleRate);

    // `frames` samples of each channel, fractions of full scale, in place.
    void Process(double* x1, double* x2, int frames);

private:
    void ProcessChunk(double* const* channels, int frames);

    static constexpr int kFftSize = 2 * kSimFirTaps;
    static constexpr int kMaxChunk = kFftSize - kSimFirTaps + 1;

    // m_spectra[2 * out + in]: empty where that input never reaches that output.
    std::vector<std::complex<double>> m_spectra[4];
    bool m_straight[2] = {false, false}; // output only delays its own input
    std::vector<double> m_history[2];    // the last kFftSize input frames per channel
    std::vector<std::complex<double>> m_inputSpectra[2];
    CRealFft m_forward{kFftSize};
    CInverseRealFft m_inverse{kFftSize};
};
