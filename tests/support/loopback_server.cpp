#include "tests/support/loopback_server.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {
constexpr const char* kAudioVariable = "TAVRIN_AUDIO";

bool Exited(pid_t pid, std::chrono::milliseconds within) {
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + within;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}
} // namespace

CLoopbackServer::~CLoopbackServer() {
    Stop();
    for (const std::string& name : m_setNames) {
        unsetenv(name.c_str());
    }
    if (!m_dir.empty()) {
        std::system(("rm -rf '" + m_dir + "'").c_str());
    }
}

bool CLoopbackServer::Start(std::string* why) {
    char pattern[] = "/tmp/tavrin-sound-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        *why = "cannot make a runtime folder";
        return false;
    }
    m_dir = pattern;
    chmod(m_dir.c_str(), 0700);
    return Launch(why);
}

bool CLoopbackServer::Restart(std::string* why) {
    Stop();
    return Launch(why);
}

// The servers are started by the same Python runner the whole-program tests use, so both kinds
// of test meet the same server set-up.
bool CLoopbackServer::Launch(std::string* why) {
    int toServer[2], fromServer[2];
    if (pipe(toServer) != 0 || pipe(fromServer) != 0) {
        *why = "cannot make pipes";
        return false;
    }
    const char* argv[] = {TAVRIN_PYTHON, TAVRIN_SOUND_SERVER_SCRIPT, "serve", m_dir.c_str(),
                          nullptr};
    m_pid = fork();
    if (m_pid == 0) {
        dup2(toServer[0], STDIN_FILENO);
        dup2(fromServer[1], STDOUT_FILENO);
        close(toServer[0]);
        close(toServer[1]);
        close(fromServer[0]);
        close(fromServer[1]);
        execv(argv[0], const_cast<char* const*>(argv));
        _exit(127);
    }
    close(toServer[0]);
    close(fromServer[1]);
    if (m_pid < 0) {
        close(toServer[1]);
        close(fromServer[0]);
        *why = "cannot fork";
        return false;
    }
    m_toServer = toServer[1];
    FILE* out = fdopen(fromServer[0], "r");
    std::string lastLine;
    bool ready = false;
    char line[4096];
    while (!ready && std::fgets(line, sizeof line, out) != nullptr) {
        std::string text(line);
        while (!text.empty() && text.back() == '\n') {
            text.pop_back();
        }
        const size_t equals = text.find('=');
        ready = text == "ready";
        if (!ready && equals != std::string::npos && text.rfind("error:", 0) != 0) {
            const std::string name = text.substr(0, equals), value = text.substr(equals + 1);
            if (name == kAudioVariable) {
                m_audioChoice = value;
            } else {
                setenv(name.c_str(), value.c_str(), 1);
                if (std::find(m_setNames.begin(), m_setNames.end(), name) == m_setNames.end()) {
                    m_setNames.push_back(name);
                }
            }
        }
        lastLine = text;
    }
    std::fclose(out);
    if (!ready) {
        *why = "the sound server did not start: " + (lastLine.empty() ? "no answer" : lastLine);
        Stop();
        return false;
    }
    return true;
}

void CLoopbackServer::Stop() {
    if (m_toServer >= 0) {
        close(m_toServer);
        m_toServer = -1;
    }
    if (m_pid > 0) {
        if (!Exited(m_pid, std::chrono::seconds(10))) {
            kill(m_pid, SIGTERM);
            if (!Exited(m_pid, std::chrono::seconds(10))) {
                kill(m_pid, SIGKILL);
                waitpid(m_pid, nullptr, 0);
            }
        }
        m_pid = -1;
    }
}
