#pragma once
// The polynomial stage of the simulated device under test, y = x + a2 x^2 + a3 x^3, as an analog
// stage followed by the card's anti-alias filter would give it: worked at kSimPolyOversampling
// times the sample rate between one lowpass that interpolates up and the same lowpass before
// decimating down. Harmonics up to 20 kHz come out as the polynomial makes them, those up to
// Nyquist rolled off as a converter's filter rolls them off, and those above are removed
// instead of folding back into the band as a polynomial at the sample rate would fold them.
// The lowpass is a Kaiser-windowed sinc of kSimPolyTaps taps at 176.4 kHz: linear phase, flat
// within 4e-6 dB up to 20 kHz, at least 129 dB down from 22.05 kHz up, so a cubic's products of
// anything up to Nyquist (3 x 22.05 kHz) stay in its stopband. Its taps are designed in
// fractions of the rate, so at any other rate the same holds scaled: at 96 kHz flat to 43.5 kHz,
// its stopband from Nyquist (48 kHz) up, as the converter's own filter would follow its rate.
// Both channels, even X2 passed straight when the stage is on X1 only, come out
// kSimPolyLatencyFrames late.
// Threads: built on any thread, then Process on one thread at a time; nothing is allocated
// after the constructor.

#include <vector>

inline constexpr int kSimPolyOversampling = 4;
inline constexpr int kSimPolyLatencyFrames = 184; // ~4.2 ms
// Odd, centred on 2 x kSimPolyLatencyFrames at the high rate: the two passes add up to a
// whole number of frames.
inline constexpr int kSimPolyTaps = 2 * kSimPolyOversampling * (kSimPolyLatencyFrames / 2) + 1;

class CSimulatedPoly {
public:
    CSimulatedPoly(double a2, double a3, bool x1_only);

    // `frames` samples of each channel, fractions of full scale, in place.
    void Process(double* x1, double* x2, int frames);

    // The lowpass's taps at the high rate, unit gain at 0 Hz.
    const std::vector<double>& Taps() const { return m_taps; }

private:
    void ProcessChunk(int channel, double* x, int frames);
    void DelayChunk(double* x, int frames);

    static constexpr int kChunkFrames = 1024;
    static constexpr int kPhaseTaps = kSimPolyLatencyFrames + 1;

    double m_a2, m_a3;
    bool m_x1Only;
    std::vector<double> m_taps;
    // m_phases[p][i]: the taps that make high-rate sample p of each frame from input frame
    // n - kSimPolyLatencyFrames + i, times kSimPolyOversampling for the zeros stuffed between.
    std::vector<double> m_phases[kSimPolyOversampling];
    std::vector<double> m_input[2]; // kPhaseTaps - 1 earlier frames, then the chunk
    std::vector<double> m_over[2];  // kSimPolyTaps - 1 earlier high-rate samples, then the chunk's
    std::vector<double> m_straight; // X2's delay line when the stage is on X1 only
};
