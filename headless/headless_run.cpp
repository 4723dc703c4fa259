#include "headless/headless_run.h"

#include "audio/wave/wave_api.h"
#include "base/format_and_alert.h"
#include "headless/stop_signal.h"

#include <cstdio>

CAlertLines::CAlertLines() {
    SetAlertSink([this](const Alert& alert) {
        std::lock_guard lock(m_mutex);
        if (m_echo) {
            std::fprintf(stderr, "%s: %s\n", kTool, alert.text.c_str());
        }
        m_last = alert.text;
    });
}

CAlertLines::~CAlertLines() {
    SetAlertSink({});
}

void CAlertLines::Echo() {
    std::lock_guard lock(m_mutex);
    m_echo = true;
}

std::string CAlertLines::Last() {
    std::lock_guard lock(m_mutex);
    return m_last;
}

bool BeginRun(const std::optional<std::string>& device) {
    if (!InstallStopSignals()) {
        std::fprintf(stderr, "%s: cannot make the wake-up pipe\n", kTool);
        return false;
    }
    // One device for both directions.
    if (device) {
        SetWaveDevices(*device, *device);
    }
    return true;
}

std::optional<std::string> StartCaptureOrSay(CSoundDevice& engine, CAlertLines& alerts) {
    engine.StartCapture();
    const std::string device = WaveDeviceName(WaveDirection::In);
    if (!engine.m_soundIn.m_running) {
        DeviceFailed("capture", device, alerts.Last());
        return std::nullopt;
    }
    return device;
}

void SayDroppedRows(int64_t dropped) {
    if (dropped > 0) {
        std::fprintf(stderr, "%s: the output fell behind; %lld rows were lost\n", kTool,
                     static_cast<long long>(dropped));
    }
}

void CReasonLines::Note(double time_s, const std::string& reason) {
    if (!reason.empty() && reason != m_last) {
        std::fprintf(stderr, "%s: %.3f s: %s\n", kTool, time_s, reason.c_str());
    }
    m_last = reason;
}

bool Print(const std::string& text) {
    return std::fwrite(text.data(), 1, text.size(), stdout) == text.size() &&
           std::fflush(stdout) == 0;
}

int DeviceFailed(const char* what, const std::string& device, const std::string& reason) {
    std::fprintf(stderr, "%s: cannot open %s device '%s': %s\n", kTool, what, device.c_str(),
                 reason.c_str());
    return kExitDeviceFailed;
}

void AnnounceRun(const std::string& device, std::optional<double> seconds) {
    if (seconds) {
        std::fprintf(stderr, "%s: measuring on '%s' for %g s\n", kTool, device.c_str(), *seconds);
    } else {
        std::fprintf(stderr, "%s: measuring on '%s' until Ctrl-C\n", kTool, device.c_str());
    }
}

CRunWatch::CRunWatch(std::string device, const CMeasureStream* stream)
    : m_device(std::move(device)), m_stream(stream), m_lastInput(std::chrono::steady_clock::now()),
      m_xruns(Xruns()) {}

uint64_t CRunWatch::Xruns() const {
    return m_stream ? m_stream->Xruns() : WaveXrunCount();
}

bool CRunWatch::Wait() {
    if (StopSignal() != 0) {
        return false;
    }
    if (std::chrono::steady_clock::now() - m_lastInput > kSilentDeviceLimit) {
        m_silent = true;
        return false;
    }
    WaitForWake(200);
    return true;
}

void CRunWatch::InputArrived() {
    m_lastInput = std::chrono::steady_clock::now();
}

void CRunWatch::NoteXruns(int64_t rows) {
    if (const uint64_t now = Xruns(); now != m_xruns) {
        std::fprintf(stderr, "%s: %llu xruns after %lld rows\n", kTool,
                     static_cast<unsigned long long>(now), static_cast<long long>(rows));
        m_xruns = now;
    }
}

int CRunWatch::Finish(int64_t rows) {
    std::fprintf(stderr, "%s: %lld rows, %llu xruns%s\n", kTool, static_cast<long long>(rows),
                 static_cast<unsigned long long>(Xruns()),
                 StopSignal() != 0 ? ", stopped by signal" : "");
    if (m_silent) {
        std::fprintf(stderr, "%s: no audio from '%s' for %lld s\n", kTool, m_device.c_str(),
                     static_cast<long long>(kSilentDeviceLimit.count()));
        return kExitDeviceFailed;
    }
    return kExitDone;
}
