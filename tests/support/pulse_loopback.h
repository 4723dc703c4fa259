#pragma once
// A private PulseAudio daemon with a null sink whose monitor is the default source: what is
// played on ALSA "default" comes back on ALSA "default" capture, like a cable from line-out to
// line-in. Own runtime folder, stopped by its process id; points this process's PULSE_SERVER
// at it, so ALSA's pulse plugin finds it.

#include <string>
#include <sys/types.h>

class CPulseLoopback {
public:
    CPulseLoopback() = default;
    ~CPulseLoopback();

    // False, with the reason, when the daemon cannot be started or does not answer.
    bool Start(std::string* why);
    void Stop();
    // The server address ("unix:/.../native"), for child processes.
    const std::string& Server() const { return m_server; }

private:
    pid_t m_pid = -1;
    std::string m_dir;
    std::string m_server;
};
