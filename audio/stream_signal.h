#pragma once
// The analysers' test signal on a measurement stream: the same signals as CTestSignalSource
// (test_signal.h) at the stream's rate, as floats on the +-1.0 scale. A tone's level is on
// AES17's scale (0 dBFS: amplitude 1.0), its phase as exact as the panel's, and each value is
// quantised as the stream's converter would hold it (QuantiseToBits at the format's depth, with
// TPDF of +-1 LSB at that depth when the signal asks for dither); float goes out as computed.
// A tone plays on the outputs its channels name, as the panel's does; the other is silent.
// Samples (TestSignal::float_samples) play once from their first frame, quantised without
// dither, then silence.
//
// Threads: Set on the owner's thread; Fill on the stream's I/O thread, which takes a new signal
// at its next call without allocating and without holding a lock while it fills.

#include "audio/exact_tone.h"
#include "audio/samples_departure.h"
#include "audio/stream/measure_stream.h"
#include "audio/test_signal.h"
#include "base/fast_random.h"

#include <array>
#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

class CStreamSignalSource : public IStreamSource {
public:
    explicit CStreamSignalSource(StreamFormat format);

    // A new signal, normalised at the stream's rate; it starts at phase 0 (and its dither from
    // its seed) at the next Fill.
    void Set(const TestSignal& signal);
    void Departing(ClockStamp firstFrame) override { m_periodDeparts = firstFrame; }
    void Fill(float* interleaved, int frames) override;
    // When the first frame of the samples last set left for the line; none before it is known,
    // after another Set, or for a signal that is not samples. Any thread.
    ClockStamp SamplesDeparture() const;

private:
    void Begin(const TestSignal& signal);
    // The converter's hold on one value; the value itself for float.
    double Quantised(double value, bool dither);

    const StreamFormat m_format;
    const int m_bits; // 0: float, not quantised

    mutable std::mutex m_mutex; // guards m_pending, m_retired and m_setCount, never held while
                                // filling
    TestSignal m_pending;
    // The samples Set replaced, kept here so that the I/O thread, still holding them until its
    // next Fill, is never the one that frees them.
    std::shared_ptr<const std::vector<float>> m_retired;
    std::atomic<bool> m_changed{false};
    uint64_t m_setCount = 0; // guarded by m_mutex: the Sets, to tell whose departure is known
    CSamplesDeparture m_departure;

    // I/O thread only.
    std::array<ExactTone, 2> m_tones{}; // amplitudes in fractions of full scale
    int m_toneCount = 0;
    bool m_dither = false;
    std::array<bool, 2> m_plays{true, true}; // per output channel, L first
    CFastRandom m_random;
    std::shared_ptr<const std::vector<float>> m_samples;
    size_t m_sampleAt = 0;      // the next value's index in *m_samples
    ClockStamp m_periodDeparts; // of the period Fill is asked for next
};
