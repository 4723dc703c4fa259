#include "format_and_alert.h"

#include "trace.h"

#include <cstdarg>
#include <cstdio>
#include <memory>
#include <mutex>
#include <vector>

namespace {
std::mutex g_sinkMutex;
std::shared_ptr<const AlertSink> g_sink;

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
    if (sink) {
        (*sink)(alert);
    } else {
        StderrSink(alert);
    }
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
