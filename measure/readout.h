#pragma once
// Where a meter's reading goes. The panel implements this over its digit readouts; the meters
// call it on the capture worker, so an implementation must hand the value over to the GUI thread
// itself (a queued call) rather than touch a widget here.

#include <cstdint>

// True when a readout shows value as blanks: -1, every other negative value, above 99999.
inline bool ReadoutShowsBlank(int value) {
    return static_cast<uint32_t>(value) > 99999u;
}

class IReadout {
public:
    virtual ~IReadout() = default;
    // Shows value at once; -1, any other negative value and anything above 99999 show blank.
    virtual void SetValue(int value) = 0;
};
