#include "headless/report_step_work.h"

#include "analysis/distortion/distortion.h"
#include "analysis/sweep/sweep_measurement.h"
#include "base/pcm_format.h"
#include "headless/report_figures.h"

#include <algorithm>

#include <cmath>
#include <cstdio>
#include <numbers>

namespace {

constexpr double kToneHz = 997.0; // exercises every code, unlike 1 kHz at 44.1 kHz
constexpr const char* kGapText = "the capture has a gap (an xrun or dropped frames)";
constexpr const char* kEndedText = "the run was stopped or the input went silent";
TestSignal Silence() {
    TestSignal signal;
    signal.kind = TestSignalKind::Samples; // none: silence
    return signal;
}

// Both channels through the distortion analyser, each refusal a failure of the step.
struct ChannelReadings {
    DistortionReading reading[2];
    StepOutcome outcome;
};

ChannelReadings AnalyseBoth(const CardCapture& capture, const DistortionSettings& settings) {
    ChannelReadings both;
    CDistortionAnalyser analyser(capture.frames, capture.rate_hz);
    for (int c = 0; c < 2; ++c) {
        const std::vector<double> samples = ChannelOf(capture.interleaved, c);
        both.reading[c] = analyser.Analyse(samples.data(), 1, settings);
        if (both.reading[c].refusal != DistortionRefusal::None && both.outcome.reason.empty()) {
            both.outcome = StepFailed(std::string(kStepChannelNames[c]) + ": " +
                                      DistortionRefusalText(both.reading[c].refusal));
        }
    }
    return both;
}

DistortionSettings ToneSettings(Weighting weighting = Weighting::None) {
    DistortionSettings settings;
    settings.tone_hz = kToneHz;
    settings.weighting = weighting;
    return settings;
}

} // namespace

std::optional<CardCapture> CStepWork::Take(const TestSignal& signal, int frames,
                                           StepOutcome& outcome) {
    std::optional<CardCapture> capture = m_card.Capture(signal, m_settle_frames, frames);
    if (!capture) {
        outcome = {StepStatus::Ended, kEndedText};
    } else if (capture->gap) {
        outcome = StepFailed(kGapText);
        capture.reset();
    }
    return capture;
}

double CStepWork::Capped(double level_dbfs) const {
    return std::min(level_dbfs, m_ceiling_dbfs);
}

void CStepWork::Set(const std::string& id, double value) {
    for (ReportFigure& figure : m_report.figures) {
        if (figure.id == id) {
            figure.value = value;
            return;
        }
    }
    std::fprintf(stderr, "internal: no figure '%s'\n", id.c_str());
}

void CStepWork::SetCurve(ReportCurve curve, const std::string& step) {
    for (ReportCurve& old : m_report.curves) {
        if (old.id == curve.id) {
            old = std::move(curve);
            return;
        }
    }
    m_curveSteps.emplace_back(curve.id, step);
    m_report.curves.push_back(std::move(curve));
}

void CStepWork::ClearStep(const std::string& step) {
    for (ReportFigure& figure : m_report.figures) {
        if (figure.step == step) {
            figure.value.reset();
        }
    }
    for (const auto& [id, owner] : m_curveSteps) {
        if (owner == step) {
            std::erase_if(m_report.curves, [&](const ReportCurve& c) { return c.id == id; });
        }
    }
}

StepOutcome CStepWork::Level() {
    // The largest level whose return stays below full scale: a device with gain clips the
    // input before the output reaches 0 dBFS.
    for (double level = 0; level >= -20; level -= 1) {
        StepOutcome outcome;
        const auto capture = Take(StepTone(kToneHz, level), m_settings.level_frames, outcome);
        if (!capture) {
            return outcome;
        }
        const ChannelReadings both = AnalyseBoth(*capture, ToneSettings());
        if (both.reading[0].refusal == DistortionRefusal::Clipped ||
            both.reading[1].refusal == DistortionRefusal::Clipped) {
            continue;
        }
        if (both.outcome.status != StepStatus::Done) {
            return both.outcome;
        }
        m_ceiling_dbfs = level;
        Set("output_ceiling_dbfs", level);
        char note[160];
        double gain[2];
        for (int c = 0; c < 2; ++c) {
            gain[c] = *both.reading[c].level_dbfs - level;
            Set(std::string("gain_db") + kStepChannelIds[c], gain[c]);
        }
        std::snprintf(note, sizeof note, "plays up to %.0f dBFS; gain L %+.2f dB, R %+.2f dB",
                      level, gain[0], gain[1]);
        return {StepStatus::Done, note};
    }
    m_ceiling_dbfs = -20;
    return StepFailed("the input clips at every level down to -20 dBFS");
}

StepOutcome CStepWork::Response() {
    SweepMeasurementSettings settings;
    settings.sweep.frames = m_settings.sweep_frames;
    settings.sweep.rate_hz = m_card.RateHz();
    settings.sweep.level_dbfs = Capped(-12.0);
    settings.analysis.points_per_octave = 48;
    // Points past 20 kHz, so that the band's top edge is read between two of them.
    settings.analysis.hi_hz = 21000.0;
    SweepForBand(settings);
    // One measurement per channel, each fed its own channel as X1.
    CSweepMeasurement left(settings);
    CSweepMeasurement right(settings);
    TestSignal sweep;
    sweep.kind = TestSignalKind::Samples;
    // Each card's source plays the form it takes: the panel's the codes, a stream's the floats.
    sweep.samples = left.Playback();
    sweep.float_samples = left.PlaybackFloat();
    // Silence first, until the last step's tone has come back: the capture starts with the
    // sweep, and a tone still arriving in it would spread over the deconvolved response.
    if (!m_card.Capture(Silence(), m_settle_frames, 1)) {
        return {StepStatus::Ended, kEndedText};
    }
    const auto capture = m_card.Capture(sweep, 0, left.CaptureFrames());
    if (!capture) {
        return {StepStatus::Ended, kEndedText};
    }
    // The measurement sees the capture as one buffer: the gap is told here.
    if (capture->gap) {
        return StepFailed(kGapText);
    }
    std::vector<float> swapped(capture->interleaved.size());
    for (size_t n = 0; n + 1 < swapped.size(); n += 2) {
        swapped[n] = capture->interleaved[n + 1];
        swapped[n + 1] = capture->interleaved[n];
    }
    left.Feed(capture->interleaved.data(), capture->frames, 0, capture->first_frame);
    right.Feed(swapped.data(), capture->frames, 0, capture->first_frame);
    left.SetDeparture(m_card.SamplesDeparture());
    right.SetDeparture(m_card.SamplesDeparture());
    ReportCurve response{"response", "Frequency response", "Hz", "dB re 1 kHz", true, {}};
    ReportCurve thd{
        "thd_vs_freq", "THD against frequency (H2-H5, from the sweep)", "Hz", "dB", true, {}};
    std::string latencyNote;
    for (int c = 0; c < 2; ++c) {
        const SweepOutcome result = (c == 0 ? left : right).Analyse();
        if (result.failure != SweepFailure::None) {
            return StepFailed(std::string(kStepChannelNames[c]) + ": " +
                              SweepFailureText(result.failure));
        }
        const SweepResult& r = result.result;
        const ResponseFigures narrow = ReadResponse(r.freq_hz, r.mag_db, 40.0, 15000.0);
        const ResponseFigures wide = ReadResponse(r.freq_hz, r.mag_db, 20.0, 20000.0);
        const std::string ch = kStepChannelIds[c];
        Set("response_max_db" + ch, narrow.max_db);
        Set("response_min_db" + ch, narrow.min_db);
        Set("response_wide_max_db" + ch, wide.max_db);
        Set("response_wide_min_db" + ch, wide.min_db);
        if (narrow.low_hz) {
            Set("response_low_hz" + ch, *narrow.low_hz);
        }
        if (narrow.high_hz) {
            Set("response_high_hz" + ch, *narrow.high_hz);
        }
        // The curve re its own 1 kHz level, as the figures read it.
        ReportSeries mag{kStepChannelNames[c], r.freq_hz, r.mag_db};
        const double at1k = ResponseAt(r.freq_hz, r.mag_db, 1000.0);
        for (double& y : mag.y) {
            y -= at1k;
        }
        response.series.push_back(std::move(mag));
        ReportSeries harmonics{kStepChannelNames[c], {}, {}};
        for (size_t i = 0; i < r.freq_hz.size(); ++i) {
            if (std::isfinite(r.thd_db[i])) {
                harmonics.x.push_back(r.freq_hz[i]);
                harmonics.y.push_back(r.thd_db[i]);
            }
        }
        thd.series.push_back(std::move(harmonics));
        if (c == 0) {
            // A latency counted from the capture's start holds the program's own queue: not a
            // figure of the card, so only the line says it.
            if (result.round_trip) {
                Set("latency_ms", result.latency_ms);
            }
            latencyNote = SweepLatencyText(result);
            // From the capture's start to the sweep's arrival is what every later step must
            // let pass after changing its signal; two buffers more cover where it falls.
            m_settle_frames = std::max(m_settings.settle_frames, result.coarse_latency_samples +
                                                                     2 * m_settings.buffer_frames);
        }
    }
    SetCurve(std::move(response), kStepResponse);
    SetCurve(std::move(thd), kStepResponse);
    return {StepStatus::Done, latencyNote};
}

StepOutcome CStepWork::Noise() {
    StepOutcome outcome;
    const auto capture = Take(Silence(), m_settings.noise_frames, outcome);
    if (!capture) {
        return outcome;
    }
    ReportCurve spectrum{
        "noise_spectrum", "Noise spectrum (per 1/12 octave)", "Hz", "dBFS", true, {}};
    for (int c = 0; c < 2; ++c) {
        const NoiseLevels levels =
            MeasureNoise(ChannelOf(capture->interleaved, c), capture->rate_hz);
        Set(std::string("noise_dbfs") + kStepChannelIds[c], levels.dbfs);
        Set(std::string("noise_dba") + kStepChannelIds[c], levels.dba);
        spectrum.series.push_back({kStepChannelNames[c], levels.freq_hz, levels.level_dbfs});
    }
    SetCurve(std::move(spectrum), kStepNoise);
    return {};
}

StepOutcome CStepWork::DynamicRange() {
    StepOutcome outcome;
    const auto capture = Take(StepTone(kToneHz, -60.0), m_settings.noise_frames, outcome);
    if (!capture) {
        return outcome;
    }
    const ChannelReadings both = AnalyseBoth(*capture, ToneSettings(Weighting::A));
    if (both.outcome.status != StepStatus::Done) {
        return both.outcome;
    }
    for (int c = 0; c < 2; ++c) {
        // AES17: the ratio plus the tone's distance below full scale, as it came back.
        const DistortionReading& r = both.reading[c];
        Set(std::string("dynamic_range_dba") + kStepChannelIds[c], -*r.thdn_db - *r.level_dbfs);
    }
    return {};
}

StepOutcome CStepWork::Thd(double level_dbfs, const std::string& tag) {
    StepOutcome outcome;
    const auto capture =
        Take(StepTone(kToneHz, Capped(level_dbfs)), m_settings.tone_frames, outcome);
    if (!capture) {
        return outcome;
    }
    const ChannelReadings both = AnalyseBoth(*capture, ToneSettings());
    if (both.outcome.status != StepStatus::Done) {
        return both.outcome;
    }
    for (int c = 0; c < 2; ++c) {
        const DistortionReading& r = both.reading[c];
        Set("thd_" + tag + "_pct" + kStepChannelIds[c], *r.thd_pct);
        Set("thd_" + tag + "_db" + kStepChannelIds[c], *r.thd_db);
        Set("thdn_" + tag + "_db" + kStepChannelIds[c], *r.thdn_db);
    }
    return {};
}

StepOutcome CStepWork::ImdSmpte() {
    return Imd(true);
}

StepOutcome CStepWork::ImdCcif() {
    return Imd(false);
}

StepOutcome CStepWork::Imd(bool smpte) {
    TestSignal signal;
    signal.kind = smpte ? TestSignalKind::ImdSmpte : TestSignalKind::ImdCcif;
    signal.level_dbfs = Capped(-1.0);
    StepOutcome outcome;
    const auto capture = Take(signal, m_settings.tone_frames, outcome);
    if (!capture) {
        return outcome;
    }
    CDistortionAnalyser analyser(capture->frames, capture->rate_hz);
    for (int c = 0; c < 2; ++c) {
        const std::vector<double> samples = ChannelOf(capture->interleaved, c);
        const ImdReading r =
            analyser.AnalyseImd(samples.data(), 1, smpte ? ImdKind::Smpte : ImdKind::Ccif);
        if (r.refusal != DistortionRefusal::None || !r.imd_pct) {
            return StepFailed(std::string(kStepChannelNames[c]) + ": " +
                              DistortionRefusalText(r.refusal));
        }
        Set(std::string(smpte ? "imd_smpte_pct" : "imd_ccif_pct") + kStepChannelIds[c], *r.imd_pct);
    }
    return {};
}

StepOutcome CStepWork::ThdnAgainstLevel() {
    ReportCurve curve{"thdn_vs_level", "THD+N against level (997 Hz)", "dBFS", "dB", false, {}};
    ReportSeries series[2] = {{"L", {}, {}}, {"R", {}, {}}};
    std::optional<double> clipped[2];
    for (int step = 0; step <= 30; ++step) {
        const double level = -60.0 + 2 * step;
        StepOutcome outcome;
        auto capture = Take(StepTone(kToneHz, level), m_settings.level_frames, outcome);
        if (!capture && outcome.status == StepStatus::Failed) {
            capture = Take(StepTone(kToneHz, level), m_settings.level_frames, outcome); // once more
        }
        if (!capture) {
            return outcome;
        }
        const ChannelReadings both = AnalyseBoth(*capture, ToneSettings());
        for (int c = 0; c < 2; ++c) {
            const DistortionReading& r = both.reading[c];
            if (r.refusal == DistortionRefusal::Clipped && !clipped[c]) {
                clipped[c] = level;
            }
            if (r.refusal == DistortionRefusal::None) {
                series[c].x.push_back(level);
                series[c].y.push_back(*r.thdn_db);
            }
        }
    }
    std::string note;
    for (int c = 0; c < 2; ++c) {
        if (clipped[c]) {
            Set(std::string("clipping_dbfs") + kStepChannelIds[c], *clipped[c]);
        }
        if (series[c].x.empty()) {
            return StepFailed(std::string("no level measured on ") + kStepChannelNames[c]);
        }
        curve.series.push_back(std::move(series[c]));
    }
    SetCurve(std::move(curve), kStepThdnLevel);
    return {};
}
