#include "audio/test_signal.h"

#include "base/full_scale.h"

#include <algorithm>
#include <cmath>

namespace {

double InRange(double value, double lo, double hi, double fallback) {
    return std::isnan(value) ? fallback : std::clamp(value, lo, hi);
}

} // namespace

TestSignal NormalisedTestSignal(const TestSignal& signal, int rate_hz) {
    const TestSignal defaults;
    TestSignal out = signal;
    const double maxHz = rate_hz / 2.0 - 0.01;
    const double freq_hz = InRange(signal.freq_hz, kTestToneMinHz, maxHz, defaults.freq_hz);
    out.freq_hz = std::round(freq_hz * 100.0) / 100.0;
    const double freq2_hz = InRange(signal.freq2_hz, kTestToneMinHz, maxHz, defaults.freq2_hz);
    out.freq2_hz = std::round(freq2_hz * 100.0) / 100.0;
    out.ratio = InRange(signal.ratio, kTestRatioMin, kTestRatioMax, defaults.ratio);
    out.level_dbfs =
        InRange(signal.level_dbfs, kTestLevelMinDbfs, kTestLevelMaxDbfs, defaults.level_dbfs);
    return out;
}

double TestSignalPeak(double level_dbfs) {
    return kFullScale * std::pow(10.0, level_dbfs / 20.0);
}

std::array<bool, 2> TestSignalOutputs(const TestSignal& signal) {
    return {signal.channels != TestSignalChannels::Right,
            signal.channels != TestSignalChannels::Left};
}

int TestSignalParts(const TestSignal& signal, std::array<TestTonePart, 2>* parts) {
    // The IMD tones share the level's peak so that their sum never exceeds it.
    switch (signal.kind) {
    case TestSignalKind::ImdSmpte:
        *parts = {TestTonePart{kSmpteLowHz, 0.8}, TestTonePart{kSmpteHighHz, 0.2}};
        return 2;
    case TestSignalKind::ImdCcif:
        *parts = {TestTonePart{kCcifLowHz, 0.5}, TestTonePart{kCcifHighHz, 0.5}};
        return 2;
    case TestSignalKind::ImdPair:
        *parts = {TestTonePart{signal.freq_hz, signal.ratio / (signal.ratio + 1)},
                  TestTonePart{signal.freq2_hz, 1 / (signal.ratio + 1)}};
        return 2;
    case TestSignalKind::Samples:
        return 0;
    case TestSignalKind::Tone:
    default:
        (*parts)[0] = {signal.freq_hz, 1.0};
        return 1;
    }
}

CTestSignalSource::CTestSignalSource() : m_random(kTestSignalDitherSeed) {}

void CTestSignalSource::Set(const TestSignal& signal) {
    std::lock_guard lock(m_mutex);
    if (m_pending.samples != signal.samples) {
        m_retired = std::move(m_pending.samples);
    }
    m_pending = NormalisedTestSignal(signal);
    ++m_setCount;
    m_changed.store(true, std::memory_order_release);
}

ClockStamp CTestSignalSource::SamplesDeparture() const {
    uint64_t current = 0;
    {
        std::lock_guard lock(m_mutex);
        current = m_setCount;
    }
    return m_departure.For(current);
}

TestSignal CTestSignalSource::Current() const {
    std::lock_guard lock(m_mutex);
    return m_pending;
}

void CTestSignalSource::Begin(const TestSignal& signal) {
    const double peak = TestSignalPeak(signal.level_dbfs);
    std::array<TestTonePart, 2> parts{};
    m_toneCount = TestSignalParts(signal, &parts);
    for (int i = 0; i < m_toneCount; ++i) {
        m_tones[size_t(i)] = ExactTone::At(parts[size_t(i)].freq_hz, peak * parts[size_t(i)].share,
                                           int(kSampleRate));
    }
    m_dither = signal.dither;
    m_plays = TestSignalOutputs(signal);
    m_random.Seed(kTestSignalDitherSeed);
    // Copying the pointer only counts a reference: nothing is allocated on the filling thread.
    m_samples = signal.kind == TestSignalKind::Samples ? signal.samples : nullptr;
    m_sampleAt = 0;
}

void CTestSignalSource::FillSamples(int16_t* interleaved, int frames) {
    const size_t wanted = size_t(frames) * kChannels;
    const size_t left = m_samples ? m_samples->size() - std::min(m_sampleAt, m_samples->size()) : 0;
    const size_t taken = std::min(wanted, left);
    if (taken > 0) {
        std::copy_n(m_samples->data() + m_sampleAt, taken, interleaved);
        m_sampleAt += taken;
    }
    std::fill(interleaved + taken, interleaved + wanted, int16_t(0));
}

void CTestSignalSource::TellDeparture(const int16_t* buffer, ClockStamp played) {
    for (Filled& filled : m_filled) {
        if (filled.buffer != buffer) {
            continue;
        }
        filled.buffer = nullptr;
        m_departure.Note(played, filled.offset, kSampleRate);
        return;
    }
}

void CTestSignalSource::Fill(int16_t* interleaved, int frames, ClockStamp played) {
    if (m_changed.load(std::memory_order_acquire)) {
        TestSignal signal;
        {
            std::lock_guard lock(m_mutex);
            signal = m_pending;
            m_departure.Begin(m_setCount);
            m_changed.store(false, std::memory_order_relaxed);
        }
        Begin(signal);
        // The samples begin at this buffer's first frame.
        m_filled.fill({});
        m_samplesFilled = m_samples && !m_samples->empty() ? 0 : -1;
    } else if (m_samplesFilled >= 0) {
        TellDeparture(interleaved, played);
    }
    if (m_samplesFilled >= 0) {
        m_filled[m_nextSlot] = {interleaved, m_samplesFilled};
        m_nextSlot = (m_nextSlot + 1) % kTracked;
        m_samplesFilled += frames;
    }
    if (m_toneCount == 0) {
        FillSamples(interleaved, frames);
        return;
    }
    for (int f = 0; f < frames; ++f) {
        double value = 0.0;
        for (int i = 0; i < m_toneCount; ++i) {
            value += m_tones[size_t(i)].Next();
        }
        if (m_dither) {
            value += m_random.Triangular();
        }
        const auto sample = int16_t(std::lround(std::clamp(value, -32768.0, 32767.0)));
        for (int c = 0; c < kChannels; ++c) {
            interleaved[kChannels * f + c] = m_plays[size_t(c)] ? sample : int16_t(0);
        }
    }
}
