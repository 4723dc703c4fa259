#include "alert_recorder.h"

CAlertRecorder::CAlertRecorder() {
    SetAlertSink([this](const Alert& alert) {
        std::lock_guard lock(m_mutex);
        m_alerts.push_back(alert);
    });
}

CAlertRecorder::~CAlertRecorder() { SetAlertSink(nullptr); }

std::vector<Alert> CAlertRecorder::Alerts() const {
    std::lock_guard lock(m_mutex);
    return m_alerts;
}

std::vector<std::string> CAlertRecorder::Texts() const {
    std::vector<std::string> texts;
    for (const Alert& a : Alerts()) {
        texts.push_back(a.text);
    }
    return texts;
}

size_t CAlertRecorder::Count() const {
    std::lock_guard lock(m_mutex);
    return m_alerts.size();
}

bool CAlertRecorder::WaitFor(size_t count, std::chrono::milliseconds timeout) const {
    return WaitUntil([&] { return Count() >= count; }, timeout);
}
