#include "headless/stop_signal.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace {

std::atomic<int> g_stopSignal{0};
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler stores into it");
int g_wakeRead = -1;
int g_wakeWrite = -1;

void OnStopSignal(int signal) {
    const int saved = errno;
    g_stopSignal.store(signal);
    WakeMainThread();
    errno = saved;
}

} // namespace

bool InstallStopSignals() {
    int fds[2];
    // Non-blocking: a full pipe already holds a wake, so a write that would block can be dropped.
    if (pipe2(fds, O_NONBLOCK | O_CLOEXEC) != 0) {
        return false;
    }
    g_wakeRead = fds[0];
    g_wakeWrite = fds[1];
    struct sigaction action = {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    return true;
}

void WakeMainThread() {
    const char byte = 1;
    if (g_wakeWrite >= 0) {
        [[maybe_unused]] const ssize_t written = write(g_wakeWrite, &byte, 1);
    }
}

void WaitForWake(int timeoutMs) {
    pollfd wake = {g_wakeRead, POLLIN, 0};
    if (poll(&wake, 1, timeoutMs) > 0) {
        char bytes[64];
        while (read(g_wakeRead, bytes, sizeof bytes) > 0) {
        }
    }
}

int StopSignal() {
    return g_stopSignal.load();
}
