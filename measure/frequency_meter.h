#pragma once
// The two-channel frequency meter: the strongest spectral component of X1 and of X2, in whole
// hertz, from one block of a captured buffer. Capture worker only; no state between calls.

#include "base/pcm_format.h"
#include "measure/fft.h"

#include <cstdint>

class IReadout;

// Hertz per bin of the transform over one block: 44100 / 2048 = 21.533203125.
inline constexpr double kHertzPerPeakBin = double(kSampleRate) / kPeakSamples;

// Bin index (0..1023) to the hertz a readout shows: cut toward zero, never rounded.
int PeakBinToHertz(int bin);

// block: 2048 interleaved frames (X1, X2), read only. Writes both readouts once each, X1 first.
void MeasureFrequencies(const int16_t* block, IReadout& x1Freq, IReadout& x2Freq);
