#pragma once
// CWorkerWake: a worker's "something is waiting for you" to the GUI thread, without allocating on
// the worker. A queued call allocates its event on the thread that posts it; here the worker
// adds one to an eventfd (one system call, no lock, no allocation) and a socket notifier on the
// GUI thread reads it and emits Woken once for however many wakes came since. What is waiting
// travels beside it (a mailbox, atomics) and is read on Woken.
//
// Threads: made, destroyed and Woken on the GUI thread; Wake from any thread.

#include <QObject>

class QSocketNotifier;

class CWorkerWake : public QObject {
    Q_OBJECT
public:
    explicit CWorkerWake(QObject* parent);
    ~CWorkerWake() override;

    void Wake();

signals:
    void Woken();

private:
    int m_fd = -1; // the eventfd; -1 when none could be made (Wake then does nothing)
    QSocketNotifier* m_notifier = nullptr;
};
