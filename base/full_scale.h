#pragma once
// Where a captured sample stands against full scale, and the one rule for a clipped input.

#include <cmath>
#include <cstdint>

// A sample as a fraction of full scale is sample / kFullScale: -32768 reads -1, 32767 just under 1.
inline constexpr double kFullScale = 32768.0;

// A clipped input: two successive samples at full scale on either rail, |sample| >= 32767. One
// sample there is a peak that just reaches full scale; two in a row is a flattened top. Both
// rails count alike, so -32767 is at full scale as well as -32768.
inline constexpr double kClipLevel = 32767.0 / kFullScale;
inline constexpr int kClipRunSamples = 2;

// Follows one channel's samples in order (across buffers too) and says whether they clipped.
class CClipRun {
public:
    // sample: a fraction of full scale.
    void Add(double sample) {
        m_run = std::fabs(sample) >= kClipLevel ? m_run + 1 : 0;
        m_clipped = m_clipped || m_run >= kClipRunSamples;
    }
    void Add(int16_t sample) { Add(sample / kFullScale); }
    bool Clipped() const { return m_clipped; }

private:
    int m_run = 0;
    bool m_clipped = false;
};
