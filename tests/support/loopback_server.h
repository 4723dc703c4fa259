#pragma once
// A private sound server (PulseAudio or PipeWire, as tests/e2e/sound_server.py chooses) whose
// one sink is looped back to its capture side, like a cable from line-out to line-in. It lives
// in a runtime folder of its own; this process's environment points ALSA's client plugins at it,
// and AudioChoice() names the ALSA device to open, so ALSA's "default" and the user's own server
// are never used. Call from one thread; the environment changes are process-wide.

#include <string>
#include <sys/types.h>
#include <vector>

class CLoopbackServer {
public:
    CLoopbackServer() = default;
    ~CLoopbackServer();
    CLoopbackServer(const CLoopbackServer&) = delete;
    CLoopbackServer& operator=(const CLoopbackServer&) = delete;

    // False, with the reason, when the server cannot be started or does not answer.
    bool Start(std::string* why);
    // Stops the server but keeps its folder and address, as a crashed or restarted server would.
    void Stop();
    // Starts the server again at the same address.
    bool Restart(std::string* why);
    // The backend choice for SelectWaveBackend / TAVRIN_AUDIO, e.g. "alsa:pipewire".
    const std::string& AudioChoice() const { return m_audioChoice; }

private:
    bool Launch(std::string* why);

    pid_t m_pid = -1;
    int m_toServer = -1; // the runner stops its server when this pipe closes
    std::string m_dir;
    std::string m_audioChoice;
    std::vector<std::string> m_setNames;
};
