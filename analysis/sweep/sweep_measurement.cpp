#include "analysis/sweep/sweep_measurement.h"

#include "analysis/common/sample_fraction.h"
#include "base/full_scale.h"
#include "base/pcm_format.h"
#include "fft/real_fft.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <stdexcept>

// Finding the sweep: the capture's first stretch is cross-correlated with the sweep by FFT, and
// the largest |correlation| (a card may invert) says where the first sweep begins, to the sample.
// Each average's window then starts kMarginFrames earlier, so that whatever a system rings before
// its main peak (a linear-phase filter) stays inside the window; the windows are averaged
// coherently and the analyser finds the fraction of a sample itself. Sweeps played back to back
// make each window after the first a period of a periodic excitation, which is what the circular
// deconvolution assumes anyway.

namespace {

constexpr int kMaxAverages = 64;
constexpr int kMarginFrames = 512;

int NextPowerOfTwo(int n) {
    int p = 1;
    while (p < n) {
        p *= 2;
    }
    return p;
}

SweepMeasurementSettings Checked(const SweepMeasurementSettings& settings) {
    if (settings.averages < 1 || settings.averages > kMaxAverages) {
        throw std::invalid_argument("sweep measurement: averages must be 1..64");
    }
    MakeSweepShape(settings.sweep); // throws, saying which setting
    return settings;
}

} // namespace

const char* SweepFailureText(SweepFailure failure) {
    switch (failure) {
    case SweepFailure::Gap:
        return "the capture has a gap (an xrun or dropped frames): measure again";
    case SweepFailure::Clipped:
        return "the input clipped: lower the level";
    case SweepFailure::NoSignal:
        return "nothing of the sweep came back: check the cable and the input";
    case SweepFailure::Stopped:
        return "the measurement was stopped before the sweep had come back";
    case SweepFailure::None:
    default:
        return "";
    }
}

std::string SweepLatencyText(const SweepOutcome& outcome) {
    char text[200];
    std::snprintf(text, sizeof text,
                  "latency %.2f samples (%.3f ms), cross-correlation %d samples, %s",
                  outcome.latency_samples, outcome.latency_ms, outcome.coarse_latency_samples,
                  outcome.round_trip ? "round trip: from the sweep leaving the program"
                  : outcome.relative_latency
                      ? "relative: from the capture's start, the output queued before the sweep "
                        "included"
                      : "X1 against X2");
    return text;
}

std::string SweepGateText(const SweepAnalysisSettings& analysis, const SweepResult& result) {
    char text[160];
    std::snprintf(text, sizeof text,
                  "gate %g ms before the peak to %g ms after it: valid from %.1f Hz up",
                  analysis.gate_left_ms, analysis.gate_right_ms, result.gate_lowest_hz);
    return text;
}

namespace {

// The sweep on the chosen channel(s), averages times back to back, interleaved.
template <class Sample>
std::shared_ptr<const std::vector<Sample>> Interleaved(const SweepMeasurementSettings& settings,
                                                       const std::vector<Sample>& sweep) {
    const int frames = settings.sweep.frames;
    const bool left =
        settings.output != SweepOutput::Right || settings.reference == SweepReference::X2;
    const bool right =
        settings.output != SweepOutput::Left || settings.reference == SweepReference::X2;
    auto playback = std::make_shared<std::vector<Sample>>(size_t(2) * frames * settings.averages);
    for (int a = 0; a < settings.averages; ++a) {
        for (int n = 0; n < frames; ++n) {
            const size_t at = size_t(2) * (size_t(a) * frames + n);
            (*playback)[at] = left ? sweep[size_t(n)] : Sample(0);
            (*playback)[at + 1] = right ? sweep[size_t(n)] : Sample(0);
        }
    }
    return playback;
}

} // namespace

CSweepMeasurement::CSweepMeasurement(const SweepMeasurementSettings& settings)
    : m_settings(Checked(settings)) {
    const int frames = m_settings.sweep.frames;
    m_playback = Interleaved(m_settings, ToInt16(GenerateSweep(m_settings.sweep)));
    m_captureFrames = frames * m_settings.averages +
                      int(std::lround(kSweepLatencyBudgetSeconds * m_settings.sweep.rate_hz));
    m_capture.assign(size_t(2) * m_captureFrames, 0);
    // Buffers are kFramesPerBuffer long, or shorter only at the end: the last may overhang.
    m_captureStarts.assign(size_t(m_captureFrames / kFramesPerBuffer) + 2, 0);
}

CSweepMeasurement::~CSweepMeasurement() = default;

std::shared_ptr<const std::vector<int16_t>> CSweepMeasurement::Playback() const {
    return m_playback;
}

std::shared_ptr<const std::vector<float>> CSweepMeasurement::PlaybackFloat() const {
    const std::vector<double> sweep = GenerateSweep(m_settings.sweep);
    return Interleaved(m_settings, std::vector<float>(sweep.begin(), sweep.end()));
}

void CSweepMeasurement::Tap(const int16_t* interleaved, int frames, uint64_t gapCount, void* self) {
    static_cast<CSweepMeasurement*>(self)->Feed(interleaved, frames, gapCount);
}

void CSweepMeasurement::TapFloat(const float* interleaved, int frames, uint64_t gapCount,
                                 void* self) {
    static_cast<CSweepMeasurement*>(self)->Feed(interleaved, frames, gapCount);
}

void CSweepMeasurement::Feed(const int16_t* interleaved, int frames, uint64_t gapCount,
                             ClockStamp firstFrame) {
    FeedSamples(interleaved, frames, gapCount, firstFrame);
}

void CSweepMeasurement::Feed(const float* interleaved, int frames, uint64_t gapCount,
                             ClockStamp firstFrame) {
    FeedSamples(interleaved, frames, gapCount, firstFrame);
}

template <class Sample>
void CSweepMeasurement::FeedSamples(const Sample* interleaved, int frames, uint64_t gapCount,
                                    ClockStamp firstFrame) {
    const int captured = m_captured.load(std::memory_order_relaxed);
    if (captured >= m_captureFrames) {
        return;
    }
    if (!firstFrame.Known() || (m_stampCount > 0 && firstFrame.clock != m_stampClock)) {
        m_stampsBroken = true;
    } else if (m_stampCount < m_captureStarts.size()) {
        m_stampClock = firstFrame.clock;
        m_captureStarts[m_stampCount++] =
            StampAfterFrames(firstFrame, -double(captured), m_settings.sweep.rate_hz).ns;
    }
    if (!m_started) {
        m_started = true;
        m_firstGapCount = gapCount;
    } else if (gapCount != m_firstGapCount) {
        m_damaged.store(true, std::memory_order_relaxed);
    }
    const int taken = std::min(frames, m_captureFrames - captured);
    float* to = m_capture.data() + ptrdiff_t(2) * captured;
    for (int i = 0; i < 2 * taken; ++i) {
        to[i] = float(SampleFraction(interleaved[i]));
    }
    m_captured.store(captured + taken, std::memory_order_release);
}

double CSweepMeasurement::Progress() const {
    return double(m_captured.load(std::memory_order_relaxed)) / m_captureFrames;
}

bool CSweepMeasurement::Complete() const {
    return m_captured.load(std::memory_order_acquire) >= m_captureFrames;
}

bool CSweepMeasurement::Damaged() const {
    return m_damaged.load(std::memory_order_relaxed);
}

SweepOutcome CSweepMeasurement::Analyse() {
    SweepOutcome out;
    if (!Complete()) {
        out.failure = SweepFailure::Stopped;
        return out;
    }
    if (Damaged()) {
        out.failure = SweepFailure::Gap;
        return out;
    }
    const bool withReference = m_settings.reference == SweepReference::X2;
    out.input = m_settings.output == SweepOutput::Right && !withReference ? 1 : 0;
    const int frames = m_settings.sweep.frames;
    // The reference, when there is one, is the cleaner copy of the sweep to find it by.
    const int locateChannel = withReference ? 1 : out.input;

    CSweepAnalyser analyser(m_settings.sweep);
    const std::vector<double>& sweep = analyser.Sweep();

    // Only the start of the first sweep is looked for: within the latency budget, or a little
    // later into the silent tail, so the peaks of later sweeps never compete.
    const int searchFrames = m_captureFrames - frames * m_settings.averages + frames / 16;
    const int size = NextPowerOfTwo(searchFrames + frames);
    CRealFft captureFft(size);
    CRealFft sweepFft(size);
    CInverseRealFft correlation(size);
    std::fill(captureFft.Input(), captureFft.Input() + size, 0.0);
    std::fill(sweepFft.Input(), sweepFft.Input() + size, 0.0);
    const int span = std::min(m_captureFrames, searchFrames + frames);
    for (int n = 0; n < span; ++n) {
        captureFft.Input()[n] = m_capture[size_t(2) * n + size_t(locateChannel)];
    }
    std::copy(sweep.begin(), sweep.end(), sweepFft.Input());
    captureFft.Execute();
    sweepFft.Execute();
    for (int k = 0; k < captureFft.Bins(); ++k) {
        correlation.Input()[k] = captureFft.Output()[k] * std::conj(sweepFft.Output()[k]);
    }
    correlation.Execute();
    int offset = 0;
    for (int k = 1; k < searchFrames; ++k) {
        if (std::fabs(correlation.Output()[k]) > std::fabs(correlation.Output()[offset])) {
            offset = k;
        }
    }
    if (correlation.Output()[offset] == 0) {
        out.failure = SweepFailure::NoSignal;
        return out;
    }
    out.coarse_latency_samples = offset;

    // The windows, averaged; anything before the capture or past its end reads as silence.
    std::vector<double> measured(size_t(frames), 0.0);
    std::vector<double> reference(withReference ? size_t(frames) : 0, 0.0);
    bool clipped = false;
    for (int a = 0; a < m_settings.averages; ++a) {
        const int start = offset - kMarginFrames + a * frames;
        CClipRun measuredClip;
        CClipRun referenceClip;
        for (int n = std::max(0, -start); n < frames && start + n < m_captureFrames; ++n) {
            const size_t at = size_t(2) * size_t(start + n);
            const double x = m_capture[at + size_t(out.input)];
            measuredClip.Add(x);
            measured[size_t(n)] += x;
            if (withReference) {
                const double y = m_capture[at + 1];
                referenceClip.Add(y);
                reference[size_t(n)] += y;
            }
        }
        clipped = clipped || measuredClip.Clipped() || referenceClip.Clipped();
    }
    if (clipped) {
        out.failure = SweepFailure::Clipped;
        return out;
    }
    const double scale = 1.0 / m_settings.averages;
    for (double& v : measured) {
        v *= scale;
    }
    for (double& v : reference) {
        v *= scale;
    }

    out.result = analyser.Analyse(measured.data(), 1, withReference ? reference.data() : nullptr,
                                  m_settings.analysis);
    switch (out.result.refusal) {
    case SweepRefusal::Clipped:
        out.failure = SweepFailure::Clipped;
        return out;
    case SweepRefusal::NoSignal:
        out.failure = SweepFailure::NoSignal;
        return out;
    case SweepRefusal::None:
    default:
        break;
    }
    // The response peaks where the window put the sweep's start, give or take what a system
    // delays beyond the cross-correlation's pick; anywhere else (the end of the window, read
    // circularly) means the sweep began before the capture did, and no latency or response
    // from it is the system's.
    if (!withReference) {
        const double fromMargin = out.result.latency_samples - kMarginFrames;
        if (fromMargin < -kMarginFrames || fromMargin > frames / 4) {
            out.failure = SweepFailure::NoSignal;
            out.result = SweepResult{};
            return out;
        }
    }
    out.latency_samples = withReference ? out.result.latency_samples
                                        : offset - kMarginFrames + out.result.latency_samples;
    if (!withReference) {
        if (const double trip = RoundTrip(out.latency_samples); trip >= 0) {
            out.latency_samples = trip;
            out.round_trip = true;
        }
    }
    out.relative_latency = !withReference && !out.round_trip;
    out.latency_ms = 1e3 * out.latency_samples / m_settings.sweep.rate_hz;
    out.impulse = out.result.impulse;
    out.impulse_peak = out.result.impulse_peak;
    return out;
}

double CSweepMeasurement::RoundTrip(double arrival) {
    if (!m_departure.Known() || m_stampsBroken || m_stampCount == 0 ||
        m_departure.clock != m_stampClock) {
        return -1;
    }
    // The median of what the later half of the buffers say: a sound server's first position
    // reports after a start can be off by a buffer or more until its timing has settled, and
    // one late or early report later on moves nothing.
    const auto begin = m_captureStarts.begin() + ptrdiff_t(m_stampCount / 2);
    const auto end = m_captureStarts.begin() + ptrdiff_t(m_stampCount);
    const auto middle = begin + (end - begin) / 2;
    std::nth_element(begin, middle, end);
    const double departure =
        double(m_departure.ns - *middle) * 1e-9 * m_settings.sweep.rate_hz; // capture frames
    const double trip = arrival - departure;
    // A sweep cannot come back before it left (a frame of rounding aside), nor after the
    // capture ended: positions saying so are not to be trusted.
    if (trip < -1.0 || trip > m_captureFrames) {
        return -1;
    }
    return std::max(trip, 0.0);
}
