#pragma once
// Installs an alert sink that records every alert and answers at once, as if the user had
// pressed OK straight away. Removes itself when destroyed.

#include "format_and_alert.h"

#include <chrono>
#include <mutex>
#include <thread>
#include <string>
#include <vector>

class CAlertRecorder {
public:
    CAlertRecorder();
    ~CAlertRecorder();

    std::vector<Alert> Alerts() const;
    std::vector<std::string> Texts() const;
    size_t Count() const;
    // Waits until at least `count` alerts were recorded; false on timeout.
    bool WaitFor(size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(5)) const;

private:
    mutable std::mutex m_mutex;
    std::vector<Alert> m_alerts;
};

// Polls `condition` until it holds or `timeout` passes; returns its last value.
template <typename Condition>
bool WaitUntil(Condition condition, std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return condition();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}
