#include "measure_session.h"

#include "format_and_alert.h"
#include "headless_meter.h"
#include "measure_rows.h"
#include "stop_signal.h"
#include "wav_file.h"
#include "wave_api.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

namespace {

constexpr const char* kTool = "tavrin-measure";
// The PulseAudio plugin holds back the first capture for about two seconds; a device that
// stays silent much longer than that has stopped.
constexpr auto kSilentDeviceLimit = std::chrono::seconds(10);

// The engine's boxes become lines on stderr once the run is under way. Before, the latest is
// only kept: a failed start explains itself in one line of its own.
class CAlertLines {
public:
    CAlertLines() {
        SetAlertSink([this](const Alert& alert) {
            std::lock_guard lock(m_mutex);
            if (m_echo) {
                std::fprintf(stderr, "%s: %s\n", kTool, alert.text.c_str());
            }
            m_last = alert.text;
        });
    }
    ~CAlertLines() { SetAlertSink({}); }
    void Echo() {
        std::lock_guard lock(m_mutex);
        m_echo = true;
    }
    std::string Last() {
        std::lock_guard lock(m_mutex);
        return m_last;
    }

private:
    std::mutex m_mutex;
    bool m_echo = false;
    std::string m_last;
};

// One device for both directions: "sim" is the simulated card, anything else ALSA's.
void SelectDevice(const std::optional<std::string>& device) {
    if (device) {
        SetWaveDevices(*device, *device);
    }
}

void SetGenerator(CSoundDevice& engine, const GenerateOption& option) {
    const bool left = option.channel == 0;
    (left ? engine.m_waveL : engine.m_waveR) = option.waveform;
    (left ? engine.m_freqL : engine.m_freqR) = option.hertz;
    (left ? engine.m_attenL : engine.m_attenR) = option.divisor;
}

// False when stdout is gone (a closed pipe): the run then ends as if stopped.
bool Print(const std::string& text) {
    return std::fwrite(text.data(), 1, text.size(), stdout) == text.size() &&
           std::fflush(stdout) == 0;
}

int DeviceFailed(const char* what, const std::string& device, const std::string& reason) {
    std::fprintf(stderr, "%s: cannot open %s device '%s': %s\n", kTool, what, device.c_str(),
                 reason.c_str());
    return kExitDeviceFailed;
}

} // namespace

int RunMeasure(const MeasureOptions& options) {
    CAlertLines alerts;
    if (!InstallStopSignals()) {
        std::fprintf(stderr, "%s: cannot make the wake-up pipe\n", kTool);
        return kExitDeviceFailed;
    }
    SelectDevice(options.device);

    const int64_t bufferLimit =
        options.seconds ? int64_t(std::ceil(*options.seconds / kBufferSeconds)) : 0;
    CHeadlessMeter engine(options.meterMode, options.refValue, bufferLimit);

    if (options.recordPath) {
        engine.StartRecording(options.recordPath->c_str());
        if (engine.m_recorder == nullptr || engine.m_recorder->m_mode == 0) {
            std::fprintf(stderr, "%s: cannot create '%s' for recording\n", kTool,
                         options.recordPath->c_str());
            return kExitBadArguments;
        }
        engine.m_recording = 1;
    }
    if (!options.generate.empty()) {
        for (const GenerateOption& option : options.generate) {
            SetGenerator(engine, option);
        }
        // Set first, as the panel's source switch does: the primed buffers carry the signal.
        engine.m_generatorOn = true;
        engine.StartPlayback();
        if (!engine.m_soundPlay.m_running) {
            return DeviceFailed("output", WaveDeviceName(WaveDirection::Out), alerts.Last());
        }
    }
    engine.StartCapture();
    const std::string device = WaveDeviceName(WaveDirection::In);
    if (!engine.m_soundIn.m_running) {
        return DeviceFailed("capture", device, alerts.Last());
    }
    alerts.Echo();

    if (options.seconds) {
        std::fprintf(stderr, "%s: measuring on '%s' for %g s\n", kTool, device.c_str(),
                     *options.seconds);
    } else {
        std::fprintf(stderr, "%s: measuring on '%s' until Ctrl-C\n", kTool, device.c_str());
    }
    const bool withMeter = options.meterMode.has_value();
    bool writing = Print(FormatHeader(options.format, withMeter, device));
    std::vector<MeasureRow> rows;
    rows.reserve(64);
    int64_t printed = 0;
    auto lastRow = std::chrono::steady_clock::now();
    bool silent = false;
    auto printRows = [&] {
        rows.clear();
        engine.TakeRows(rows);
        for (const MeasureRow& row : rows) {
            writing = writing && Print(FormatRow(options.format, withMeter, row));
            ++printed;
        }
        if (!rows.empty()) {
            lastRow = std::chrono::steady_clock::now();
        }
    };
    uint64_t xruns = WaveXrunCount();
    while (writing && StopSignal() == 0 && !engine.Finished()) {
        WaitForWake(200);
        printRows();
        // A gap in the input is worth a line in an overnight log; the rows do not show it.
        if (const uint64_t now = WaveXrunCount(); now != xruns) {
            std::fprintf(stderr, "%s: %llu xruns after %lld rows\n", kTool,
                         static_cast<unsigned long long>(now), static_cast<long long>(printed));
            xruns = now;
        }
        if (std::chrono::steady_clock::now() - lastRow > kSilentDeviceLimit) {
            silent = true;
            break;
        }
    }
    engine.StopCapture();
    engine.StopPlayback();
    printRows();
    engine.m_recording = 0;
    engine.StopRecording();

    if (engine.DroppedRows() > 0) {
        std::fprintf(stderr, "%s: the output fell behind; %lld rows were lost\n", kTool,
                     static_cast<long long>(engine.DroppedRows()));
    }
    std::fprintf(stderr, "%s: %lld rows, %llu xruns%s\n", kTool, static_cast<long long>(printed),
                 static_cast<unsigned long long>(WaveXrunCount()),
                 StopSignal() != 0 ? ", stopped by signal" : "");
    if (silent) {
        std::fprintf(stderr, "%s: no audio from '%s' for %lld s\n", kTool, device.c_str(),
                     static_cast<long long>(kSilentDeviceLimit.count()));
        return kExitDeviceFailed;
    }
    return kExitDone;
}
