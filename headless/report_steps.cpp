#include "headless/report_steps.h"

#include "headless/headless_run.h"
#include "headless/report_step_work.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <tuple>
#include <unistd.h>

namespace {

const char* const kChannelIds[] = {"l", "r"};
const char* const kChannelNames[] = {"L", "R"};

void Add(std::vector<ReportFigure>& table, const std::string& step, const std::string& id,
         const std::string& label, const std::string& unit, const std::string& method) {
    ReportFigure figure;
    figure.id = id;
    figure.label = label;
    figure.unit = unit;
    figure.method = method;
    figure.step = step;
    table.push_back(std::move(figure));
}

// A figure of each channel: id_l and id_r, labels ending ", L" and ", R".
void AddBoth(std::vector<ReportFigure>& table, const std::string& step, const std::string& id,
             const std::string& label, const std::string& unit, const std::string& method) {
    for (int c = 0; c < 2; ++c) {
        Add(table, step, id + "_" + kChannelIds[c], label + ", " + kChannelNames[c], unit, method);
    }
}

} // namespace

std::vector<ReportFigure> ReportFigureTable() {
    std::vector<ReportFigure> t;
    const std::string level = kStepLevel;
    AddBoth(t, level, "gain_db", "Gain at 997 Hz", "dB",
            "997 Hz tone at the largest output level that comes back unclipped");
    Add(t, level, "output_ceiling_dbfs", "Largest unclipped output level", "dBFS",
        "997 Hz tone from 0 dBFS down in 1 dB steps until no sample reaches full scale");
    const std::string sweep = kStepResponse;
    const std::string log = "synchronized log sweep (Novak 2015), re the level at 1 kHz";
    AddBoth(t, sweep, "response_max_db", "Response 40 Hz-15 kHz, highest", "dB", log);
    AddBoth(t, sweep, "response_min_db", "Response 40 Hz-15 kHz, lowest", "dB", log);
    AddBoth(t, sweep, "response_wide_max_db", "Response 20 Hz-20 kHz, highest", "dB", log);
    AddBoth(t, sweep, "response_wide_min_db", "Response 20 Hz-20 kHz, lowest", "dB", log);
    AddBoth(t, sweep, "response_low_hz", "Lower -3 dB point", "Hz", log);
    AddBoth(t, sweep, "response_high_hz", "Upper -3 dB point", "Hz", log);
    Add(t, sweep, "latency_ms", "Latency", "ms",
        "the sweep's linear impulse response peak: round trip from the output's position");
    const std::string noise = kStepNoise;
    const std::string idle = "AES17 idle channel noise, 20 Hz-20 kHz, re full scale";
    AddBoth(t, noise, "noise_dbfs", "Noise, unweighted", "dBFS", idle);
    AddBoth(t, noise, "noise_dba", "Noise, A-weighted", "dBFS(A)", idle + ", IEC 61672-1 A");
    AddBoth(t, kStepDynamicRange, "dynamic_range_dba", "Dynamic range", "dB(A)",
            "AES17: THD+N of a -60 dBFS 997 Hz tone, A-weighted, + its level below full scale");
    for (const auto& [step, tag, name] : {std::tuple{kStepThd1, "m1dbfs", "-1 dBFS"},
                                          std::tuple{kStepThd20, "m20dbfs", "-20 dBFS"}}) {
        const std::string at = std::string(" at ") + name;
        AddBoth(t, step, std::string("thd_") + tag + "_pct", "THD" + at, "%",
                "IEC 60268-3 THD_F, H2-H10, 997 Hz tone");
        AddBoth(t, step, std::string("thd_") + tag + "_db", "THD" + at, "dB",
                "IEC 60268-3 THD_F, H2-H10, 997 Hz tone");
        AddBoth(t, step, std::string("thdn_") + tag + "_db", "THD+N" + at, "dB",
                "AES17 THD+N, 20 Hz-20 kHz, 997 Hz tone");
    }
    AddBoth(t, kStepImdSmpte, "imd_smpte_pct", "IMD SMPTE", "%",
            "SMPTE RP120: 60 Hz + 7 kHz at 4:1, -1 dBFS peak, sidebands d2-d4");
    AddBoth(t, kStepImdCcif, "imd_ccif_pct", "IMD CCIF", "%",
            "IEC 60268-3 difference frequency: 19 + 20 kHz at 1:1, -1 dBFS peak, d2 and d3");
    for (const char* dir : {"l_to_r", "r_to_l"}) {
        for (const auto& [tag, name] : {std::pair{"100hz", "100 Hz"}, std::pair{"1khz", "1 kHz"},
                                        std::pair{"10khz", "10 kHz"}}) {
            const std::string arrow = dir[0] == 'l' ? "L->R" : "R->L";
            Add(t, kStepCrosstalk, std::string("crosstalk_") + dir + "_" + tag + "_db",
                "Crosstalk " + arrow + " at " + name, "dB",
                "one channel driven at -1 dBFS, the other's tone at that frequency (a fit), re the "
                "driven one's");
        }
    }
    Add(t, kStepBalance, "balance_level_db", "Channel balance, level L-R", "dB",
        "1 kHz tone on both channels, each fitted");
    Add(t, kStepBalance, "balance_phase_deg", "Channel balance, phase L-R", "deg",
        "1 kHz tone on both channels, each fitted");
    AddBoth(t, kStepThdnLevel, "clipping_dbfs", "THD+N against level: first clipped level", "dBFS",
            "997 Hz tone from -60 to 0 dBFS in 2 dB steps");
    return t;
}

ReportSettings ReportSettingsAt(double rate_hz) {
    ReportSettings settings;
    const double scale = rate_hz / 44100.0;
    const auto scaled = [&](int frames) { return int(std::lround(frames * scale)); };
    // The sweep and the noise spectrum take powers of two; the distortion analyser's block is
    // 8192..262144 frames.
    const auto power = [&](int frames) { return 1 << int(std::lround(std::log2(frames * scale))); };
    const auto block = [](int frames) { return std::clamp(frames, 8192, 262144); };
    settings.settle_frames = scaled(settings.settle_frames);
    settings.buffer_frames = scaled(settings.buffer_frames);
    settings.sweep_frames = power(settings.sweep_frames);
    settings.tone_frames = block(scaled(settings.tone_frames));
    settings.noise_frames = block(power(settings.noise_frames));
    settings.short_frames = power(settings.short_frames);
    settings.level_frames = block(scaled(settings.level_frames));
    return settings;
}

bool RunReportSteps(ICardCapture& card, const ReportSettings& settings, Report& report,
                    const ReportProgress& progress) {
    report.figures = ReportFigureTable();
    CStepWork work(card, settings, report);
    const std::vector<std::pair<const char*, StepOutcome (CStepWork::*)()>> steps = {
        {kStepLevel, &CStepWork::Level},
        {kStepResponse, &CStepWork::Response},
        {kStepNoise, &CStepWork::Noise},
        {kStepDynamicRange, &CStepWork::DynamicRange},
        {kStepThd1, &CStepWork::Thd1},
        {kStepThd20, &CStepWork::Thd20},
        {kStepImdSmpte, &CStepWork::ImdSmpte},
        {kStepImdCcif, &CStepWork::ImdCcif},
        {kStepCrosstalk, &CStepWork::Crosstalk},
        {kStepBalance, &CStepWork::Balance},
        {kStepThdnLevel, &CStepWork::ThdnAgainstLevel},
    };
    static const bool terminal = isatty(STDERR_FILENO) != 0;
    int index = 0;
    for (const auto& [name, run] : steps) {
        ++index;
        const auto start = std::chrono::steady_clock::now();
        // A terminal sees the step while it runs; its closing line then takes that line's place.
        if (terminal) {
            std::fprintf(stderr, "%s: [%2d/%zu] %s ...", kTool, index, steps.size(), name);
        }
        if (progress.started) {
            progress.started(index, int(steps.size()), name);
        }
        ReportStep step;
        step.name = name;
        StepOutcome outcome = (work.*run)();
        if (outcome.status == StepStatus::Failed) {
            std::fprintf(stderr, "%s%s: [%2d/%zu] %s: %s; once more\n", terminal ? "\r\033[K" : "",
                         kTool, index, steps.size(), name, outcome.reason.c_str());
            outcome = (work.*run)();
        }
        step.seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (outcome.status == StepStatus::Ended) {
            step.failed = true;
            step.note = "the run ended here";
            report.steps.push_back(step);
            if (progress.finished) {
                progress.finished(index, int(steps.size()), step);
            }
            return false;
        }
        step.failed = outcome.status == StepStatus::Failed;
        step.note = outcome.reason;
        if (step.failed) {
            work.ClearStep(name);
        }
        std::fprintf(stderr, "%s%s: [%2d/%zu] %s: %s in %.2f s%s%s\n", terminal ? "\r\033[K" : "",
                     kTool, index, steps.size(), name, step.failed ? "failed" : "done",
                     step.seconds, step.note.empty() ? "" : ": ", step.note.c_str());
        report.steps.push_back(step);
        if (progress.finished) {
            progress.finished(index, int(steps.size()), step);
        }
    }
    return true;
}
