#include "headless/sweep_session.h"

#include "analysis/sweep/sweep_files.h"
#include "audio/wave/wave_api.h"
#include "base/pcm_format.h"
#include "files/float_wave.h"
#include "files/wav_file.h"
#include "headless/stop_signal.h"
#include "headless/stream_run.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace {

constexpr int kAttempts = 2; // one more after a gap

enum class Attempt { Done, Gap, Failed };

// The progress line, rewritten in place on a terminal; a log gets it once, at the end.
void ShowProgress(double fraction, bool last) {
    static const bool terminal = isatty(STDERR_FILENO) != 0;
    if (terminal || last) {
        std::fprintf(stderr, "%s%s: %3d %% captured%s", terminal ? "\r" : "", kTool,
                     int(std::lround(100 * fraction)), last ? "\n" : "");
    }
}

bool WriteText(const std::string& path, const std::string& text, std::string* error) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) {
        *error = "cannot write " + path + ": " + std::strerror(errno);
        return false;
    }
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    const int saved = errno;
    if (std::fclose(file) != 0 || !written) {
        *error = "cannot write " + path + ": " + std::strerror(written ? errno : saved);
        return false;
    }
    return true;
}

struct TapContext {
    CSweepMeasurement* measurement;
    const CSoundDevice* engine;
};

// The measurement's own tap, with each buffer's capture time, and a wake for the main thread at
// the first buffer: the sweep waits for it (below). Capture worker.
void TapAndWake(const int16_t* interleaved, int frames, uint64_t gapCount, void* self) {
    const auto* context = static_cast<const TapContext*>(self);
    CSweepMeasurement* measurement = context->measurement;
    const bool first = measurement->Progress() == 0;
    measurement->Feed(interleaved, frames, gapCount, context->engine->TappedStamp());
    if (first) {
        WakeMainThread();
    }
}

// The same on a measurement stream's I/O thread, whose periods come with their own stamps.
void StreamTapAndWake(const float* interleaved, int frames, uint64_t gapCount, ClockStamp stamp,
                      void* self) {
    auto* measurement = static_cast<CSweepMeasurement*>(self);
    const bool first = measurement->Progress() == 0;
    measurement->Feed(interleaved, frames, gapCount, stamp);
    if (first) {
        WakeMainThread();
    }
}

// One measurement from capture start to analysis. *status is set when the run cannot go on
// (device, stop signal, silence).
Attempt Measure(const SweepOptions& options, CAlertLines& alerts, SweepOutcome* outcome,
                int* status) {
    const SweepMeasurementSettings& settings = options.measurement;
    CSweepMeasurement measurement(settings);
    // Either the panel's engine or, at another rate or format, a stream of the run's own; both
    // stop calling the tap before the measurement goes.
    std::optional<CSoundDevice> engine;
    std::unique_ptr<CStreamRun> stream;
    // The output runs (silent) before the capture starts, and the sweep follows once the first
    // captured buffer is in. A sound server may start a capture stream well after it was opened
    // (PulseAudio's plugin holds it back for about 0.4 s), and it loses the first tens of
    // milliseconds a new playback stream plays; either way the sweep's start would be missing.
    TestSignal silence;
    silence.kind = TestSignalKind::Samples;
    TapContext tap{&measurement, nullptr};
    std::optional<std::string> device;
    if (AtStreamFormat(options)) {
        stream = CStreamRun::Open(options);
        if (!stream || !stream->Start(&StreamTapAndWake, &measurement, silence)) {
            *status = kExitDeviceFailed;
            return Attempt::Failed;
        }
        device = stream->Device();
    } else {
        engine.emplace();
        tap.engine = &*engine;
        // The recording and the tap see the same buffers from the first one on, so the file's
        // frames are the analysis's.
        engine->SetCaptureTap(&TapAndWake, &tap);
        if (options.capture) {
            engine->StartRecording(options.capture->c_str());
            if (engine->m_recorder == nullptr || engine->m_recorder->m_mode == 0) {
                std::fprintf(stderr, "%s: cannot create '%s' for the capture\n", kTool,
                             options.capture->c_str());
                *status = kExitBadArguments;
                return Attempt::Failed;
            }
            engine->m_recording = 1;
        }
        if (!engine->StartTestSignal(silence)) {
            engine->SetCaptureTap(nullptr, nullptr);
            *status = DeviceFailed("output", WaveDeviceName(WaveDirection::Out), alerts.Last());
            return Attempt::Failed;
        }
        device = StartCaptureOrSay(*engine, alerts);
        if (!device) {
            *status = kExitDeviceFailed;
            return Attempt::Failed;
        }
    }
    CRunWatch watch(*device, stream ? &stream->Stream() : nullptr);
    while (measurement.Progress() == 0 && watch.Wait()) {
    }
    if (measurement.Progress() > 0) {
        watch.InputArrived();
        TestSignal sweep = silence;
        if (stream) {
            sweep.float_samples = measurement.PlaybackFloat();
            stream->Play(sweep);
        } else {
            sweep.samples = measurement.Playback();
            engine->StartTestSignal(sweep); // the output is running: nothing left to fail
        }
    }
    alerts.Echo();
    const double seconds =
        (double(settings.sweep.frames) * settings.averages) / settings.sweep.rate_hz;
    std::fprintf(stderr, "%s: sweeping %g-%g Hz at %.2f dBFS, %.2f s%s, on '%s'\n", kTool,
                 settings.sweep.f1_hz, settings.sweep.f2_hz, settings.sweep.level_dbfs, seconds,
                 settings.averages > 1 ? " in all" : "", device->c_str());
    if (stream) {
        AnnounceStreamLength(*stream, "a sweep", settings.sweep.frames);
    }

    double progress = 0;
    while (!measurement.Complete() && watch.Wait()) {
        if (const double now = measurement.Progress(); now != progress) {
            progress = now;
            watch.InputArrived();
            ShowProgress(progress, false);
        }
    }
    if (stream) {
        // The stream tells when each period was captured but not when a played one left: the
        // latency is counted from the capture's start.
        stream->Stop();
    } else {
        engine->SetCaptureTap(nullptr, nullptr);
        measurement.SetDeparture(engine->TestSignalDeparture());
        engine->StopCapture();
        engine->StopRecording();
        engine->StopTestSignal();
    }
    ShowProgress(measurement.Progress(), true);
    if (!measurement.Complete()) {
        if (StopSignal() != 0) {
            std::fprintf(stderr, "%s: %s\n", kTool, SweepFailureText(SweepFailure::Stopped));
            *status = kExitSweepStopped;
        } else {
            *status = watch.Finish(0);
        }
        return Attempt::Failed;
    }
    *outcome = measurement.Analyse();
    return outcome->failure == SweepFailure::Gap ? Attempt::Gap : Attempt::Done;
}

bool WriteResults(const SweepOptions& options, const SweepOutcome& outcome) {
    std::string error;
    const std::string csv = SweepCsvText(outcome.result);
    bool ok = true;
    if (!options.csv || *options.csv == "-") {
        ok = Print(csv);
    } else {
        ok = WriteText(*options.csv, csv, &error);
    }
    if (ok && options.frd) {
        std::string comment =
            "tavrin sweep, X" + std::to_string(outcome.input + 1) +
            (options.measurement.reference == SweepReference::X2 ? " over X2" : "") + "\n" +
            SweepLatencyText(outcome);
        if (outcome.result.gate_lowest_hz > 0) {
            comment += "\n" + SweepGateText(options.measurement.analysis, outcome.result);
        }
        ok = WriteText(*options.frd, SweepFrdText(outcome.result, comment), &error);
    }
    if (ok && options.ir) {
        ok = WriteFloatWave(*options.ir, outcome.impulse, options.stream.rate_hz, error);
    }
    if (!ok && !error.empty()) {
        std::fprintf(stderr, "%s: %s\n", kTool, error.c_str());
    }
    return ok;
}

} // namespace

int RunSweep(const SweepOptions& options) {
    CAlertLines alerts;
    if (!BeginRun(options.device)) {
        return kExitDeviceFailed;
    }
    SweepOutcome outcome;
    for (int attempt = 1; attempt <= kAttempts; ++attempt) {
        int status = kExitDone;
        const Attempt result = Measure(options, alerts, &outcome, &status);
        if (result == Attempt::Failed) {
            return status;
        }
        if (result == Attempt::Done) {
            break;
        }
        if (attempt < kAttempts) {
            std::fprintf(stderr, "%s: %s; once more\n", kTool, SweepFailureText(outcome.failure));
        }
    }
    if (outcome.failure != SweepFailure::None) {
        std::fprintf(stderr, "%s: refused: %s\n", kTool, SweepFailureText(outcome.failure));
        return kExitSweepRefused;
    }
    std::fprintf(stderr, "%s: %s\n", kTool, SweepLatencyText(outcome).c_str());
    if (outcome.result.gate_lowest_hz > 0) {
        std::fprintf(stderr, "%s: %s\n", kTool,
                     SweepGateText(options.measurement.analysis, outcome.result).c_str());
    }
    return WriteResults(options, outcome) ? kExitDone : kExitBadArguments;
}
