#pragma once
// The one way tests wait for another thread: poll a condition until it holds or time runs out.
// No Qt here; pump_until.h is the variant for tests that must keep the GUI thread's events
// flowing while they wait.

#include <chrono>
#include <thread>

// Polls condition until it holds or timeout passes, running step between polls; returns the
// condition's last value.
template <typename Condition, typename Step>
bool WaitUntil(Condition condition, std::chrono::milliseconds timeout, Step step) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return condition();
        }
        step();
    }
    return true;
}

// Polls every millisecond.
template <typename Condition>
bool WaitUntil(Condition condition, std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    return WaitUntil(condition, timeout,
                     [] { std::this_thread::sleep_for(std::chrono::milliseconds(1)); });
}
