#include "analysis/impedance/impedance_live.h"
#include "analysis/common/sample_fraction.h"

#include <algorithm>
#include <cmath>

namespace {
constexpr double kLeastLiveBlockS = 0.2;
constexpr int kLeastLivePeriods = 10;
// After the tone arrives: the sweep's own least settling, for the same ringing and buffering.
constexpr double kSettleS = ImpedanceSweepSettings{}.least_settle_s;
constexpr int kSettlePeriods = ImpedanceSweepSettings{}.least_settle_periods;

int EvenAtLeast4096(int frames) {
    return std::max(4096, frames + frames % 2);
}

} // namespace

int ImpedanceLiveBlockFrames(double freq_hz, double sample_rate_hz) {
    const double periods =
        std::ceil(std::max(kLeastLiveBlockS * freq_hz, double(kLeastLivePeriods)));
    return int(std::lround(periods * sample_rate_hz / freq_hz));
}

CImpedanceLive::CImpedanceLive(const ImpedanceLiveSettings& settings,
                               const ImpedanceCorrections& corrections)
    : m_settings(settings), m_corrections(corrections),
      m_blockFrames(settings.freq_hz
                        ? ImpedanceLiveBlockFrames(*settings.freq_hz, settings.sample_rate_hz)
                        : kImpedanceExternalBlockFrames),
      m_settleFrames(
          int(std::ceil(
              std::max(kSettleS, settings.freq_hz ? kSettlePeriods / *settings.freq_hz : 0.0) *
              settings.sample_rate_hz)) +
          settings.extra_settle_frames),
      m_detector(EvenAtLeast4096(m_blockFrames), settings.sample_rate_hz, settings.sample_bits),
      m_block(2 * size_t(EvenAtLeast4096(m_blockFrames))) {}

void CImpedanceLive::Restart() {
    m_collected = 0;
    m_settled = 0;
}

bool CImpedanceLive::Feed(const int16_t* interleaved, int frames, uint64_t gapCount,
                          ImpedanceLiveReading* reading) {
    return FeedSamples(interleaved, frames, gapCount, reading);
}

bool CImpedanceLive::Feed(const float* interleaved, int frames, uint64_t gapCount,
                          ImpedanceLiveReading* reading) {
    return FeedSamples(interleaved, frames, gapCount, reading);
}

template <class Sample>
bool CImpedanceLive::FeedSamples(const Sample* interleaved, int frames, uint64_t gapCount,
                                 ImpedanceLiveReading* reading) {
    const int64_t bufferStart = m_fed;
    m_fed += frames;
    if (m_gapCount && gapCount != *m_gapCount) {
        m_gapCount = gapCount;
        Restart();
        return false;
    }
    m_gapCount = gapCount;
    int at = 0;
    if (m_onsetFrames) {
        const int skip = std::min(frames - at, m_settleFrames - m_settled);
        m_settled += skip;
        at += skip;
    }
    if (m_collected == 0) {
        m_blockStart = bufferStart + at;
    }
    const int take = std::min(frames - at, m_blockFrames - m_collected);
    for (int k = 0; k < 2 * take; ++k) {
        m_block[2 * size_t(m_collected) + size_t(k)] = SampleFraction(interleaved[2 * at + k]);
    }
    m_collected += take;
    if (m_collected < m_blockFrames) {
        return false;
    }
    // The rest of this buffer is dropped: blocks stay whole buffers apart, and none is lost
    // at 4096 frames a buffer and 8820 or more a block.
    return Complete(reading, bufferStart + at + take);
}

bool CImpedanceLive::Complete(ImpedanceLiveReading* reading, int64_t endFrame) {
    const double r_ref = m_settings.r_ref_ohm;
    const ImpedanceDetection detection =
        m_settings.freq_hz
            ? m_detector.Detect(m_block.data(), m_blockFrames, *m_settings.freq_hz, r_ref)
            : m_detector.DetectExternal(m_block.data(), r_ref);
    m_collected = 0;
    if (!m_onsetFrames) {
        // The block that first shows the tone may have caught it starting; the part settles
        // from here.
        if (detection.refusal == ImpedanceRefusal::NoTone) {
            return false;
        }
        m_onsetFrames = endFrame;
        return false;
    }
    reading->time_s = double(m_blockStart) / m_settings.sample_rate_hz;
    reading->freq_hz = detection.freq_hz;
    reading->refusal = detection.refusal;
    reading->corrected = {};
    reading->has_amplitudes = detection.refusal == ImpedanceRefusal::None ||
                              detection.refusal == ImpedanceRefusal::OutOfRange;
    reading->v1 = detection.v1;
    reading->v2 = detection.v2;
    if (detection.refusal == ImpedanceRefusal::None) {
        reading->corrected = m_corrections.Apply(detection.v1, detection.v2, detection.freq_hz,
                                                 r_ref, detection.ratio_resolution);
    }
    return true;
}

CImpedanceRun::CImpedanceRun(const ImpedanceLiveSettings& live,
                             const ImpedanceCorrections& corrections,
                             const ImpedanceSweepSettings& sweep, std::vector<ImpedanceStep> plan)
    : m_live(live, corrections) {
    // Made on the thread that builds the run, never on the capture worker: the sweep's buffers
    // and its transform's plan.
    if (!plan.empty()) {
        m_sweep.emplace(sweep, std::move(plan), corrections);
    }
}

CImpedanceRun::Event CImpedanceRun::Feed(const int16_t* interleaved, int frames, uint64_t gapCount,
                                         ImpedanceLiveReading* reading, double* toneHz) {
    return FeedSamples(interleaved, frames, gapCount, reading, toneHz);
}

CImpedanceRun::Event CImpedanceRun::Feed(const float* interleaved, int frames, uint64_t gapCount,
                                         ImpedanceLiveReading* reading, double* toneHz) {
    return FeedSamples(interleaved, frames, gapCount, reading, toneHz);
}

template <class Sample>
CImpedanceRun::Event CImpedanceRun::FeedSamples(const Sample* interleaved, int frames,
                                                uint64_t gapCount, ImpedanceLiveReading* reading,
                                                double* toneHz) {
    if (m_sweepStarted) {
        switch (m_sweep->Feed(interleaved, frames, gapCount)) {
        case SweepEvent::NextTone:
            *toneHz = *m_sweep->ToneHz();
            return Event::NextTone;
        case SweepEvent::Finished:
            return Event::Finished;
        case SweepEvent::None:
            return Event::None;
        }
    }
    const bool made = m_live.Feed(interleaved, frames, gapCount, reading);
    if (m_sweep && m_live.ToneSeen()) {
        m_sweep->LengthenSettling(int(*m_live.OnsetFrames()) + kImpedanceQueuedFrames);
        m_sweepStarted = true;
        return Event::None;
    }
    return made ? Event::Reading : Event::None;
}

std::optional<std::vector<ImpedanceStep>> PlanPlayedSweep(const ImpedanceSweepSettings& settings,
                                                          std::string* error) {
    auto plan = PlanImpedanceSweep(settings, error);
    if (plan) {
        for (ImpedanceStep& step : *plan) {
            step.freq_hz = std::round(step.freq_hz * 100.0) / 100.0;
        }
    }
    return plan;
}
