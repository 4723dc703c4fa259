#pragma once
// When a frame was at the converter, on a clock the capture and playback sides both read: an ALSA
// device's CLOCK_MONOTONIC (its position by snd_pcm_delay at a known instant), or the simulated
// card's own frame count. Two stamps compare only on the same clock; None: the position was not
// known.

#include <cstdint>
#include <ctime>

enum class DeviceClock : uint8_t { None, Monotonic, Bench };

struct ClockStamp {
    int64_t ns = 0;
    DeviceClock clock = DeviceClock::None;

    bool Known() const { return clock != DeviceClock::None; }
};

// The stamp `frames` later (or earlier, when negative) at `rate_hz`.
inline ClockStamp StampAfterFrames(ClockStamp stamp, double frames, double rate_hz) {
    stamp.ns += int64_t(frames * 1e9 / rate_hz + (frames < 0 ? -0.5 : 0.5));
    return stamp;
}

// Now on CLOCK_MONOTONIC, the clock an ALSA device's position is told on; none if it cannot be
// read.
inline ClockStamp MonotonicNow() {
    timespec now{};
    if (clock_gettime(CLOCK_MONOTONIC, &now) != 0) {
        return {};
    }
    return {int64_t(now.tv_sec) * 1'000'000'000 + now.tv_nsec, DeviceClock::Monotonic};
}
