#pragma once
// The readout's arithmetic, kept out of the widget: which glyph goes into which cell, where the
// cells lie, and how a 13 x 23 glyph is stretched onto a cell. Pure functions; any thread.

#include <QImage>

#include <array>

inline constexpr int kDigitCount = 5; // cells of every readout

// Glyph index (0..9, or 10 for blank) per cell, cell 0 leftmost. -1, every other negative value
// and anything above 99999 (the value taken as unsigned) give five blanks. Otherwise the decimal
// digits are right-aligned without leading zeros and the cells before them are blank.
std::array<int, kDigitCount> ReadoutGlyphs(int value);

// Width in pixels of one cell of a client area clientWidth pixels wide. The remaining
// clientWidth - kDigitCount * cellWidth columns (0 to 4) on the right are never drawn.
inline int ReadoutCellWidth(int clientWidth) {
    return clientWidth / kDigitCount;
}

// Left edge in pixels of a cell.
inline int ReadoutCellX(int cell, int cellWidth) {
    return cell * cellWidth;
}

// Source pixel for destination pixel d of a stretch from srcLength to dstLength pixels:
// floor(d * srcLength / dstLength). Enlarging repeats source pixels (nearest neighbour, what a
// blit with the default stretch mode does); shrinking drops whole rows or columns rather than
// blending them, so the colours stay the glyph's own.
inline int StretchSource(int d, int srcLength, int dstLength) {
    return int(static_cast<long long>(d) * srcLength / dstLength);
}

// The glyph stretched to width x height pixels with StretchSource on both axes (Format_RGB32).
// An empty image when either size is not positive.
QImage StretchGlyph(const QImage& glyph, int width, int height);
