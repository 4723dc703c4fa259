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
    // By name: the queued event is made inside Qt; the value travels through the mailbox.
    if (m_pending.Put(value)) {
        QMetaObject::invokeMethod(this, "Deliver", Qt::QueuedConnection);
    }
}

void CQueuedReadout::Deliver() {
    const std::optional<int> value = m_pending.Take();
    if (value && (!m_gate || m_gate())) {
        m_display->SetValue(*value, true);
    }
}
