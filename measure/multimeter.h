#pragma once
// The multimeter: R, C or L against a reference component, or the AC level of X1, from the levels
// of the two channels in one block. Capture worker only; no state between calls.

#include <cstdint>
#include <optional>

class IReadout;

// Values of the panel's meter mode; any other value means no function is selected yet.
inline constexpr int kMeterModeR = 1;
inline constexpr int kMeterModeC = 2;
inline constexpr int kMeterModeL = 3;
inline constexpr int kMeterModeVac = 4;

// Channel levels in sample units: sqrt(0.001 x sum of squares over the 2048 frames), which is
// sqrt(2.048) ~ 1.431 times the channel's root mean square.
struct MeterLevels {
    double left;  // VL, from X1
    double right; // VR, from X2
};

// block: 2048 interleaved frames (X1, X2), read only.
MeterLevels MeasureLevels(const int16_t* block);

// The reading in the unit of refValue (or sample units for V(AC)); nothing when no function is
// selected. May be infinite or not a number when a level is 0: ReadingToReadout deals with that.
std::optional<double> MeterReading(int meterMode, double refValue, const MeterLevels& levels);

// Truncates toward zero to 64 bits and keeps the low 32 bits as a signed int. Not finite or
// outside the 64-bit range gives 0.
int ReadingToReadout(double reading);

// meterMode and refValue are the panel's values at this buffer. With no function selected the
// readout is not touched at all, so it keeps whatever it showed before.
void MeasureMeter(const int16_t* block, int meterMode, double refValue, IReadout& readout);
