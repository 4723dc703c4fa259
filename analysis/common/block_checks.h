#pragma once
// One channel's block read into contiguous samples, with what decides whether it can be measured:
// its sums, whether it clipped, and whether its level held still. Any thread; no allocation.

#include "base/full_scale.h"

struct BlockChecks {
    double sum = 0;        // of the samples
    double sumSquares = 0; // of the samples
    double acPower = 0;    // mean square about the mean
    bool clipped = false;  // by CClipRun's rule
    // The quarters' RMS about the block's mean differ by more than kUnsteadyDb: a tone starting,
    // stopping or changing level within the block, which no steady-state figure describes.
    bool unsteady = false;
};

inline constexpr double kUnsteadyDb = 1.0;

// Copies samples[0], samples[stride], ... (frames of them) into out and checks them.
BlockChecks ReadBlock(const double* samples, int stride, int frames, double* out);
