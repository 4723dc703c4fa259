#include "app/gui_bridge.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QMessageBox>
#include <QThread>

#include <cstdio>
#include <map>
#include <thread>

struct CGuiBridge::Waiter {
    std::mutex mutex;
    std::condition_variable finishedSignal;
    bool finished = false;
    bool released = false;      // finished by shutdown, not by the work
    std::function<void()> wake; // GUI-thread waiters: quits their local loop

    void Finish(bool byShutdown) {
        std::function<void()> toWake;
        {
            std::lock_guard lock(mutex);
            if (finished) {
                return;
            }
            finished = true;
            released = byShutdown;
            toWake = std::move(wake);
        }
        finishedSignal.notify_all();
        if (toWake) {
            toWake();
        }
    }
    bool IsFinished() {
        std::lock_guard lock(mutex);
        return finished;
    }
};

CGuiBridge::CGuiBridge(QObject* parent) : QObject(parent) {}

CGuiBridge::~CGuiBridge() {
    Shutdown();
}

bool CGuiBridge::Register(const std::shared_ptr<Waiter>& waiter) {
    std::lock_guard lock(m_mutex);
    if (m_shutDown) {
        return false;
    }
    m_waiters.push_back(waiter);
    return true;
}

void CGuiBridge::Unregister(const std::shared_ptr<Waiter>& waiter) {
    std::lock_guard lock(m_mutex);
    std::erase(m_waiters, waiter);
}

bool CGuiBridge::RunAndWait(Work work) {
    auto waiter = std::make_shared<Waiter>();
    if (!Register(waiter)) {
        return false;
    }
    Done done = [waiter] { waiter->Finish(false); };
    if (QThread::currentThread() == thread()) {
        QEventLoop loop;
        waiter->wake = [&loop] { loop.quit(); };
        work(done);
        if (!waiter->IsFinished()) {
            loop.exec();
        }
        {
            std::lock_guard lock(waiter->mutex);
            waiter->wake = nullptr;
        }
    } else {
        {
            std::lock_guard lock(m_mutex);
            m_pending.push_back({waiter, std::move(work)});
        }
        // By name: the queued event is made inside Qt; the work travels through the mutex.
        QMetaObject::invokeMethod(this, "RunPending", Qt::QueuedConnection);
        std::unique_lock lock(waiter->mutex);
        waiter->finishedSignal.wait(lock, [&] { return waiter->finished; });
    }
    Unregister(waiter);
    std::lock_guard lock(waiter->mutex);
    return !waiter->released;
}

void CGuiBridge::RunPending() {
    std::vector<Pending> pending;
    {
        std::lock_guard lock(m_mutex);
        pending.swap(m_pending);
    }
    for (Pending& item : pending) {
        // Released by a shutdown before its turn: the worker has gone on without an answer.
        if (!item.waiter->IsFinished()) {
            item.work([waiter = item.waiter] { waiter->Finish(false); });
        }
    }
}

void CGuiBridge::Shutdown() {
    std::vector<std::shared_ptr<Waiter>> waiters;
    {
        std::lock_guard lock(m_mutex);
        if (m_shutDown) {
            return;
        }
        m_shutDown = true;
        waiters.swap(m_waiters);
        m_pending.clear();
    }
    for (const auto& waiter : waiters) {
        waiter->Finish(true);
    }
    emit ShuttingDown();
}

bool CGuiBridge::IsShutDown() const {
    std::lock_guard lock(m_mutex);
    return m_shutDown;
}

namespace {

QMessageBox::Icon ToBoxIcon(AlertIcon icon) {
    switch (icon) {
    case AlertIcon::Warning:
        return QMessageBox::Warning;
    case AlertIcon::Information:
        return QMessageBox::Information;
    case AlertIcon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

void PrintAlert(const std::string& caption, const Alert& alert) {
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), alert.text.c_str());
}

// The worker boxes that are up, by the thread that raised them. GUI thread only.
using OpenBoxes = std::map<std::thread::id, QPointer<QMessageBox>>;

QMessageBox* OpenBoxOf(const OpenBoxes& boxes, std::thread::id worker) {
    // A dismissed box may linger hidden until its deletion; it no longer counts.
    const auto it = boxes.find(worker);
    return it == boxes.end() || !it->second || !it->second->isVisible() ? nullptr
                                                                        : it->second.data();
}

} // namespace

AlertSink MakeMessageBoxSink(CGuiBridge& bridge, QWidget* parent) {
    QPointer<CGuiBridge> bridgeGuard(&bridge);
    QPointer<QWidget> parentGuard(parent);
    auto openBoxes = std::make_shared<OpenBoxes>();
    return [bridgeGuard, parentGuard, openBoxes](const Alert& alert) {
        const std::string caption = alert.caption.empty() ? "tavrin" : alert.caption;
        // After shutdown nobody would see the box: say it on stderr instead.
        if (!bridgeGuard || bridgeGuard->IsShutDown()) {
            PrintAlert(caption, alert);
            return;
        }
        // A box raised on the GUI thread comes from a handler that waits for it, so the panel
        // must not take another click meanwhile: it stays modal, as the panel's own questions
        // do. A worker's report holds only that worker; the panel goes on working around it.
        const bool panelModal =
            alert.blocksPanel || QThread::currentThread() == bridgeGuard->thread();
        const std::thread::id worker = std::this_thread::get_id();

        // GUI thread: shows the box; done runs once it is dismissed or the bridge shuts down.
        auto show = [alert, caption, parentGuard, bridgeGuard, openBoxes, panelModal,
                     worker](CGuiBridge::Done done) {
            if (!bridgeGuard || bridgeGuard->IsShutDown()) {
                PrintAlert(caption, alert); // shut down on its way here
                done();
                return;
            }
            auto* box = new QMessageBox(ToBoxIcon(alert.icon), QString::fromStdString(caption),
                                        QString::fromStdString(alert.text), QMessageBox::Ok,
                                        parentGuard.data());
            box->setAttribute(Qt::WA_DeleteOnClose);
            QObject::connect(box, &QMessageBox::finished, box, [done] { done(); });
            QObject::connect(bridgeGuard.data(), &CGuiBridge::ShuttingDown, box,
                             &QMessageBox::reject);
            if (panelModal) {
                box->open();
                return;
            }
            (*openBoxes)[worker] = box;
            box->setWindowModality(Qt::NonModal);
            box->show();
        };

        if (alert.waits) {
            bridgeGuard->RunAndWait([show, openBoxes, worker, bridgeGuard](CGuiBridge::Done done) {
                // The worker's earlier box that did not wait is still up: this one follows it.
                if (QMessageBox* up = OpenBoxOf(*openBoxes, worker)) {
                    QObject::connect(up, &QObject::destroyed, bridgeGuard.data(),
                                     [show, done] { show(done); });
                } else {
                    show(done);
                }
            });
            return;
        }
        QMetaObject::invokeMethod(
            bridgeGuard.data(),
            [show, openBoxes, worker, caption, alert] {
                // One box per worker: a report that cannot wait for the one that is up goes
                // to stderr rather than stacking a second box.
                if (OpenBoxOf(*openBoxes, worker) != nullptr) {
                    PrintAlert(caption, alert);
                } else {
                    show([] {});
                }
            },
            Qt::QueuedConnection);
    };
}
