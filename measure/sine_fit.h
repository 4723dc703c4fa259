#pragma once
// Least-squares fit of one sinusoid plus a constant to a block of samples: the precise frequency
// behind the tone estimator. Plain functions over plain data; any thread, no allocation.

#include <optional>
#include <span>

struct SineFit {
    double hertz;      // at the block's sample rate
    double amplitude;  // peak, in sample units
    double offset;     // the constant term, in sample units
    double phase;      // radians: the tone is amplitude x cos(phase) at the block's middle
    double sigmaHertz; // standard uncertainty of hertz implied by what the fit leaves over
};

// When a fit gives up. The defaults suit a start from a coarse search.
struct FitLimits {
    int maxSteps = 8; // Gauss-Newton steps, each a pass over the samples
    // Least share of the samples' power about their mean that the sine at the best start must
    // carry; 0 tries any start.
    double leastStartShare = 0;
};

// What the fit needs of the block besides its correlations; a caller that measured the block's
// levels has both already (exact, for integer samples).
struct BlockSums {
    double sum;        // of x
    double sumSquares; // of x squared
};

// x: samples at kSampleRate; sums: over x. Starts from whichever of startHertz explains most of x
// (a start equal to the best so far is not tried again), then refines the frequency by Gauss-Newton
// steps, the first from the best start. Nothing when the best start falls short of
// limits.leastStartShare, or the steps do not settle within limits.maxSteps, or they leave
// 10 Hz .. 22 kHz, where the model cannot tell a tone from a constant or from the Nyquist alias.
std::optional<SineFit> FitSine(std::span<const double> x, const BlockSums& sums,
                               std::span<const double> startHertz, const FitLimits& limits = {});

// The same for a block at sampleRateHz: the fit works in radians per sample, so only the hertz
// and the upper limit move (22 kHz at 44.1 kHz stays the same share of the rate below Nyquist).
std::optional<SineFit> FitSine(std::span<const double> x, const BlockSums& sums,
                               std::span<const double> startHertz, const FitLimits& limits,
                               double sampleRateHz);
