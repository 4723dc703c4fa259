#pragma once
// Tells a real xrun from a device that has gone away while its PCM keeps saying "xrun". A real
// overrun or underrun is followed by frames once the stream restarts: capture needs a whole
// device buffer (371 ms) to overrun again, and a playback restart takes the frames written to
// it. PipeWire's plugin, once its server has gone, recovers and restarts without complaint and
// fails the very next transfer with another xrun, for ever. The I/O thread feeds it every
// transfer's outcome; plain data, no clock of its own, no allocation. One thread at a time.

#include <chrono>

class CXrunStorm {
public:
    using Clock = std::chrono::steady_clock;

    // An xrun sooner than this after a recovery, with no frame moved in between, cannot be a
    // real one: shorter than the shortest device buffer the program sets up (279 ms, playback).
    static constexpr std::chrono::milliseconds kWindow{200};
    // Such repeats in a row that make the device lost; one or two may be a plugin's hiccup.
    static constexpr int kLostAfter = 3;

    enum class Verdict {
        Count,  // a real xrun: count it and recover
        Repeat, // one more of an xrun already counted: recover, do not count it again
        Lost,   // the device is gone: close it and open it again later
    };

    Verdict Xrun(Clock::time_point now);
    void Recovered(Clock::time_point now);
    void Moved(long frames) {
        if (frames > 0) {
            m_moved = true;
        }
    }
    // A freshly opened or started stream.
    void Reset() { *this = CXrunStorm(); }

private:
    bool m_recovered = false; // an xrun has been recovered since the stream started
    bool m_moved = true;      // frames have moved since that recovery
    Clock::time_point m_recoveredAt;
    int m_repeats = 0;
};
