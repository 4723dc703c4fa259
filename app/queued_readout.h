#pragma once
// A digit readout as the meters see it: SetValue may be called on the capture worker; the value
// waits in a one-value mailbox and a queued call shows it on the GUI thread, so the worker never
// touches the widget. A value not yet shown is replaced by a newer one, which is all a readout
// would show anyway. A gate, when given, is asked again on the GUI thread at delivery: a value
// that arrives after the readout's switch went off is dropped instead of undoing the switch's
// blanking.

#include "base/latest_value.h"
#include "measure/readout.h"

#include <QObject>

#include <functional>
#include <mutex>
#include <optional>

class CDigitDisplay;

class CQueuedReadout : public QObject, public IReadout {
    Q_OBJECT
public:
    // GUI thread, before any SetValue. display outlives every SetValue: the panel stops capture
    // before its readouts go.
    void Attach(CDigitDisplay* display, std::function<bool()> gate = {});
    // Any thread. The value the display was last handed again posts nothing.
    void SetValue(int value) override;
    // GUI thread, after writing the display directly: the next value is posted whatever it is.
    void Forget();

private slots:
    void Deliver();

private:
    CDigitDisplay* m_display = nullptr;
    std::function<bool()> m_gate;
    CLatestValue<int> m_pending;
    std::mutex m_postedMutex;
    // The value last put in the mailbox: the same again (a blank readout, a steady reading)
    // posts nothing.
    std::optional<int> m_posted;
};
