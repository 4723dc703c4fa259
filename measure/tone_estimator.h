#pragma once
// Per-channel readings of one captured buffer beyond the panel's readouts: the frequency of the
// tone to a few thousandths of a hertz, its average over the last second, and levels in dBFS.
//
// Threads: one estimator belongs to one thread at a time, normally the capture worker, which calls
// Measure once per buffer. No locks and no allocation per call; the object is large (it holds its
// scratch), so keep it as a member, not on a small stack.

#include "base/pcm_format.h"
#include "measure/fft.h"
#include "measure/sine_fit.h"

#include <array>
#include <cstdint>
#include <optional>

struct ChannelReading {
    // Nothing when there is no clear tone: silence, DC, noise, or a tone below about -70 dBFS.
    std::optional<double> hertz;
    // The tone's frequency over the last second (up to kToneAverageBuffers buffers of the same
    // tone, taken as one unbroken stretch), from the advance of its phase; nothing whenever hertz
    // is nothing. The first buffer of a tone gives hertz itself.
    std::optional<double> averageHertz;
    // Levels on the AES17 convention against a full scale of 32768: a full-scale sine reads
    // 0.00 dBFS RMS, a full-scale square +3.01; the peak is the largest |sample| (sample peak, not
    // true peak), so the code -32768 reads 0.00. RMS includes the DC offset. An all-zero buffer
    // reads -infinity: callers show "—".
    double rmsDbfs = 0;
    double peakDbfs = 0;
    // Mean sample value as a signed fraction of full scale (32768).
    double dcOffset = 0;
};

// 11 buffers of 4096 frames: 1.02 s.
inline constexpr int kToneAverageBuffers = int(1.0 / kBufferSeconds + 0.5);

class CToneEstimator {
public:
    CToneEstimator();

    // buffer: kFramesPerBuffer interleaved frames, X1 first; read only. Index 0 is X1, 1 is X2.
    std::array<ChannelReading, kChannels> Measure(const int16_t* buffer);

    // Forgets the last second. Call it when the capture loses frames (an xrun) or changes device:
    // the average assumes consecutive calls see consecutive buffers. Most gaps are caught anyway
    // (the phase jumps), but not one that happens to keep the phase.
    void Reset();

private:
    // The tone of the last second on one channel: the frequencies implied by the phase advance
    // between consecutive buffers, and the buffer before.
    struct History {
        double intervalHertz[kToneAverageBuffers - 1] = {};
        int count = 0;
        int next = 0;
        std::optional<SineFit> last;
    };

    ChannelReading MeasureChannel(const int16_t* buffer, int channel);
    // The fit of m_samples started from the channel's tone of the buffer before, when that tone
    // is still there and so strong that no other can be the strongest; otherwise nothing, and
    // the caller searches. sums: of m_samples; acPower: their mean square about their mean.
    std::optional<SineFit> RefitLastTone(const History& history, const BlockSums& sums,
                                         double acPower);
    // Where the strongest tone of m_samples is, give or take a few tenths of a hertz, or its
    // mirror about 11025 Hz; nothing when no tone stands out. mean, acPower: the samples' mean and
    // their mean square about it.
    std::optional<double> SearchHertz(double mean, double acPower);
    static std::optional<double> Average(History& history, const std::optional<SineFit>& tone);

    std::array<History, kChannels> m_history;
    double m_samples[kFramesPerBuffer];
    float m_window[kFramesPerBuffer / 2];
    ComplexF m_spectrum[kFramesPerBuffer / 4 + 1];
    CFftCalc m_fft;
};
