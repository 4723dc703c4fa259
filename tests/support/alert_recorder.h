#pragma once
// Installs an alert sink that records every alert. It answers at once, as if the user had
// pressed OK straight away, unless the test holds boxes open: then each alert is recorded and
// the reporting thread waits until the test releases it. Removes itself when destroyed.
// Thread-safe.

#include "base/format_and_alert.h"
#include "tests/support/wait_until.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

class CAlertRecorder {
public:
    CAlertRecorder();
    // Releases a held box first, so no reporting thread is left waiting on a gone recorder.
    ~CAlertRecorder();

    std::vector<Alert> Alerts() const;
    std::vector<std::string> Texts() const;
    size_t Count() const;
    void Clear();
    // Waits until at least count alerts were recorded; false on timeout.
    bool WaitFor(size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;

    // From now on every waiting box stays open (its thread waits) until Release.
    void HoldBoxes();
    void Release();

private:
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    std::vector<Alert> m_alerts;
    bool m_holdBoxes = false;
};
