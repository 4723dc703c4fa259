#include "headless/calibrate_session.h"

#include "audio/wave/wave_api.h"
#include "base/number_text.h"
#include "engine/sound_device.h"
#include "headless/input_level.h"
#include "headless/run_calibration.h"
#include "headless/stop_signal.h"
#include "headless/stream_run.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <mutex>

namespace {

// The input's level while the capture worker adds to it. The first buffer is left out: the
// device's start may cut into it. A gap in the input starts the reading again, since a hole
// would lower the RMS.
class CLevelTap {
public:
    static void Tap(const int16_t* interleaved, int frames, uint64_t gapCount, void* self) {
        static_cast<CLevelTap*>(self)->Add(interleaved, frames, gapCount);
    }
    // A measurement stream's tap, on its I/O thread.
    static void StreamTap(const float* interleaved, int frames, uint64_t gapCount, ClockStamp,
                          void* self) {
        static_cast<CLevelTap*>(self)->Add(interleaved, frames, gapCount);
    }

    CInputLevel Level() {
        std::lock_guard lock(m_mutex);
        return m_level;
    }

private:
    template <class Sample> void Add(const Sample* interleaved, int frames, uint64_t gapCount) {
        std::lock_guard lock(m_mutex);
        ++m_buffers;
        if (m_buffers == 1 || gapCount != m_gapCount) {
            m_gapCount = gapCount;
            m_level.Clear();
            return;
        }
        m_level.Add(interleaved, frames);
        WakeMainThread();
    }

    std::mutex m_mutex;
    CInputLevel m_level;
    int64_t m_buffers = 0;
    uint64_t m_gapCount = 0;
};

std::string Today() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[16];
    std::strftime(text, sizeof text, "%Y-%m-%d", &local);
    return text;
}

const char* ChannelName(CalibrationSide side, int channel) {
    if (side == CalibrationSide::Input) {
        return channel == 0 ? "X1" : "X2";
    }
    return channel == 0 ? "L" : "R";
}

// The level of the input in dBFS, or nothing after the line that says why not.
std::optional<double> ReadInput(const CalibrateOptions& options, CAlertLines& alerts,
                                std::string* device, int* status) {
    CLevelTap tap;
    // After the tap: the engine, or the stream, stops calling it before it goes.
    std::optional<CSoundDevice> engine;
    std::unique_ptr<CStreamRun> stream;
    if (AtStreamFormat(options)) {
        stream = CStreamRun::Open(options);
        if (!stream || !stream->Start(&CLevelTap::StreamTap, &tap, std::nullopt)) {
            *status = kExitDeviceFailed;
            return std::nullopt;
        }
        *device = stream->Device();
    } else {
        engine.emplace();
        engine->SetCaptureTap(&CLevelTap::Tap, &tap);
        const std::optional<std::string> opened = StartCaptureOrSay(*engine, alerts);
        if (!opened) {
            *status = kExitDeviceFailed;
            return std::nullopt;
        }
        *device = *opened;
    }
    alerts.Echo();
    std::fprintf(stderr, "%s: reading %s of '%s' for %g s\n", kTool,
                 ChannelName(options.side, options.channel), device->c_str(), *options.seconds);
    if (stream) {
        AnnounceStreamLength(*stream, "a reading",
                             int64_t(std::ceil(*options.seconds * stream->RateHz())));
    }

    const auto wanted = int64_t(std::ceil(*options.seconds * options.stream.rate_hz));
    CRunWatch watch(*device, stream ? &stream->Stream() : nullptr);
    int64_t frames = 0;
    while (frames < wanted && watch.Wait()) {
        if (const int64_t now = tap.Level().Frames(); now != frames) {
            frames = now;
            watch.InputArrived();
        }
    }
    if (stream) {
        stream->Stop();
    } else {
        engine->SetCaptureTap(nullptr, nullptr);
        engine->StopCapture();
    }
    if (frames < wanted) {
        if (StopSignal() != 0) {
            std::fprintf(stderr, "%s: stopped before the reading was complete; nothing stored\n",
                         kTool);
            *status = kExitCalibrationStopped;
        } else {
            *status = watch.Finish(0);
        }
        return std::nullopt;
    }
    const InputLevel level = tap.Level().Level(options.channel);
    if (level.clipped) {
        std::fprintf(stderr, "%s: %s is clipped: lower the signal; nothing stored\n", kTool,
                     ChannelName(options.side, options.channel));
        *status = kExitBadArguments;
        return std::nullopt;
    }
    return level.rms_dbfs;
}

// Plays the tone for the time asked, or until a stop signal. The output's name, or nothing
// after the line that says why it cannot play.
std::optional<std::string> PlayTone(const CalibrateOptions& options, CAlertLines& alerts) {
    TestSignal signal;
    signal.kind = TestSignalKind::Tone;
    signal.freq_hz = kCalibrateToneHz;
    signal.level_dbfs = options.level_dbfs;
    std::optional<CSoundDevice> engine;
    std::unique_ptr<CStreamRun> stream;
    std::string device = WaveDeviceName(WaveDirection::Out);
    // The stream runs both directions; what comes in is left alone.
    const auto ignore = [](const float*, int, uint64_t, ClockStamp, void*) {};
    if (AtStreamFormat(options)) {
        stream = CStreamRun::Open(options);
        if (!stream || !stream->Start(ignore, nullptr, signal)) {
            return std::nullopt;
        }
        device = stream->Device();
    } else {
        engine.emplace();
        if (!engine->StartTestSignal(signal)) {
            DeviceFailed("output", device, alerts.Last());
            return std::nullopt;
        }
    }
    alerts.Echo();
    std::fprintf(stderr,
                 "%s: playing %g Hz at %.2f dBFS on both outputs of '%s' for %g s; the "
                 "reading of %s is %s V\n",
                 kTool, kCalibrateToneHz, options.level_dbfs, device.c_str(), *options.seconds,
                 ChannelName(options.side, options.channel), FixedText(options.vrms, 6).c_str());
    const auto end =
        std::chrono::steady_clock::now() + std::chrono::duration<double>(*options.seconds);
    while (StopSignal() == 0 && std::chrono::steady_clock::now() < end) {
        WaitForWake(200);
    }
    if (stream) {
        stream->Stop();
    } else {
        engine->StopTestSignal();
    }
    return device;
}

} // namespace

int RunCalibrate(const CalibrateOptions& options) {
    CAlertLines alerts;
    if (!BeginRun(options.device)) {
        return kExitDeviceFailed;
    }
    // Read first: a file that is not whole is not overwritten, or what it held would be lost.
    const std::string path = options.file ? *options.file : CCalibrationStore::DefaultPath();
    CCalibrationStore store;
    std::string message;
    if (!store.Load(path, &message)) {
        std::fprintf(stderr, "%s: %s; mend or remove it first\n", kTool, message.c_str());
        return kExitBadArguments;
    }

    std::string device;
    double measured_dbfs = options.level_dbfs;
    if (options.side == CalibrationSide::Input) {
        int status = kExitDone;
        const auto level = ReadInput(options, alerts, &device, &status);
        if (!level) {
            return status;
        }
        measured_dbfs = *level;
    } else if (const auto played = PlayTone(options, alerts)) {
        device = *played;
    } else {
        return kExitDeviceFailed;
    }

    const auto at0 = CalibrateFromReading(options.vrms, measured_dbfs);
    if (!at0) {
        std::fprintf(stderr,
                     "%s: %s reads %s dBFS, below -100 dBFS: too close to the noise to "
                     "calibrate; nothing stored\n",
                     kTool, ChannelName(options.side, options.channel),
                     FixedText(measured_dbfs, 2).c_str());
        return kExitBadArguments;
    }
    CalibrationEntry entry{device, options.side, options.channel, *at0, Today()};
    NoteCalibrationFormat(&entry, options.stream);
    store.Set(entry);
    std::string error;
    if (!store.Save(path, &error)) {
        std::fprintf(stderr, "%s: %s; nothing stored\n", kTool, error.c_str());
        return kExitBadArguments;
    }
    std::fprintf(stderr, "%s: %s of '%s' at %s dBFS is %s V; stored in %s\n", kTool,
                 ChannelName(options.side, options.channel), device.c_str(),
                 FixedText(measured_dbfs, 2).c_str(), FixedText(options.vrms, 6).c_str(),
                 path.c_str());
    return Print(FixedText(*at0, 6) + "\n") ? kExitDone : kExitDeviceFailed;
}
