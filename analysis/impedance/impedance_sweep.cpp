#include "analysis/impedance/impedance_sweep.h"
#include "analysis/common/sample_fraction.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace {

int LongestBlock(const std::vector<ImpedanceStep>& plan) {
    int most = 4096;
    for (const ImpedanceStep& step : plan) {
        most = std::max(most, step.block_frames + step.block_frames % 2);
    }
    return most;
}

} // namespace

std::vector<double> SweepFrequencies(double f1_hz, double f2_hz, int per_octave) {
    const double octaves = std::log2(f2_hz / f1_hz);
    // The 1e-9 keeps an exact whole number of steps (20 Hz .. 20.48 kHz at 1/oct) from gaining one.
    const int steps = std::max(1, int(std::ceil(octaves * per_octave - 1e-9)));
    std::vector<double> freqs(size_t(steps) + 1);
    for (int k = 0; k <= steps; ++k) {
        freqs[size_t(k)] = f1_hz * std::pow(2.0, octaves * k / steps);
    }
    freqs.back() = f2_hz;
    return freqs;
}

std::optional<std::vector<ImpedanceStep>> PlanImpedanceSweep(const ImpedanceSweepSettings& s,
                                                             std::string* error) {
    if (!(s.sample_rate_hz > 0) || !(s.r_ref_ohm > 0)) {
        *error = "the sample rate and the reference resistor must be positive";
        return std::nullopt;
    }
    if (!(s.f1_hz > 0) || !(s.f2_hz > s.f1_hz) || !(s.f2_hz < 0.5 * s.sample_rate_hz)) {
        *error = "the sweep must rise from above 0 Hz to below half the sample rate";
        return std::nullopt;
    }
    if (s.per_octave < 1) {
        *error = "at least one frequency per octave";
        return std::nullopt;
    }
    std::vector<ImpedanceStep> plan;
    for (double f : SweepFrequencies(s.f1_hz, s.f2_hz, s.per_octave)) {
        const double periods =
            std::ceil(std::max(s.least_block_s * f, double(s.least_block_periods)));
        const double settle_s = std::max(s.least_settle_s, s.least_settle_periods / f);
        plan.push_back({f, int(std::ceil(settle_s * s.sample_rate_hz)),
                        int(std::lround(periods * s.sample_rate_hz / f))});
    }
    return plan;
}

CImpedanceSweep::CImpedanceSweep(const ImpedanceSweepSettings& settings,
                                 std::vector<ImpedanceStep> plan,
                                 const ImpedanceCorrections& corrections)
    : m_settings(settings), m_plan(std::move(plan)), m_corrections(corrections),
      m_detector(LongestBlock(m_plan), settings.sample_rate_hz, settings.sample_bits),
      m_block(2 * size_t(LongestBlock(m_plan))) {
    m_points.reserve(m_plan.size());
    StartStep();
}

std::optional<double> CImpedanceSweep::ToneHz() const {
    if (Finished()) {
        return std::nullopt;
    }
    return m_plan[size_t(m_step)].freq_hz;
}

double CImpedanceSweep::Progress() const {
    return m_plan.empty() ? 1.0 : double(m_step) / double(m_plan.size());
}

void CImpedanceSweep::LengthenSettling(int frames) {
    for (ImpedanceStep& step : m_plan) {
        step.settle_frames += frames;
    }
}

void CImpedanceSweep::StartStep() {
    m_settled = 0;
    m_collected = 0;
}

SweepEvent CImpedanceSweep::Feed(const int16_t* interleaved, int frames, uint64_t gapCount) {
    return FeedSamples(interleaved, frames, gapCount);
}

SweepEvent CImpedanceSweep::Feed(const float* interleaved, int frames, uint64_t gapCount) {
    return FeedSamples(interleaved, frames, gapCount);
}

template <class Sample>
SweepEvent CImpedanceSweep::FeedSamples(const Sample* interleaved, int frames, uint64_t gapCount) {
    if (Finished()) {
        return SweepEvent::Finished;
    }
    if (m_gapCount && gapCount != *m_gapCount) {
        // Frames were lost just before or inside this buffer: what was collected is not one
        // unbroken stretch, and this buffer may not be either.
        m_gapCount = gapCount;
        ++m_repeats;
        StartStep();
        return SweepEvent::None;
    }
    m_gapCount = gapCount;
    const ImpedanceStep& step = m_plan[size_t(m_step)];
    const int at = std::min(frames, step.settle_frames - m_settled);
    m_settled += at;
    const int take = std::min(frames - at, step.block_frames - m_collected);
    for (int k = 0; k < 2 * take; ++k) {
        m_block[2 * size_t(m_collected) + size_t(k)] = SampleFraction(interleaved[2 * at + k]);
    }
    m_collected += take;
    if (m_collected < step.block_frames) {
        return SweepEvent::None;
    }
    // The rest of this buffer still holds the old tone: the next step settles from the next one.
    return FinishStep();
}

SweepEvent CImpedanceSweep::FinishStep() {
    const ImpedanceStep& step = m_plan[size_t(m_step)];
    const ImpedanceDetection detection =
        m_detector.Detect(m_block.data(), step.block_frames, step.freq_hz, m_settings.r_ref_ohm);
    ImpedanceSweepPoint point;
    point.freq_hz = step.freq_hz;
    point.refusal = detection.refusal;
    point.has_amplitudes = detection.refusal == ImpedanceRefusal::None ||
                           detection.refusal == ImpedanceRefusal::OutOfRange;
    point.v1 = detection.v1;
    point.v2 = detection.v2;
    if (detection.refusal == ImpedanceRefusal::None) {
        point.corrected = m_corrections.Apply(detection.v1, detection.v2, step.freq_hz,
                                              m_settings.r_ref_ohm, detection.ratio_resolution);
        point.z_ohm = point.corrected.z_ohm;
    }
    m_points.push_back(point);
    ++m_step;
    StartStep();
    return Finished() ? SweepEvent::Finished : SweepEvent::NextTone;
}

SweepCalibration CalibrateFromSweep(ImpedanceCorrections& corrections, ImpedanceCalKind kind,
                                    const std::vector<ImpedanceSweepPoint>& points,
                                    double r_ref_ohm) {
    SweepCalibration out;
    if (points.empty()) {
        return out;
    }
    CalTable(corrections, kind).ClearBand(points.front().freq_hz, points.back().freq_hz);
    for (const ImpedanceSweepPoint& point : points) {
        if (!point.has_amplitudes) {
            out.refused.push_back(point);
            continue;
        }
        SetCalPoint(corrections, kind, point.freq_hz, point.v1, point.v2, r_ref_ohm);
        out.lo_hz = out.stored == 0 ? point.freq_hz : out.lo_hz;
        out.hi_hz = point.freq_hz;
        ++out.stored;
    }
    return out;
}
