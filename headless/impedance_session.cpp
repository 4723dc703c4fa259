#include "headless/impedance_session.h"

#include "analysis/calibration/impedance_calibration.h"
#include "analysis/impedance/impedance_live.h"
#include "analysis/impedance/loudspeaker.h"
#include "audio/stream/stream_format.h"
#include "audio/test_signal.h"
#include "audio/wave/wave_api.h"
#include "base/pcm_format.h"
#include "engine/sound_device.h"
#include "headless/impedance_calibrate.h"
#include "headless/impedance_capture.h"
#include "headless/stop_signal.h"
#include "headless/stream_run.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <mutex>
#include <vector>

namespace {

// The card's stored corrections, with the input impedance given on the command line over them.
ImpedanceCorrections LoadCorrections(const std::string& device,
                                     const std::optional<double>& input_impedance_ohm) {
    CImpedanceCalibrationStore store;
    std::string message;
    if (!store.Load(CImpedanceCalibrationStore::DefaultPath(), &message)) {
        std::fprintf(stderr, "%s: %s\n", kTool, message.c_str());
    }
    ImpedanceCorrections corrections;
    if (const ImpedanceCorrections* stored = store.Find(device)) {
        corrections = *stored;
        std::fprintf(stderr, "%s: applying the corrections stored for '%s'\n", kTool,
                     device.c_str());
    }
    if (input_impedance_ohm) {
        corrections.input_impedance_ohm = input_impedance_ohm;
    }
    return corrections;
}

void SayUncalibrated(const CorrectedImpedance& corrected, double freq_hz, bool* said) {
    if (*said ||
        (corrected.match != CalState::Uncalibrated && corrected.leads != CalState::Uncalibrated)) {
        return;
    }
    *said = true;
    std::fprintf(stderr, "%s: the stored calibration does not reach %.2f Hz: not applied there\n",
                 kTool, freq_hz);
}

// The driver without the added mass: its figures from the --free-air file, with --re as this
// run's. Nothing, said on stderr, when the file cannot give them.
std::optional<ThieleSmall> FreeAirFigures(const ImpedanceOptions& options) {
    std::ifstream file(*options.free_air_path, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(file)),
                           std::istreambuf_iterator<char>());
    std::string why;
    const auto curve = file ? ParseZma(text, &why) : std::nullopt;
    if (!curve) {
        std::fprintf(stderr, "%s: cannot read --free-air '%s'%s%s\n", kTool,
                     options.free_air_path->c_str(), why.empty() ? "" : ": ", why.c_str());
        return std::nullopt;
    }
    auto ts = ThieleSmallFromCurve(*curve, options.re_ohm, &why);
    if (!ts) {
        std::fprintf(stderr, "%s: --free-air '%s' gives no figures: %s\n", kTool,
                     options.free_air_path->c_str(), why.c_str());
    }
    return ts;
}

void SayFigures(const std::vector<ImpedanceCurvePoint>& curve, const ImpedanceOptions& options,
                const std::optional<ThieleSmall>& free_air) {
    const std::optional<double> fs = ResonanceHz(curve);
    if (!fs) {
        return;
    }
    std::fprintf(stderr, "%s: resonance at %.2f Hz\n", kTool, *fs);
    std::string why;
    const std::optional<ThieleSmall> ts = ThieleSmallFromCurve(curve, options.re_ohm, &why);
    if (!ts) {
        std::fprintf(stderr, "%s: no Thiele-Small figures: %s\n", kTool, why.c_str());
        return;
    }
    std::fprintf(stderr,
                 "%s: fs %.2f Hz, Re %.3f ohm%s, Zmax %.2f ohm, Qms %.3f, Qes %.3f, Qts %.3f, "
                 "Le %.3g H\n",
                 kTool, ts->fs_hz, ts->re_ohm, ts->re_given ? " (given)" : "", ts->z_max_ohm,
                 ts->q_ms, ts->q_es, ts->q_ts, ts->le_h);
    if (!free_air || !options.added_mass_kg) {
        return;
    }
    const auto m =
        AddedMassMechanics(*free_air, ts->fs_hz, *options.added_mass_kg, *options.sd_m2, &why);
    if (!m) {
        std::fprintf(stderr, "%s: no added-mass figures: %s\n", kTool, why.c_str());
        return;
    }
    std::fprintf(stderr,
                 "%s: added mass %.2f g moved fs from %.2f to %.2f Hz: Mms %.2f g, Cms %.3f mm/N, "
                 "Vas %.2f l, Bl %.3f T m, Rms %.3f kg/s (Sd %.1f cm2)\n",
                 kTool, *options.added_mass_kg * 1e3, free_air->fs_hz, ts->fs_hz, m->mms_kg * 1e3,
                 m->cms_m_per_n * 1e3, m->vas_m3 * 1e3, m->bl_tm, m->rms_kg_per_s,
                 *options.sd_m2 * 1e4);
}

// The sweep's curve on stdout and in the ZMA file; refused points said on stderr. False when
// no point was measured.
bool FinishSweep(const CImpedanceSweep& sweep, const ImpedanceOptions& options,
                 const std::optional<ThieleSmall>& free_air, const std::string& device,
                 std::ofstream* zma, bool* writing) {
    std::vector<ImpedanceCurvePoint> curve;
    ImpedanceRefusal last = ImpedanceRefusal::NoTone;
    bool saidUncalibrated = false;
    for (const ImpedanceSweepPoint& point : sweep.Points()) {
        if (point.refusal != ImpedanceRefusal::None) {
            last = point.refusal;
            std::fprintf(stderr, "%s: %.2f Hz refused: %s\n", kTool, point.freq_hz,
                         ImpedanceRefusalText(point.refusal));
            continue;
        }
        SayUncalibrated(point.corrected, point.freq_hz, &saidUncalibrated);
        curve.push_back({point.freq_hz, point.z_ohm, point.corrected.z_resolution_ohm});
    }
    if (curve.empty()) {
        if (!sweep.Points().empty()) {
            std::fprintf(stderr, "%s: %s\n", kTool, ImpedanceRefusalText(last));
        }
        return false;
    }
    *writing = *writing && Print(FormatImpedanceCsv(curve));
    if (zma->is_open()) {
        char ref[64];
        std::snprintf(ref, sizeof ref, "R_ref %g ohm", options.r_ref_ohm);
        *zma << FormatZma(curve, {"tavrin impedance on '" + device + "'", ref});
        zma->close();
        if (!*zma) {
            std::fprintf(stderr, "%s: cannot write '%s'\n", kTool, options.zma_path->c_str());
        }
    }
    SayFigures(curve, options, free_air);
    return true;
}

} // namespace

int RunImpedance(const ImpedanceOptions& options) {
    if (options.clear_calibration) {
        return ClearImpedanceCalibration(options);
    }
    CAlertLines alerts;
    if (!BeginRun(options.device)) {
        return kExitDeviceFailed;
    }
    // Opened first: a file that cannot be written refuses the run before anything is measured.
    std::ofstream zma;
    if (options.zma_path) {
        zma.open(*options.zma_path, std::ios::binary | std::ios::trunc);
        if (!zma) {
            std::fprintf(stderr, "%s: cannot write --zma '%s'\n", kTool, options.zma_path->c_str());
            return kExitBadArguments;
        }
    }
    // Read first too: the run with the mass on is worth nothing without the curve without it.
    std::optional<ThieleSmall> free_air;
    if (options.free_air_path) {
        free_air = FreeAirFigures(options);
        if (!free_air) {
            return kExitBadArguments;
        }
    }
    const std::string card = WaveDeviceName(WaveDirection::In);
    const ImpedanceCorrections corrections = LoadCorrections(card, options.input_impedance_ohm);

    ImpedanceLiveSettings live;
    live.r_ref_ohm = options.r_ref_ohm;
    const double rate_hz = options.stream.rate_hz;
    live.sample_rate_hz = rate_hz;
    live.sample_bits = SampleBits(options.stream.format);
    std::optional<TestSignal> signal;
    if (!options.external) {
        signal = TestSignal{};
        signal->freq_hz = options.sweep ? options.sweep->lo_hz : options.freq_hz;
        signal->level_dbfs = options.level_dbfs;
        live.freq_hz = signal->freq_hz;
    }
    const int64_t frameLimit = options.seconds ? int64_t(std::ceil(*options.seconds * rate_hz)) : 0;
    ImpedanceSweepSettings settings;
    std::vector<ImpedanceStep> plan;
    if (options.sweep) {
        settings.f1_hz = options.sweep->lo_hz;
        settings.f2_hz = options.sweep->hi_hz;
        settings.per_octave = options.per_octave;
        settings.r_ref_ohm = options.r_ref_ohm;
        settings.sample_rate_hz = rate_hz;
        settings.sample_bits = live.sample_bits;
        std::string why;
        auto planned = PlanPlayedSweep(settings, &why);
        if (!planned) {
            std::fprintf(stderr, "%s: %s\n", kTool, why.c_str());
            return kExitBadArguments;
        }
        plan = std::move(*planned);
        std::fprintf(stderr, "%s: sweeping %zu frequencies from %.2f to %.2f Hz\n", kTool,
                     plan.size(), settings.f1_hz, settings.f2_hz);
    }
    CImpedanceCapture capture(live, corrections, settings, std::move(plan), frameLimit);

    // After the capture: the engine, or the stream, stops calling the tap before the capture
    // object goes.
    std::optional<CSoundDevice> engine;
    std::unique_ptr<CStreamRun> stream;
    std::string device;
    // The tone starts once the capture runs, so that the frames before it reaches X1 are the
    // whole loop's delay, output queue included, which every tone change of a sweep waits out.
    if (AtStreamFormat(options)) {
        stream = CStreamRun::Open(options);
        if (!stream || !stream->Start(&CImpedanceCapture::StreamTap, &capture, std::nullopt)) {
            return kExitDeviceFailed;
        }
        if (signal) {
            stream->Play(*signal);
        }
        device = stream->Device();
    } else {
        engine.emplace();
        engine->SetCaptureTap(&CImpedanceCapture::Tap, &capture);
        const std::optional<std::string> opened = StartCaptureOrSay(*engine, alerts);
        if (!opened) {
            return kExitDeviceFailed;
        }
        if (signal && !engine->StartTestSignal(*signal)) {
            engine->StopCapture();
            return DeviceFailed("output", WaveDeviceName(WaveDirection::Out), alerts.Last());
        }
        device = *opened;
    }
    alerts.Echo();
    AnnounceRun(device, options.seconds);
    if (stream) {
        std::fprintf(stderr, "%s: at %s\n", kTool, stream->FormatText().c_str());
    }

    bool writing =
        options.sweep || options.calibrate || Print(FormatImpedanceHeader(options.format, device));
    std::optional<ImpedanceLiveReading> calReading; // --calibrate at one frequency
    std::vector<ImpedanceLiveReading> readings;
    int64_t printed = 0;
    int64_t measured = 0;
    ImpedanceRefusal lastRefusal = ImpedanceRefusal::None;
    CReasonLines reasons;
    bool saidUncalibrated = false;
    int64_t framesIn = 0;
    CRunWatch watch(device, stream ? &stream->Stream() : nullptr);
    const auto printReadings = [&] {
        readings.clear();
        capture.TakeReadings(readings);
        for (const ImpedanceLiveReading& r : readings) {
            if (options.calibrate && r.has_amplitudes) {
                calReading = r;
                break;
            }
            std::optional<ImpedanceReadings> values;
            if (r.refusal == ImpedanceRefusal::None) {
                values = ReadImpedance(r.corrected.z_ohm, r.freq_hz, r.corrected.z_resolution_ohm);
                SayUncalibrated(r.corrected, r.freq_hz, &saidUncalibrated);
                ++measured;
            }
            reasons.Note(r.time_s, r.refusal == ImpedanceRefusal::None
                                       ? ""
                                       : ImpedanceRefusalText(r.refusal));
            lastRefusal = r.refusal;
            if (options.calibrate) {
                continue;
            }
            writing = writing &&
                      Print(FormatImpedanceRow(options.format, r.time_s, values, options.model));
            ++printed;
        }
        if (const double tone = capture.TakeNextTone(); tone > 0) {
            signal->freq_hz = tone;
            if (stream) {
                stream->Play(*signal);
            } else {
                engine->StartTestSignal(*signal);
            }
        }
        if (const int64_t now = capture.FramesIn(); now != framesIn) {
            framesIn = now;
            watch.InputArrived();
        }
    };
    while (writing && !calReading && !capture.Finished() && watch.Wait()) {
        printReadings();
        watch.NoteXruns(printed);
    }
    if (stream) {
        stream->Stop();
    } else {
        engine->SetCaptureTap(nullptr, nullptr);
        engine->StopCapture();
        if (signal) {
            engine->StopTestSignal();
        }
    }
    printReadings();
    SayDroppedRows(capture.Dropped());
    if (options.calibrate) {
        // Half a band stored would leave the rest calibrated from older points or not at all.
        const CImpedanceSweep* sweep = capture.Sweep();
        const bool complete =
            options.sweep ? sweep != nullptr && sweep->Finished() : calReading.has_value();
        if (!complete) {
            const int status = watch.Finish(sweep != nullptr ? int64_t(sweep->Points().size()) : 0);
            std::fprintf(stderr, "%s: the calibration did not finish: nothing stored\n", kTool);
            if (*options.calibrate == ImpedanceCalKind::Open &&
                lastRefusal == ImpedanceRefusal::X2Silent) {
                SayShortAlone();
            }
            return status != kExitDone ? status : kExitRefused;
        }
        return StoreImpedanceCalibration(options, card, corrections, calReading, sweep);
    }

    bool any = measured > 0;
    if (const CImpedanceSweep* sweep = capture.Sweep()) {
        any = FinishSweep(*sweep, options, free_air, device, &zma, &writing);
        printed = int64_t(sweep->Points().size());
        if (!sweep->Finished()) {
            std::fprintf(stderr, "%s: the sweep stopped after %zu of its frequencies\n", kTool,
                         sweep->Points().size());
        }
    }
    const int status = watch.Finish(printed);
    if (status != kExitDone || any || StopSignal() != 0) {
        return status;
    }
    if (!capture.ToneSeen()) {
        std::fprintf(stderr, "%s: %s\n", kTool, ImpedanceRefusalText(ImpedanceRefusal::NoTone));
    } else if (!capture.Sweep() && lastRefusal != ImpedanceRefusal::None) {
        std::fprintf(stderr, "%s: every block refused: %s\n", kTool,
                     ImpedanceRefusalText(lastRefusal));
    }
    return kExitRefused;
}
