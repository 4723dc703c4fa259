#pragma once
// The steady level of both inputs over a stretch of buffers: RMS on AES17 (a full-scale sine
// reads 0 dBFS) and whether it clipped (base/full_scale.h). What `tavrin calibrate` reads an
// input by. One thread at a time (the capture worker adds, the main thread reads after it
// stopped, or under the caller's lock).

#include "base/full_scale.h"
#include "base/pcm_format.h"

#include <array>
#include <cstdint>

struct InputLevel {
    double rms_dbfs = 0;  // -infinity for silence
    bool clipped = false; // by CClipRun's rule, over everything added
};

class CInputLevel {
public:
    // interleaved: `frames` frames, X1 first.
    void Add(const int16_t* interleaved, int frames);
    // Samples as fractions of full scale (a measurement stream's).
    void Add(const float* interleaved, int frames);
    void Clear();
    int64_t Frames() const { return m_frames; }
    InputLevel Level(int channel) const;

private:
    std::array<double, kChannels> m_sumSquares = {};
    std::array<CClipRun, kChannels> m_clip = {};
    int64_t m_frames = 0;
};
