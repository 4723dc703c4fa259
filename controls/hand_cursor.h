#pragma once
// The pointing-hand cursor the panel gives its link label, drawn in code.
// HandCursorPixels is pure (any thread); HandCursor needs a QGuiApplication (GUI thread).

#include <QCursor>

#include <array>
#include <cstdint>

inline constexpr int kHandCursorSize = 32; // pixels, square
inline constexpr uint8_t kCursorClear = 0;
inline constexpr uint8_t kCursorBlack = 1;
inline constexpr uint8_t kCursorWhite = 2;

using CursorPixels = std::array<std::array<uint8_t, kHandCursorSize>, kHandCursorSize>;

// White hand with a black outline, index finger up with its tip in the top row.
CursorPixels HandCursorPixels();

// The two-colour cursor of those pixels; its hot spot is the top-left corner (0, 0).
QCursor HandCursor();
