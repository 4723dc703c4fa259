// The report's steps between the two channels: crosstalk and balance (CStepWork's).
#include "headless/report_step_work.h"

#include "headless/report_figures.h"

#include <algorithm>
#include <cmath>
#include <numbers>

StepOutcome CStepWork::Crosstalk() {
    constexpr std::pair<double, const char*> kFreqs[] = {
        {100.0, "100hz"}, {1000.0, "1khz"}, {10000.0, "10khz"}};
    ReportCurve curve{"crosstalk", "Stereo crosstalk", "Hz", "dB", true, {}};
    ReportCurve spectrum{
        "crosstalk_spectrum", "Undriven channel, 1 kHz on the other", "Hz", "dBFS", true, {}};
    for (int driven = 0; driven < 2; ++driven) {
        const int other = 1 - driven;
        ReportSeries series{driven == 0 ? "L->R" : "R->L", {}, {}};
        for (const auto& [freq_hz, tag] : kFreqs) {
            StepOutcome outcome;
            const auto capture =
                Take(StepTone(freq_hz, Capped(-1.0),
                              driven == 0 ? TestSignalChannels::Left : TestSignalChannels::Right),
                     m_settings.short_frames, outcome);
            if (!capture) {
                return outcome;
            }
            const std::vector<double> drive = ChannelOf(capture->interleaved, driven);
            const std::vector<double> leak = ChannelOf(capture->interleaved, other);
            const auto a = ToneAt(drive, freq_hz, capture->rate_hz);
            const auto b = ToneAt(leak, freq_hz, capture->rate_hz);
            // 1e-3: 60 dB below the tone played; anything less is not the drive coming back.
            if (!a || !b || std::abs(*a) < 1e-3) {
                return StepFailed(std::string("no signal on ") + kStepChannelNames[driven]);
            }
            // A channel that is digital silence reads -300 dB, as an empty bin does elsewhere.
            const double db = std::max(StepDb(std::abs(*b) / std::abs(*a)), -300.0);
            Set(std::string("crosstalk_") + (driven == 0 ? "l_to_r_" : "r_to_l_") + tag + "_db",
                db);
            series.x.push_back(freq_hz);
            series.y.push_back(db);
            if (freq_hz == 1000.0) {
                const NoiseLevels levels = MeasureNoise(leak, capture->rate_hz);
                spectrum.series.push_back({series.name, levels.freq_hz, levels.level_dbfs});
            }
        }
        curve.series.push_back(std::move(series));
    }
    SetCurve(std::move(curve), kStepCrosstalk);
    SetCurve(std::move(spectrum), kStepCrosstalk);
    return {};
}

StepOutcome CStepWork::Balance() {
    StepOutcome outcome;
    const auto capture = Take(StepTone(1000.0, Capped(-6.0)), m_settings.short_frames, outcome);
    if (!capture) {
        return outcome;
    }
    const auto l = ToneAt(ChannelOf(capture->interleaved, 0), 1000.0, capture->rate_hz);
    const auto r = ToneAt(ChannelOf(capture->interleaved, 1), 1000.0, capture->rate_hz);
    if (!l || !r || std::abs(*l) < 1e-3 || std::abs(*r) < 1e-3) {
        return StepFailed("no signal on one channel or both");
    }
    Set("balance_level_db", StepDb(std::abs(*l) / std::abs(*r)));
    Set("balance_phase_deg", std::arg(*l / *r) * 180 / std::numbers::pi);
    return {};
}
