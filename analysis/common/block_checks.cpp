#include "analysis/common/block_checks.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

BlockChecks ReadBlock(const double* samples, int stride, int frames, double* out) {
    BlockChecks checks;
    double quarterSum[4] = {};
    double quarterSquares[4] = {};
    int quarterFrames[4] = {};
    CClipRun clip;
    for (int q = 0; q < 4; ++q) {
        const int begin = int(int64_t(frames) * q / 4);
        const int end = int(int64_t(frames) * (q + 1) / 4);
        quarterFrames[q] = end - begin;
        double sum = 0;
        double squares = 0;
        for (int k = begin; k < end; ++k) {
            const double v = samples[int64_t(k) * stride];
            out[k] = v;
            sum += v;
            squares += v * v;
            clip.Add(v);
        }
        quarterSum[q] = sum;
        quarterSquares[q] = squares;
        checks.sum += sum;
        checks.sumSquares += squares;
    }
    checks.clipped = clip.Clipped();
    const double mean = checks.sum / frames;
    checks.acPower = std::max(0.0, checks.sumSquares / frames - mean * mean);

    // Each quarter's mean square about the block's mean: sum (x - m)^2 = S2 - 2 m S1 + L m^2.
    double least = 0;
    double most = 0;
    for (int q = 0; q < 4; ++q) {
        const double power = std::max(
            0.0, (quarterSquares[q] - 2 * mean * quarterSum[q]) / quarterFrames[q] + mean * mean);
        least = q == 0 ? power : std::min(least, power);
        most = std::max(most, power);
    }
    checks.unsteady = most > least * std::pow(10.0, kUnsteadyDb / 10);
    return checks;
}
