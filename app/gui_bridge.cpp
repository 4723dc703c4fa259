#include "gui_bridge.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QMessageBox>
#include <QThread>

#include <cstdio>

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
        // The context object drops the call if the bridge is gone before it runs.
        QMetaObject::invokeMethod(
            this,
            [waiter, work = std::move(work), done] {
                if (!waiter->IsFinished()) {
                    work(done);
                }
            },
            Qt::QueuedConnection);
        std::unique_lock lock(waiter->mutex);
        waiter->finishedSignal.wait(lock, [&] { return waiter->finished; });
    }
    Unregister(waiter);
    std::lock_guard lock(waiter->mutex);
    return !waiter->released;
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

} // namespace

AlertSink MakeMessageBoxSink(CGuiBridge& bridge, QWidget* parent) {
    QPointer<CGuiBridge> bridgeGuard(&bridge);
    QPointer<QWidget> parentGuard(parent);
    return [bridgeGuard, parentGuard](const Alert& alert) {
        const std::string caption = alert.caption.empty() ? "tavrin" : alert.caption;
        const bool shown =
            bridgeGuard && bridgeGuard->RunAndWait([alert, caption, parentGuard,
                                                    bridgeGuard](CGuiBridge::Done done) {
                auto* box = new QMessageBox(ToBoxIcon(alert.icon), QString::fromStdString(caption),
                                            QString::fromStdString(alert.text), QMessageBox::Ok,
                                            parentGuard.data());
                box->setAttribute(Qt::WA_DeleteOnClose);
                QObject::connect(box, &QMessageBox::finished, box, [done] { done(); });
                QObject::connect(bridgeGuard.data(), &CGuiBridge::ShuttingDown, box,
                                 &QMessageBox::reject);
                box->open();
            });
        if (!shown) {
            std::fprintf(stderr, "%s: %s\n", caption.c_str(), alert.text.c_str());
        }
    };
}
