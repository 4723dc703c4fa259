#include "base/format_and_alert.h"

#include "base/trace.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <memory>
#include <mutex>
#include <vector>

namespace {
std::mutex g_sinkMutex;
std::shared_ptr<const AlertSink> g_sink;

// The threads inside a waiting alert, once per alert (a thread may wait in a box raised while
// it already waits in one, through a nested event loop).
std::mutex g_waitingMutex;
std::vector<std::thread::id> g_waiting;

class CWaitingOnUser {
public:
    CWaitingOnUser() {
        std::lock_guard lock(g_waitingMutex);
        g_waiting.push_back(std::this_thread::get_id());
    }
    ~CWaitingOnUser() {
        std::lock_guard lock(g_waitingMutex);
        g_waiting.erase(std::find(g_waiting.begin(), g_waiting.end(), std::this_thread::get_id()));
    }
    CWaitingOnUser(const CWaitingOnUser&) = delete;
    CWaitingOnUser& operator=(const CWaitingOnUser&) = delete;
};

void StderrSink(const Alert& alert) {
    std::fprintf(stderr, "%s: %s\n", alert.caption.empty() ? "tavrin" : alert.caption.c_str(),
                 alert.text.c_str());
}
} // namespace

void SetAlertSink(AlertSink sink) {
    std::lock_guard lock(g_sinkMutex);
    g_sink = sink ? std::make_shared<const AlertSink>(std::move(sink)) : nullptr;
}

void ShowAlert(const Alert& alert) {
    Trace("alert: %s", alert.text.c_str());
    std::shared_ptr<const AlertSink> sink;
    {
        // Not held while the sink blocks: two workers may each wait on their own box.
        std::lock_guard lock(g_sinkMutex);
        sink = g_sink;
    }
    if (!sink) {
        StderrSink(alert);
        return;
    }
    if (!alert.waits) {
        (*sink)(alert);
        return;
    }
    const CWaitingOnUser waiting;
    (*sink)(alert);
}

bool WaitsOnUser(std::thread::id thread) {
    std::lock_guard lock(g_waitingMutex);
    return std::find(g_waiting.begin(), g_waiting.end(), thread) != g_waiting.end();
}

void FormatAndAlert(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    const int needed = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string text;
    if (needed > 0) {
        std::vector<char> buffer(size_t(needed) + 1);
        std::vsnprintf(buffer.data(), buffer.size(), format, args);
        text.assign(buffer.data(), size_t(needed));
    }
    va_end(args);
    ShowAlert({text, std::string(), AlertIcon::Warning});
}
