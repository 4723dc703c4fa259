#include "controls/digit_layout.h"

#include "controls/digit_glyphs.h"

#include <cstdint>

std::array<int, kDigitCount> ReadoutGlyphs(int value) {
    std::array<int, kDigitCount> cells;
    cells.fill(kBlankGlyph);
    // Taken as unsigned, every negative value lands far above the limit.
    if (value == -1 || static_cast<uint32_t>(value) > 99999u)
        return cells;
    int cell = kDigitCount - 1;
    do {
        cells[cell--] = value % 10;
        value /= 10;
    } while (value > 0 && cell >= 0);
    return cells;
}

QImage StretchGlyph(const QImage& glyph, int width, int height) {
    if (width <= 0 || height <= 0 || glyph.isNull())
        return {};
    const QImage src = glyph.convertToFormat(QImage::Format_RGB32);
    QImage out(width, height, QImage::Format_RGB32);
    for (int dy = 0; dy < height; ++dy) {
        const auto* from = reinterpret_cast<const QRgb*>(
            src.constScanLine(StretchSource(dy, src.height(), height)));
        auto* to = reinterpret_cast<QRgb*>(out.scanLine(dy));
        for (int dx = 0; dx < width; ++dx)
            to[dx] = from[StretchSource(dx, src.width(), width)];
    }
    return out;
}
