#include "queued_readout.h"

#include "digit_display.h"

void CQueuedReadout::Attach(CDigitDisplay* display, std::function<bool()> gate) {
    m_display = display;
    m_gate = std::move(gate);
}

void CQueuedReadout::SetValue(int value) {
    CDigitDisplay* display = m_display;
    if (display == nullptr) {
        return;
    }
    // The display as context: a call still queued when it is destroyed is dropped.
    QMetaObject::invokeMethod(
        display,
        [display, value, gate = m_gate] {
            if (!gate || gate()) {
                display->SetValue(value, true);
            }
        },
        Qt::QueuedConnection);
}
