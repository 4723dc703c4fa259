#include "audio/wave/wave_api.h"

#include "audio/wave/wave_backends.h"
#include "base/trace.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

namespace {

std::mutex g_backendMutex;
std::string g_backendOverride;
bool g_hasOverride = false;
std::string g_chosenDevice[2]; // by name, input then output; empty: not chosen

std::atomic<uint64_t> g_xruns{0};
std::atomic<uint64_t> g_droppedFrames{0};
std::atomic<uint64_t> g_inputOutages{0};
std::atomic<uint64_t> g_inputXruns{0};
std::atomic<uint64_t> g_captureStarts{0};

// The soak benchmark reads the counters of a whole run from the trace at exit.
struct ExitCounts {
    ~ExitCounts() {
        Trace("xruns %llu dropped-input-frames %llu",
              static_cast<unsigned long long>(g_xruns.load()),
              static_cast<unsigned long long>(g_droppedFrames.load()));
    }
} g_exitCounts;

thread_local MMRESULT t_lastCode = MMSYSERR_NOERROR;
thread_local char t_lastDetail[256] = "";

int Index(WaveDirection direction) {
    return direction == WaveDirection::In ? 0 : 1;
}

template <typename Call> MMRESULT WithDevice(CWaveDevice* device, WaveCall which, Call call) {
    if (device == nullptr) {
        return WaveFail(MMSYSERR_INVALHANDLE, "the audio device is not open");
    }
    if (const MMRESULT fault = device->InjectedFault(which)) {
        return fault;
    }
    return call(device);
}

const char* GenericText(MMRESULT code) {
    switch (code) {
    case MMSYSERR_NOERROR:
        return "no error";
    case MMSYSERR_ERROR:
        return "unspecified audio error";
    case MMSYSERR_BADDEVICEID:
        return "no such audio device";
    case MMSYSERR_ALLOCATED:
        return "the audio device is already in use";
    case MMSYSERR_INVALHANDLE:
        return "the audio device is not open";
    case MMSYSERR_NODRIVER:
        return "no audio driver is installed";
    case MMSYSERR_NOMEM:
        return "out of memory";
    case MMSYSERR_INVALPARAM:
        return "invalid parameter";
    case WAVERR_BADFORMAT:
        return "the audio device does not support 16-bit stereo at 44100 Hz";
    case WAVERR_STILLPLAYING:
        return "buffers are still queued on the audio device";
    case WAVERR_UNPREPARED:
        return "buffer header is not prepared";
    default:
        return "unknown audio error";
    }
}

void ErrorText(MMRESULT code, char* text, int chars) {
    if (text == nullptr || chars <= 0) {
        return;
    }
    const char* source =
        (code == t_lastCode && t_lastDetail[0] != '\0') ? t_lastDetail : GenericText(code);
    std::snprintf(text, size_t(chars), "%s", source);
}

} // namespace

bool ResolveWaveDevice(WaveDirection direction, std::string* name) {
    std::lock_guard lock(g_backendMutex);
    if (!g_chosenDevice[Index(direction)].empty()) {
        *name = g_chosenDevice[Index(direction)];
        return true;
    }
    const char* env = std::getenv("TAVRIN_AUDIO");
    const std::string backend = g_hasOverride ? g_backendOverride : (env != nullptr ? env : "");
    if (backend.empty() || backend == "alsa") {
        *name = "default";
    } else if (backend.rfind("alsa:", 0) == 0 && backend.size() > 5) {
        *name = backend.substr(5);
    } else {
        *name = backend;
        if (!IsSimulatedDeviceName(backend)) {
            WaveFail(MMSYSERR_BADDEVICEID, "TAVRIN_AUDIO=%s is not one of alsa, alsa:NAME, sim",
                     backend.c_str());
            return false;
        }
    }
    return true;
}

MMRESULT WaveFail(MMRESULT code, const char* detailFormat, ...) {
    va_list args;
    va_start(args, detailFormat);
    std::vsnprintf(t_lastDetail, sizeof t_lastDetail, detailFormat, args);
    va_end(args);
    t_lastCode = code;
    return code;
}

void SelectWaveBackend(const char* choice) {
    std::lock_guard lock(g_backendMutex);
    g_hasOverride = choice != nullptr;
    g_backendOverride = choice != nullptr ? choice : "";
}

void SetWaveDevices(const std::string& input, const std::string& output) {
    std::lock_guard lock(g_backendMutex);
    g_chosenDevice[0] = input;
    g_chosenDevice[1] = output;
}

void SetWaveDevice(WaveDirection direction, const std::string& name) {
    std::lock_guard lock(g_backendMutex);
    g_chosenDevice[Index(direction)] = name;
}

std::string WaveDeviceName(WaveDirection direction) {
    std::string name;
    ResolveWaveDevice(direction, &name);
    return name;
}

bool IsSimulatedDeviceName(const std::string& name) {
    return name == "sim" || name.rfind("sim:", 0) == 0;
}

void CountXrun() {
    g_xruns.fetch_add(1, std::memory_order_relaxed);
}
void CountCaptureXrun() {
    g_inputXruns.fetch_add(1, std::memory_order_relaxed);
    CountXrun();
}
void CountDroppedInputFrames(uint64_t frames) {
    g_droppedFrames.fetch_add(frames, std::memory_order_relaxed);
}
uint64_t WaveXrunCount() {
    return g_xruns.load(std::memory_order_relaxed);
}
uint64_t WaveDroppedInputFrames() {
    return g_droppedFrames.load(std::memory_order_relaxed);
}
void CountInputOutage() {
    g_inputOutages.fetch_add(1, std::memory_order_relaxed);
}
uint64_t WaveGapCount() {
    return WaveXrunCount() + WaveDroppedInputFrames() +
           g_inputOutages.load(std::memory_order_relaxed);
}
uint64_t WaveInputGapCount() {
    return g_inputXruns.load(std::memory_order_relaxed) + WaveDroppedInputFrames() +
           g_inputOutages.load(std::memory_order_relaxed) +
           g_captureStarts.load(std::memory_order_relaxed);
}

MMRESULT waveInPrepareHeader(HWAVEIN d, WAVEHDR* h) {
    return WithDevice(d, WaveCall::Prepare, [h](CWaveDevice* x) { return x->Prepare(h); });
}
MMRESULT waveInUnprepareHeader(HWAVEIN d, WAVEHDR* h) {
    return WithDevice(d, WaveCall::Unprepare, [h](CWaveDevice* x) { return x->Unprepare(h); });
}
MMRESULT waveInAddBuffer(HWAVEIN d, WAVEHDR* h) {
    return WithDevice(d, WaveCall::Add, [h](CWaveDevice* x) { return x->Add(h); });
}
MMRESULT waveInStart(HWAVEIN d) {
    return WithDevice(d, WaveCall::Start, [](CWaveDevice* x) {
        const MMRESULT result = x->Start();
        if (result == MMSYSERR_NOERROR) {
            g_captureStarts.fetch_add(1, std::memory_order_relaxed);
        }
        return result;
    });
}
MMRESULT waveInReset(HWAVEIN d) {
    return WithDevice(d, WaveCall::Reset, [](CWaveDevice* x) { return x->Reset(); });
}
MMRESULT waveInClose(HWAVEIN d) {
    return WithDevice(d, WaveCall::Close, [](CWaveDevice* x) {
        const MMRESULT r = x->Close();
        if (r == MMSYSERR_NOERROR) {
            delete x;
        }
        return r;
    });
}
void waveInGetErrorText(MMRESULT code, char* text, int chars) {
    ErrorText(code, text, chars);
}

MMRESULT waveOutPrepareHeader(HWAVEOUT d, WAVEHDR* h) {
    return waveInPrepareHeader(d, h);
}
MMRESULT waveOutUnprepareHeader(HWAVEOUT d, WAVEHDR* h) {
    return waveInUnprepareHeader(d, h);
}
MMRESULT waveOutWrite(HWAVEOUT d, WAVEHDR* h) {
    return waveInAddBuffer(d, h);
}
MMRESULT waveOutReset(HWAVEOUT d) {
    return waveInReset(d);
}
MMRESULT waveOutClose(HWAVEOUT d) {
    return waveInClose(d);
}
void waveOutGetErrorText(MMRESULT code, char* text, int chars) {
    ErrorText(code, text, chars);
}
