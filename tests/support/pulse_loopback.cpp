#include "pulse_loopback.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {
bool Answers(const std::string& server) {
    const std::string command = "PULSE_SERVER=" + server + " pactl info >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}
} // namespace

CPulseLoopback::~CPulseLoopback() { Stop(); }

bool CPulseLoopback::Start(std::string* why) {
    char pattern[] = "/tmp/tavrin-pulse-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        *why = "cannot make a runtime folder";
        return false;
    }
    m_dir = pattern;
    chmod(m_dir.c_str(), 0700);
    const std::string config = m_dir + "/loopback.pa";
    {
        std::ofstream pa(config);
        pa << "load-module module-null-sink sink_name=bench\n"
              "set-default-sink bench\n"
              "set-default-source bench.monitor\n"
              "load-module module-native-protocol-unix\n"
              "set-sink-volume bench 65536\n"
              "set-source-volume bench.monitor 65536\n";
    }
    const std::string log = m_dir + "/pulseaudio.log";
    m_pid = fork();
    if (m_pid == 0) {
        setenv("XDG_RUNTIME_DIR", m_dir.c_str(), 1);
        setenv("HOME", m_dir.c_str(), 1);
        std::freopen(log.c_str(), "w", stderr);
        std::freopen("/dev/null", "w", stdout);
        execlp("pulseaudio", "pulseaudio", "-n", "-F", config.c_str(), "--daemonize=no",
               "--exit-idle-time=-1", static_cast<char*>(nullptr));
        _exit(127);
    }
    if (m_pid < 0) {
        *why = "cannot fork";
        return false;
    }
    m_server = "unix:" + m_dir + "/pulse/native";
    for (int i = 0; i < 100; ++i) {
        int status = 0;
        if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_pid = -1;
            *why = "pulseaudio exited at start; see " + log;
            return false;
        }
        if (access((m_dir + "/pulse/native").c_str(), F_OK) == 0 && Answers(m_server)) {
            setenv("PULSE_SERVER", m_server.c_str(), 1);
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    *why = "pulseaudio did not answer within 10 s; see " + log;
    Stop();
    return false;
}

void CPulseLoopback::Stop() {
    if (m_pid > 0) {
        kill(m_pid, SIGTERM);
        int status = 0;
        for (int i = 0; i < 50 && waitpid(m_pid, &status, WNOHANG) == 0; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        if (waitpid(m_pid, &status, WNOHANG) == 0) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, &status, 0);
        }
        m_pid = -1;
        unsetenv("PULSE_SERVER");
    }
    if (!m_dir.empty()) {
        std::system(("rm -rf '" + m_dir + "'").c_str());
        m_dir.clear();
    }
}
