#include "headless/thd_session.h"

#include "analysis/distortion/distortion_monitor.h"
#include "audio/wave/wave_api.h"
#include "base/pcm_format.h"
#include "engine/sound_device.h"
#include "headless/row_ring.h"
#include "headless/stop_signal.h"
#include "headless/stream_run.h"
#include "headless/thd_rows.h"

#include <atomic>
#include <cmath>
#include <cstdio>
#include <mutex>
#include <vector>

namespace {

// The monitor between the capture tap and the main thread. The tap and the monitor's sink run
// on the capture worker; TakeRows and the counters are read on the main thread.
class CThdCapture {
public:
    // blockLimit: rows to make, 0 for no limit.
    explicit CThdCapture(int64_t blockLimit)
        : m_monitor([this](const DistortionRow& row) { OnRow(row); }, false),
          m_blockLimit(blockLimit) {}

    CDistortionMonitor& Monitor() { return m_monitor; }

    static void Tap(const int16_t* interleaved, int frames, uint64_t gapCount, void* self) {
        static_cast<CThdCapture*>(self)->Append(interleaved, frames, gapCount);
    }
    // A measurement stream's tap: its I/O thread stands for the capture worker.
    static void StreamTap(const float* interleaved, int frames, uint64_t gapCount, ClockStamp,
                          void* self) {
        static_cast<CThdCapture*>(self)->Append(interleaved, frames, gapCount);
    }

    void TakeRows(std::vector<DistortionRow>& rows) {
        std::lock_guard lock(m_mutex);
        m_ring.TakeAll(rows);
    }
    int64_t Dropped() {
        std::lock_guard lock(m_mutex);
        return m_ring.Dropped();
    }
    int64_t FramesIn() const { return m_framesIn.load(); }
    bool Finished() const { return m_finished.load(); }

private:
    // 64 blocks: 95 s of rows at the default block and 44100 Hz, 22 s at 192 kHz; the
    // main thread takes them five times a second.
    static constexpr int kRingRows = 64;

    template <class Sample> void Append(const Sample* interleaved, int frames, uint64_t gapCount) {
        m_framesIn += frames;
        if (!m_finished) {
            m_monitor.Append(interleaved, frames, gapCount);
        }
    }

    void OnRow(const DistortionRow& row) {
        {
            std::lock_guard lock(m_mutex);
            m_ring.Push(row);
        }
        if (m_blockLimit > 0 && ++m_rowsMade >= m_blockLimit) {
            m_finished = true;
        }
        WakeMainThread();
    }

    CDistortionMonitor m_monitor;
    const int64_t m_blockLimit;
    int64_t m_rowsMade = 0; // capture worker only
    std::atomic<int64_t> m_framesIn{0};
    std::atomic<bool> m_finished{false};
    std::mutex m_mutex;
    CRowRing<DistortionRow, kRingRows> m_ring;
};

void AnnounceSignal(const TestSignal& signal, const std::optional<ImdTones>& imd,
                    const std::string& device) {
    const char* dither = signal.dither ? " with dither" : "";
    if (!imd) {
        std::fprintf(stderr, "%s: playing %.2f Hz at %.2f dBFS%s on '%s'\n", kTool, signal.freq_hz,
                     signal.level_dbfs, dither, device.c_str());
        return;
    }
    const char* names[] = {"SMPTE", "CCIF", "DIN", "custom"};
    std::fprintf(stderr,
                 "%s: playing the %s two-tone signal (%.2f Hz + %.2f Hz, %g:1) at %.2f dBFS peak%s "
                 "on '%s'\n",
                 kTool, names[int(imd->kind)], imd->f1_hz, imd->f2_hz, imd->ratio,
                 signal.level_dbfs, dither, device.c_str());
}

// A tone given in volts becomes dBFS through the output's calibration (its L channel: the
// test signal plays the same on both). False after the one line that says why it cannot.
bool ResolveToneVolts(ThdOptions* options) {
    if (!options->tone || !options->tone->level_vrms) {
        return true;
    }
    const std::string device = WaveDeviceName(WaveDirection::Out);
    CCalibrationStore store;
    std::string message;
    if (!store.Load(CCalibrationStore::DefaultPath(), &message)) {
        std::fprintf(stderr, "%s: %s\n", kTool, message.c_str());
        return false;
    }
    const auto entry = store.Find(device, CalibrationSide::Output, 0);
    if (!entry) {
        std::fprintf(stderr,
                     "%s: a tone in volts needs the calibration of output L of '%s' (tavrin "
                     "calibrate --output l)\n",
                     kTool, device.c_str());
        return false;
    }
    SayCalibratedElsewhere(*entry, options->stream);
    const double level_dbfs = VrmsToDbfs(*options->tone->level_vrms, entry->vrms_at_0dbfs);
    if (!(level_dbfs >= kTestLevelMinDbfs && level_dbfs <= kTestLevelMaxDbfs)) {
        std::fprintf(stderr, "%s: %g V is %.2f dBFS on '%s', outside -120 to 0 dBFS\n", kTool,
                     *options->tone->level_vrms, level_dbfs, device.c_str());
        return false;
    }
    options->tone->level_dbfs = level_dbfs;
    return true;
}

} // namespace

int RunThd(const ThdOptions& given) {
    ThdOptions options = given;
    CAlertLines alerts;
    if (!BeginRun(options.device)) {
        return kExitDeviceFailed;
    }
    if (!ResolveToneVolts(&options)) {
        return kExitBadArguments;
    }

    // Whole blocks: the run ends with the block that reaches the time asked for.
    const double rate_hz = options.stream.rate_hz;
    const int64_t blockLimit =
        options.seconds ? int64_t(std::ceil(*options.seconds * rate_hz / options.block_frames)) : 0;
    CThdCapture capture(blockLimit);
    capture.Monitor().SetSettings({options.block_frames, options.analysis, options.imd, rate_hz});

    // After the capture: the engine, or the stream, stops calling the tap before the monitor goes.
    std::optional<CSoundDevice> engine;
    std::unique_ptr<CStreamRun> stream;
    const std::optional<TestSignal> signal = ThdTestSignal(options);
    std::string device;
    if (AtStreamFormat(options)) {
        stream = CStreamRun::Open(options);
        if (!stream || !stream->Start(&CThdCapture::StreamTap, &capture, signal)) {
            return kExitDeviceFailed;
        }
        device = stream->Device();
    } else {
        engine.emplace();
        engine->SetCaptureTap(&CThdCapture::Tap, &capture);
        if (signal && !engine->StartTestSignal(*signal)) {
            return DeviceFailed("output", WaveDeviceName(WaveDirection::Out), alerts.Last());
        }
        const std::optional<std::string> opened = StartCaptureOrSay(*engine, alerts);
        if (!opened) {
            return kExitDeviceFailed;
        }
        device = *opened;
    }
    alerts.Echo();
    if (signal) {
        AnnounceSignal(*signal, options.imd, stream ? device : WaveDeviceName(WaveDirection::Out));
    }
    AnnounceRun(device, options.seconds);
    if (stream) {
        AnnounceStreamLength(*stream, "blocks", options.block_frames);
    }
    const ChannelVolts volts = LoadChannelVolts(CCalibrationStore::DefaultPath(), device,
                                                CalibrationSide::Input, options.stream);

    const bool withImd = options.imd.has_value();
    bool writing = Print(FormatThdHeader(options.format, withImd, device));
    std::vector<DistortionRow> rows;
    int64_t printed = 0;
    int64_t framesIn = 0;
    CReasonLines reasons;
    CRunWatch watch(device, stream ? &stream->Stream() : nullptr);
    auto printRows = [&] {
        rows.clear();
        capture.TakeRows(rows);
        for (const DistortionRow& row : rows) {
            reasons.Note(row.time_s, DistortionRowRefusal(row));
            writing = writing && Print(FormatThdRow(options.format, withImd, row, volts));
            ++printed;
        }
        // A block lasts up to six seconds: the input is alive while its frames come.
        if (const int64_t now = capture.FramesIn(); now != framesIn) {
            framesIn = now;
            watch.InputArrived();
        }
    };
    while (writing && !capture.Finished() && watch.Wait()) {
        printRows();
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
    printRows();

    SayDroppedRows(capture.Dropped());
    return watch.Finish(printed);
}
