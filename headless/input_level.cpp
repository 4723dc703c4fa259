#include "headless/input_level.h"

#include <cmath>
#include <limits>

void CInputLevel::Add(const int16_t* interleaved, int frames) {
    for (int frame = 0; frame < frames; ++frame) {
        for (int channel = 0; channel < kChannels; ++channel) {
            const int sample = interleaved[frame * kChannels + channel];
            m_sumSquares[channel] += double(sample) * sample;
            m_clip[channel].Add(interleaved[frame * kChannels + channel]);
        }
    }
    m_frames += frames;
}

void CInputLevel::Add(const float* interleaved, int frames) {
    for (int frame = 0; frame < frames; ++frame) {
        for (int channel = 0; channel < kChannels; ++channel) {
            const double sample = interleaved[frame * kChannels + channel];
            // In codes, as the 16-bit samples are summed.
            m_sumSquares[channel] += sample * sample * (kFullScale * kFullScale);
            m_clip[channel].Add(sample);
        }
    }
    m_frames += frames;
}

void CInputLevel::Clear() {
    *this = CInputLevel{};
}

InputLevel CInputLevel::Level(int channel) const {
    InputLevel level;
    level.clipped = m_clip[channel].Clipped();
    const double rms = m_frames > 0 ? std::sqrt(m_sumSquares[channel] / m_frames) : 0.0;
    // x sqrt 2: a sine whose peak is full scale reads 0 dBFS.
    level.rms_dbfs = rms > 0 ? 20.0 * std::log10(rms * std::sqrt(2.0) / kFullScale)
                             : -std::numeric_limits<double>::infinity();
    return level;
}
