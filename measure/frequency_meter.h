#pragma once
// The two-channel frequency meter: the strongest spectral component of X1 and of X2, in whole
// hertz, from one block of a captured buffer. Capture worker only; no state between calls.

#include <cstdint>

class IReadout;

// Hertz per bin of a 2048-sample transform at 44100 samples per second.
inline constexpr double kHertzPerPeakBin = 44100.0 / 2048.0; // 21.533203125

// Bin index (0..1023) to the hertz a readout shows: cut toward zero, never rounded.
int PeakBinToHertz(int bin);

// block: 2048 interleaved frames (X1, X2), read only. Writes both readouts once each, X1 first.
void MeasureFrequencies(const int16_t* block, IReadout& x1Freq, IReadout& x2Freq);
