#pragma once
// How a worker waits for the user: it hands a piece of GUI work (a message box, a file dialog)
// to the GUI thread and blocks until that work says it is finished. Closing the panel shuts the
// bridge down, which releases every waiting worker at once and answers later requests at once,
// so stopping a worker never waits on a box that nobody will dismiss.

#include "base/format_and_alert.h"

#include <QObject>
#include <QPointer>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

class QWidget;

class CGuiBridge : public QObject {
    Q_OBJECT
public:
    using Done = std::function<void()>;
    // Runs on the GUI thread; calls done (now or later, on the GUI thread) when finished.
    using Work = std::function<void(Done done)>;

    // Construct on the GUI thread.
    explicit CGuiBridge(QObject* parent = nullptr);
    ~CGuiBridge() override;

    // Any thread. Runs work on the GUI thread and returns once it has called done (true), or
    // once the bridge is shut down (false). On the GUI thread it waits in a local event loop.
    bool RunAndWait(Work work);

    // GUI thread. Releases every waiter, emits ShuttingDown so open boxes close, and makes every
    // later RunAndWait return false without running its work.
    void Shutdown();
    bool IsShutDown() const;

signals:
    void ShuttingDown();

private slots:
    void RunPending();

private:
    struct Waiter;
    struct Pending {
        std::shared_ptr<Waiter> waiter;
        Work work;
    };
    bool Register(const std::shared_ptr<Waiter>& waiter);
    void Unregister(const std::shared_ptr<Waiter>& waiter);

    mutable std::mutex m_mutex;
    bool m_shutDown = false;
    std::vector<std::shared_ptr<Waiter>> m_waiters;
    // Work handed over by workers, taken by RunPending on the GUI thread.
    std::vector<Pending> m_pending;
};

// The program's alert sink: a message box on the GUI thread, owned by parent (may be null),
// captioned "tavrin" unless the alert names its own caption. A waiting alert holds the reporting
// thread until its box is dismissed or the bridge shuts down. A worker's box leaves the parent
// usable (the panel's own questions, blocksPanel, and boxes raised on the GUI thread are modal
// over it); a worker has at most one box up: a waiting alert follows the one that is up, one
// that cannot wait goes to stderr instead. After shutdown alerts go to stderr.
AlertSink MakeMessageBoxSink(CGuiBridge& bridge, QWidget* parent);
