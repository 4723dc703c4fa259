#pragma once
// Installs an alert sink that records every alert and answers at once; restores the default
// sink when it goes out of scope. Thread-safe.
#include "format_and_alert.h"

#include <mutex>
#include <vector>

class CAlertRecorder {
public:
    CAlertRecorder() {
        SetAlertSink([this](const Alert& alert) {
            std::lock_guard lock(m_mutex);
            m_alerts.push_back(alert);
        });
    }
    ~CAlertRecorder() { SetAlertSink({}); }
    std::vector<Alert> Alerts() const {
        std::lock_guard lock(m_mutex);
        return m_alerts;
    }
    size_t Count() const {
        std::lock_guard lock(m_mutex);
        return m_alerts.size();
    }

private:
    mutable std::mutex m_mutex;
    std::vector<Alert> m_alerts;
};
