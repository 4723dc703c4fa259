#include "queued_readout.h"

#include "digit_display.h"

void CQueuedReadout::Attach(CDigitDisplay* display, std::function<bool()> gate) {
    m_display = display;
    m_gate = std::move(gate);
}

void CQueuedReadout::SetValue(int value) {
    if (m_display == nullptr) {
        return;
    }
    bool post = false;
    {
        std::lock_guard lock(m_mutex);
        if (!m_pending && m_posted == value) {
            return;
        }
        post = !m_pending.has_value();
        m_pending = value;
        m_posted = value;
    }
    // By name: the queued event is made inside Qt; the value travels through the mutex.
    if (post) {
        QMetaObject::invokeMethod(this, "Deliver", Qt::QueuedConnection);
    }
}

void CQueuedReadout::Forget() {
    std::lock_guard lock(m_mutex);
    m_posted.reset();
}

void CQueuedReadout::Deliver() {
    std::optional<int> value;
    {
        std::lock_guard lock(m_mutex);
        value.swap(m_pending);
    }
    if (value && (!m_gate || m_gate())) {
        // Painted with the frame that comes with it: an update joins the same flush to the
        // window, where a repaint here would flush each readout on its own. Only the cells
        // change.
        m_display->SetValue(*value, false);
        m_display->update(m_display->ClientRect());
    }
}
