#pragma once
// A captured sample as a fraction of full scale, whatever the stream carries: the panel's int16
// (/ 32768, so -32768 reads -1) or a measurement stream's float, already scaled to +-1.0. The
// feeds of every analyser take either through this, so both read on one scale.

#include "base/full_scale.h"

#include <cstdint>

inline double SampleFraction(int16_t sample) {
    return sample / kFullScale;
}
inline double SampleFraction(float sample) {
    return double(sample);
}
