#include "app/analysers/worker_wake.h"

#include <QSocketNotifier>

#include <cstdint>
#include <sys/eventfd.h>
#include <unistd.h>

CWorkerWake::CWorkerWake(QObject* parent)
    : QObject(parent), m_fd(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
    if (m_fd < 0) {
        return;
    }
    m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, [this] {
        uint64_t count = 0;
        // Non-blocking: nothing to read is a wake already taken.
        if (read(m_fd, &count, sizeof count) == sizeof count) {
            emit Woken();
        }
    });
}

CWorkerWake::~CWorkerWake() {
    delete m_notifier;
    if (m_fd >= 0) {
        close(m_fd);
    }
}

void CWorkerWake::Wake() {
    if (m_fd >= 0) {
        const uint64_t one = 1;
        // A counter already at its limit holds a wake: a failed write loses nothing.
        [[maybe_unused]] const ssize_t written = write(m_fd, &one, sizeof one);
    }
}
