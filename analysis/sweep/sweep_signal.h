#pragma once
// The synchronized exponential sweep (Novak, Lotton and Simon, JAES 2015): a sine whose frequency
// rises exponentially from f1 to f2, with its rate chosen so that f1 L is a whole number. Then
// sin(N phase(t)) is the same sweep advanced by L ln N exactly, phase included, so each harmonic's
// impulse response lands L ln N before the linear one with its phase right.
//
// Plain arithmetic, deterministic, no state: any thread.

#include <cstdint>
#include <vector>

struct SweepSettings {
    double f1_hz = 10.0;
    double f2_hz = 22050.0;    // at most Nyquist
    int frames = 1 << 18;      // the whole capture: a power of two, 2^16..2^20
    double level_dbfs = -12.0; // AES17 RMS: 0 dBFS is a full-scale sine; -60..-1
    double rate_hz = 44100.0;  // the card's: 8000..384000
};

// The capture's length in seconds at its rate.
inline double SweepSeconds(const SweepSettings& settings) {
    return settings.frames / settings.rate_hz;
}

// What the settings make: the sweep occupies frames [0, sweep_frames) and silence follows, so a
// card's latency and a system's decay stay inside the capture.
struct SweepShape {
    double l_s = 0;         // L: seconds for the frequency to grow by e
    int cycles = 0;         // f1 L, a whole number
    int sweep_frames = 0;   // L ln(f2/f1) in frames, rounded down
    int fade_in_frames = 0; // raised-cosine fades, inside the sweep
    int fade_out_frames = 0;
    // Where the fade-out begins. Above it the sweep is quieter than its harmonics made earlier
    // at full level, so a harmonic read there would be divided up by the fade.
    double fade_out_hz = 0;
    double amplitude = 0; // peak, fraction of full scale
};

// The fraction of the capture kept silent after the sweep.
inline constexpr double kSweepTailFraction = 1.0 / 16;

// Throws std::invalid_argument, saying which, when a setting is out of range or the capture is
// too short to hold one whole cycle of f1 L.
SweepShape MakeSweepShape(const SweepSettings& settings);

// settings.frames samples, fractions of full scale.
std::vector<double> GenerateSweep(const SweepSettings& settings);

// Fractions of full scale to int16, rounded to nearest and held to the int16 range.
std::vector<int16_t> ToInt16(const std::vector<double>& samples);

// Harmonic order's impulse response lands this many seconds before the linear one.
double HarmonicAdvanceSeconds(const SweepShape& shape, int order);
