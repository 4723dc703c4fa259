#pragma once
// What every headless run shares, `tavrin measure` and `tavrin thd` alike: the exit statuses,
// the engine's alerts as lines on stderr, the device choice, writing to stdout, and the main
// thread's watch over the run: stop signals, gaps in the input, and a device gone silent.
// Main thread only, except where a comment says otherwise.

#include "audio/stream/measure_stream.h"
#include "engine/sound_device.h"

#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

// Exit statuses of the tool.
inline constexpr int kExitDone = 0;
inline constexpr int kExitBadArguments = 2;
inline constexpr int kExitDeviceFailed = 3;

// Every message line starts with the tool's name.
inline constexpr const char* kTool = "tavrin-measure";

// The engine's boxes become lines on stderr once the run is under way. Before, the latest is
// only kept: a failed start explains itself in one line of its own. Alerts come from any thread.
class CAlertLines {
public:
    CAlertLines();
    ~CAlertLines();
    CAlertLines(const CAlertLines&) = delete;
    CAlertLines& operator=(const CAlertLines&) = delete;
    void Echo();
    std::string Last();

private:
    std::mutex m_mutex;
    bool m_echo = false;
    std::string m_last;
};

// Once, before the engine starts: Ctrl-C and SIGTERM end the run cleanly (stop_signal.h), and
// `device` ("sim..." the simulated card, anything else ALSA's; nothing leaves the choice to
// TAVRIN_AUDIO) serves both directions. False, said on stderr, when the wake-up pipe cannot be
// made.
bool BeginRun(const std::optional<std::string>& device);

// Starts the engine's capture. The capture device's name, or nothing after the one line that
// says why it cannot be opened.
std::optional<std::string> StartCaptureOrSay(CSoundDevice& engine, CAlertLines& alerts);

// The line for rows the capture worker made but the output could not take in time.
void SayDroppedRows(int64_t dropped);

// False when stdout is gone (a closed pipe): the run then ends as if stopped.
bool Print(const std::string& text);

// The one line for a device that cannot be opened; returns kExitDeviceFailed.
int DeviceFailed(const char* what, const std::string& device, const std::string& reason);

// "measuring on 'DEVICE' for N s" or "... until Ctrl-C".
void AnnounceRun(const std::string& device, std::optional<double> seconds);

// Why rows are empty, as a person reading stderr wants it: "tavrin: 12.345 s: REASON", said when
// the reason changes and not again while it stays. A row with figures (reason "") says nothing
// and lets the next refusal be said again, even the same one.
class CReasonLines {
public:
    void Note(double time_s, const std::string& reason);
    // The reason of the last row noted; "" when it had figures or none was noted.
    const std::string& Last() const { return m_last; }

private:
    std::string m_last;
};

// The main thread's loop once the capture runs:
//     while (watch.Wait()) { print what came, InputArrived() if anything did; NoteXruns(rows); }
class CRunWatch {
public:
    // stream: the run's measurement stream, whose xruns are counted instead of the panel's.
    explicit CRunWatch(std::string device, const CMeasureStream* stream = nullptr);
    // Sleeps until a wake or a fifth of a second; false once a stop signal has come or the
    // input has been silent for the limit.
    bool Wait();
    // Input arrived: the silence starts again from now.
    void InputArrived();
    // A gap in the input is worth a line in an overnight log; the rows do not show it.
    void NoteXruns(int64_t rows);
    // The closing lines: rows, xruns, a stop by signal, and a silent device. The exit status.
    int Finish(int64_t rows);

private:
    // The PulseAudio plugin holds back the first capture for about two seconds; a device that
    // stays silent much longer than that has stopped.
    static constexpr auto kSilentDeviceLimit = std::chrono::seconds(10);

    uint64_t Xruns() const;

    const std::string m_device;
    const CMeasureStream* const m_stream;
    bool m_silent = false;
    std::chrono::steady_clock::time_point m_lastInput;
    uint64_t m_xruns = 0;
};
