#pragma once
// The eleven seven-segment glyphs of the digit readout, generated from the segment table
// rather than shipped as bitmaps. Pure data; any thread.

#include <QImage>

#include <array>
#include <cstdint>

inline constexpr int kGlyphWidth = 13;  // pixels
inline constexpr int kGlyphHeight = 23; // pixels
inline constexpr int kGlyphCount = 11;
inline constexpr int kBlankGlyph = 10; // all seven segments unlit

// Palette indices that occur in a glyph (of the standard 16-colour palette).
inline constexpr uint8_t kGlyphBlack = 0;  // background
inline constexpr uint8_t kGlyphDimRed = 1; // checker of an unlit segment, RGB(128, 0, 0)
inline constexpr uint8_t kGlyphRed = 9;    // lit segment, RGB(255, 0, 0)

// Segments a (top) to g (middle), in the usual seven-segment naming.
enum class Segment { A, B, C, D, E, F, G };
inline constexpr int kSegmentCount = 7;

// Rows top to bottom, columns left to right; each entry a palette index.
using GlyphPixels = std::array<std::array<uint8_t, kGlyphWidth>, kGlyphHeight>;

// True when pixel (x, y) belongs to the segment.
bool SegmentContains(Segment segment, int x, int y);

// Bit s (Segment value) set when segment s is lit in glyph index 0..10.
uint8_t LitSegments(int glyph);

// Palette indices of glyph index 0..10 (0 to 9 the digits, 10 the blank).
GlyphPixels DigitGlyphPixels(int glyph);

// The standard 16-colour palette the glyph indices refer to, as 0xAARRGGBB.
const std::array<QRgb, 16>& GlyphPalette();

// Glyph index 0..10 as a 13 x 23 image in Format_RGB32.
QImage DigitGlyphImage(int glyph);
