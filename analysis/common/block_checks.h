#pragma once
// One channel's block read into contiguous samples, with what decides whether it can be measured:
// its sums, whether it clipped, and whether its level held still. Any thread; no allocation.

struct BlockChecks {
    double sum = 0;        // of the samples
    double sumSquares = 0; // of the samples
    double acPower = 0;    // mean square about the mean
    // A run of samples at full scale: an int16 capture pinned at -32768 or 32767.
    bool clipped = false;
    // The quarters' RMS about the block's mean differ by more than kUnsteadyDb: a tone starting,
    // stopping or changing level within the block, which no steady-state figure describes.
    bool unsteady = false;
};

inline constexpr double kClipLevel = 32767.0 / 32768.0; // fractions of full scale
// One sample at full scale is a peak that just reaches it; two in a row is a flattened top.
inline constexpr int kClipRunSamples = 2;
inline constexpr double kUnsteadyDb = 1.0;

// Copies samples[0], samples[stride], ... (frames of them) into out and checks them.
BlockChecks ReadBlock(const double* samples, int stride, int frames, double* out);
