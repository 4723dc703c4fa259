#pragma once
// Fixed-point text for readings: rows, tables, the status line. Any thread.

#include <string>

// `value` with `decimals` digits after the point. The sign is chosen after rounding, so a value
// that rounds to zero prints "0.00", never "-0.00" (a reading of minus nothing reads as a fault).
// Not finite: "inf", "-inf" or "nan", as printf gives them.
std::string FixedText(double value, int decimals);
