#include "audio/stream_signal.h"

#include "base/pcm_format.h"

#include <algorithm>
#include <cmath>

CStreamSignalSource::CStreamSignalSource(StreamFormat format)
    : m_format(format),
      m_bits(format.format == SampleFormat::Float ? 0 : SampleBits(format.format)),
      m_random(kTestSignalDitherSeed) {
    // Silence until the first Set.
    m_pending.kind = TestSignalKind::Samples;
}

void CStreamSignalSource::Set(const TestSignal& signal) {
    std::lock_guard lock(m_mutex);
    if (m_pending.float_samples != signal.float_samples) {
        m_retired = std::move(m_pending.float_samples);
    }
    m_pending = NormalisedTestSignal(signal, m_format.rate_hz);
    ++m_setCount;
    m_changed.store(true, std::memory_order_release);
}

ClockStamp CStreamSignalSource::SamplesDeparture() const {
    std::lock_guard lock(m_mutex);
    return m_departure.For(m_setCount);
}

void CStreamSignalSource::Begin(const TestSignal& signal) {
    // AES17: a full-scale sine reads 0 dBFS, so the peak is 10^(level / 20) of full scale.
    const double peak = std::pow(10.0, signal.level_dbfs / 20.0);
    std::array<TestTonePart, 2> parts{};
    m_toneCount = TestSignalParts(signal, &parts);
    for (int i = 0; i < m_toneCount; ++i) {
        m_tones[size_t(i)] = ExactTone::At(parts[size_t(i)].freq_hz, peak * parts[size_t(i)].share,
                                           m_format.rate_hz);
    }
    m_dither = signal.dither;
    m_plays = TestSignalOutputs(signal);
    m_random.Seed(kTestSignalDitherSeed);
    // Copying the pointer only counts a reference: nothing is allocated here.
    m_samples = signal.kind == TestSignalKind::Samples ? signal.float_samples : nullptr;
    m_sampleAt = 0;
}

double CStreamSignalSource::Quantised(double value, bool dither) {
    if (m_bits == 0) {
        return value;
    }
    return QuantiseToBits(value, m_bits, dither ? &m_random : nullptr);
}

void CStreamSignalSource::Fill(float* interleaved, int frames) {
    if (m_changed.load(std::memory_order_acquire)) {
        TestSignal signal;
        {
            std::lock_guard lock(m_mutex);
            signal = m_pending;
            m_departure.Begin(m_setCount);
            m_changed.store(false, std::memory_order_relaxed);
        }
        Begin(signal);
    }
    const size_t wanted = size_t(frames) * kChannels;
    if (m_toneCount == 0) {
        const size_t size = m_samples ? m_samples->size() : 0;
        if (m_sampleAt < size) {
            // The period's first frame is this many frames into the samples.
            m_departure.Note(m_periodDeparts, int64_t(m_sampleAt / kChannels), m_format.rate_hz);
        }
        const size_t taken = std::min(wanted, size - std::min(m_sampleAt, size));
        for (size_t i = 0; i < taken; ++i) {
            interleaved[i] = float(Quantised((*m_samples)[m_sampleAt + i], false));
        }
        m_sampleAt += taken;
        std::fill(interleaved + taken, interleaved + wanted, 0.0f);
        return;
    }
    for (int f = 0; f < frames; ++f) {
        double value = 0.0;
        for (int i = 0; i < m_toneCount; ++i) {
            value += m_tones[size_t(i)].Next();
        }
        const auto sample = float(Quantised(value, m_dither));
        for (int c = 0; c < kChannels; ++c) {
            interleaved[kChannels * f + c] = m_plays[size_t(c)] ? sample : 0.0f;
        }
    }
}
