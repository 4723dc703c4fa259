#include "app/queued_readout.h"

#include "controls/digit_display.h"

void CQueuedReadout::Attach(CDigitDisplay* display, std::function<bool()> gate) {
    m_display = display;
    m_gate = std::move(gate);
}

void CQueuedReadout::SetValue(int value) {
    if (m_display == nullptr) {
        return;
    }
    {
        std::lock_guard lock(m_postedMutex);
        if (m_posted == value) {
            return;
        }
        m_posted = value;
    }
    // By name: the queued event is made inside Qt; the value travels through the mailbox.
    if (m_pending.Put(value)) {
        QMetaObject::invokeMethod(this, "Deliver", Qt::QueuedConnection);
    }
}

void CQueuedReadout::Forget() {
    std::lock_guard lock(m_postedMutex);
    m_posted.reset();
}

void CQueuedReadout::Deliver() {
    const std::optional<int> value = m_pending.Take();
    if (value && (!m_gate || m_gate())) {
        // Painted with the frame that comes with it: an update joins the same flush to the
        // window, where a repaint here would flush each readout on its own. Only the cells
        // change.
        m_display->SetValue(*value, false);
        m_display->update(m_display->ClientRect());
    }
}
