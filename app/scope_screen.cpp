#include "app/scope_screen.h"

#include "app/panel_layout.h"
#include "base/trace.h"

#include <QPaintEvent>
#include <QPainter>

CScopeScreen::CScopeScreen(QWidget* parent) : QFrame(parent) {
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setLineWidth(kScreenBorderPx);
    setEnabled(false); // the screen takes no input
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void CScopeScreen::PublishFrame(QImage frame) {
    {
        std::lock_guard lock(m_pendingMutex);
        m_pending = std::move(frame);
    }
    // One queued take at a time: frames published meanwhile replace the pending one.
    // Posted by name, so the queued event is made inside Qt and the frame itself travels
    // only through the mutex above.
    if (!m_takePosted.exchange(true)) {
        QMetaObject::invokeMethod(this, "TakePendingFrame", Qt::QueuedConnection);
    }
}

void CScopeScreen::TakePendingFrame() {
    m_takePosted.store(false);
    QImage frame;
    {
        std::lock_guard lock(m_pendingMutex);
        frame.swap(m_pending);
    }
    if (frame.isNull()) {
        return;
    }
    m_shown = std::move(frame);
    ++m_framesShown;
    TraceFrameShown();
    // Only the picture: the sunken border costs the style far more than the picture itself.
    update(InsideRect());
}

QRect CScopeScreen::ScreenRect() const {
    return QRect(mapToGlobal(QPoint(0, 0)), size());
}

QRect CScopeScreen::InsideRect() const {
    return rect().adjusted(kScreenBorderPx, kScreenBorderPx, -kScreenBorderPx, -kScreenBorderPx);
}

void CScopeScreen::paintEvent(QPaintEvent* event) {
    const QRect inside = InsideRect();
    if (!inside.contains(event->rect())) {
        QFrame::paintEvent(event);
    }
    QPainter painter(this);
    if (m_shown.isNull()) {
        painter.fillRect(inside, Qt::black);
        return;
    }
    painter.drawImage(inside.topLeft(), m_shown);
}
