#include "tests/support/alert_recorder.h"

CAlertRecorder::CAlertRecorder() {
    SetAlertSink([this](const Alert& alert) {
        std::unique_lock lock(m_mutex);
        m_alerts.push_back(alert);
        m_changed.notify_all();
        // An alert that does not wait never holds its thread, held boxes or not.
        m_changed.wait(lock, [&] { return !m_holdBoxes || !alert.waits; });
    });
}

CAlertRecorder::~CAlertRecorder() {
    Release();
    SetAlertSink(nullptr);
}

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

void CAlertRecorder::Clear() {
    std::lock_guard lock(m_mutex);
    m_alerts.clear();
}

bool CAlertRecorder::WaitFor(size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] { return m_alerts.size() >= count; });
}

void CAlertRecorder::HoldBoxes() {
    std::lock_guard lock(m_mutex);
    m_holdBoxes = true;
}

void CAlertRecorder::Release() {
    std::lock_guard lock(m_mutex);
    m_holdBoxes = false;
    m_changed.notify_all();
}
