#pragma once
// A sine whose phase is kept as an exact fraction of a cycle: a whole number of 1/(rate x 100)
// cycle, so that a step of one unit per frame is one hundredth of a hertz and a frequency to
// 0.01 Hz steps by a whole number of units. The phase is reduced at every frame, so the
// millionth buffer is as clean as the first. Shared by the panel's test signal and the
// measurement stream's; one thread at a time per tone.

#include <cmath>
#include <cstdint>
#include <numbers>

// Phase units in one cycle at `rate_hz`.
constexpr int64_t PhaseUnitsPerCycle(int rate_hz) {
    return int64_t(rate_hz) * 100;
}

struct ExactTone {
    int64_t step = 0; // units per frame: the frequency in centihertz
    int64_t phase = 0;
    int64_t units = 1; // in a cycle
    double radians_per_unit = 0;
    double amplitude = 0; // in the caller's scale (codes, or fractions of full scale)

    // freq_hz is taken to the nearest 0.01 Hz; the tone starts at phase 0.
    static ExactTone At(double freq_hz, double amplitude, int rate_hz) {
        ExactTone tone;
        tone.step = std::llround(freq_hz * 100.0);
        tone.units = PhaseUnitsPerCycle(rate_hz);
        tone.radians_per_unit = 2.0 * std::numbers::pi / double(tone.units);
        tone.amplitude = amplitude;
        return tone;
    }

    // This frame's value, then on to the next frame.
    double Next() {
        const double value = amplitude * std::sin(radians_per_unit * double(phase));
        phase += step;
        if (phase >= units) {
            phase -= units;
        }
        return value;
    }
};
