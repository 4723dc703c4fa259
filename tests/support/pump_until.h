#pragma once
// WaitUntil for tests running on the GUI thread: queued calls and paint events are delivered
// between polls, so a condition that depends on them can come true.

#include "tests/support/wait_until.h"

#include <QCoreApplication>
#include <QEventLoop>

template <typename Condition>
bool PumpUntil(Condition condition, std::chrono::milliseconds timeout = std::chrono::seconds(2)) {
    return WaitUntil(condition, timeout, [] {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    });
}
