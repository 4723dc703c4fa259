#include "measure/multimeter.h"

#include "base/pcm_format.h"
#include "measure/readout.h"

#include <cmath>

namespace {

constexpr double kLevelScale = 0.001;

// 2^63: the first value a 64-bit signed integer cannot hold.
constexpr double kInt64Limit = 9223372036854775808.0;

} // namespace

MeterLevels MeasureLevels(const int16_t* block) {
    double sumLeft = 0.0;
    double sumRight = 0.0;
    for (int k = 0; k < kBlockFrames; ++k) {
        // A square of an int16 is at most 2^30, so it is formed exactly as an int; only the
        // running sum needs floating point.
        const int32_t l = block[2 * k];
        const int32_t r = block[2 * k + 1];
        sumLeft += l * l;
        sumRight += r * r;
    }
    return {std::sqrt(kLevelScale * sumLeft), std::sqrt(kLevelScale * sumRight)};
}

std::optional<double> MeterReading(int meterMode, double refValue, const MeterLevels& levels) {
    // Only the ratio of the levels enters: the reference component and the one measured form a
    // divider between X1 and X2.
    const double ratio = levels.left / levels.right;
    switch (meterMode) {
    case kMeterModeR:
    case kMeterModeL:
        return refValue * (ratio - 1);
    case kMeterModeC:
        return refValue / (ratio - 1);
    case kMeterModeVac:
        return levels.left;
    default:
        return std::nullopt;
    }
}

int ReadingToReadout(double reading) {
    // Out-of-range and undefined readings would convert to -2^63, whose low half is 0.
    if (!std::isfinite(reading) || reading >= kInt64Limit || reading < -kInt64Limit) {
        return 0;
    }
    const int64_t whole = static_cast<int64_t>(reading);
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(whole)));
}

void MeasureMeter(const int16_t* block, int meterMode, double refValue, IReadout& readout) {
    const std::optional<double> reading = MeterReading(meterMode, refValue, MeasureLevels(block));
    if (reading) {
        readout.SetValue(ReadingToReadout(*reading));
    }
}
