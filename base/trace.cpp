#include "base/trace.h"

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

bool TraceEnabled() {
    static const bool enabled = [] {
        const char* value = std::getenv("TAVRIN_TRACE");
        return value != nullptr && std::strcmp(value, "1") == 0;
    }();
    return enabled;
}

void Trace(const char* format, ...) {
    if (!TraceEnabled()) {
        return;
    }
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    // One write per line, so lines from several threads do not interleave.
    std::fprintf(stderr, "tavrin-trace %lld.%06ld %s\n", static_cast<long long>(now.tv_sec),
                 now.tv_nsec / 1000, text);
}

void TraceFrameShown() {
    if (!TraceEnabled()) {
        return;
    }
    using Clock = std::chrono::steady_clock;
    static Clock::time_point last;
    static bool shown = false;
    const Clock::time_point now = Clock::now();
    const double gap = std::chrono::duration<double>(now - last).count();
    if (!shown) {
        Trace("first frame");
    } else if (gap > 1.0) {
        Trace("frame after a gap of %.1f s", gap);
    }
    shown = true;
    last = now;
}
