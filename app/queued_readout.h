#pragma once
// A digit readout as the meters see it: SetValue may be called on the capture worker and is
// carried to the GUI thread by a queued call, so the worker never touches the widget. A gate,
// when given, is asked again on the GUI thread at delivery: a value that arrives after the
// readout's switch went off is dropped instead of undoing the switch's blanking.

#include "readout.h"

#include <functional>

class CDigitDisplay;

class CQueuedReadout : public IReadout {
public:
    CQueuedReadout() = default;
    void Attach(CDigitDisplay* display, std::function<bool()> gate = {});
    // Any thread.
    void SetValue(int value) override;

private:
    // Outlives every SetValue: the panel stops capture before its readouts go.
    CDigitDisplay* m_display = nullptr;
    std::function<bool()> m_gate;
};
