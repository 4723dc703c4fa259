#include "canvas.h"

#include "gdi_line.h"
#include "ui_font.h"

#include <QFontMetrics>
#include <QPainter>
#include <QString>

#include <algorithm>
#include <cstring>

namespace {

// The program's CJK font, which the install guarantees, at the cell height of the platform's
// system font. Glyphs are not smoothed: the labels are black on white, like the system's bitmap
// font.
constexpr int kLabelFontPixels = 16;

} // namespace

CCanvas::CCanvas() : m_font(QString::fromLatin1(kUiFontFamily)) {
    m_font.setPixelSize(kLabelFontPixels);
    m_font.setStyleStrategy(QFont::NoAntialias);
    SelectDefaultObjects();
}

void CCanvas::Resize(int width, int height) {
    width = std::max(width, 0);
    height = std::max(height, 0);
    if (width != m_image.width() || height != m_image.height()) {
        m_image =
            (width > 0 && height > 0) ? QImage(width, height, QImage::Format_RGB32) : QImage();
    }
    m_curX = 0;
    m_curY = 0;
    SelectDefaultObjects();
}

void CCanvas::SelectDefaultObjects() {
    SelectPen(kColorBlack);
    SelectBrush(kColorWhite);
}

uint32_t* CCanvas::Bits() {
    // bits() detaches: if someone kept a shallow copy of the image, we write into our own.
    return reinterpret_cast<uint32_t*>(m_image.bits());
}

void CCanvas::Rectangle(int left, int top, int right, int bottom) {
    if (left > right) {
        std::swap(left, right);
    }
    if (top > bottom) {
        std::swap(top, bottom);
    }
    const int x0 = std::max(left, 0);
    const int y0 = std::max(top, 0);
    const int x1 = std::min(right, Width());
    const int y1 = std::min(bottom, Height());
    if (x0 >= x1 || y0 >= y1) {
        return;
    }
    uint32_t* bits = Bits();
    const int stride = int(m_image.bytesPerLine() / 4);
    const size_t rowBytes = size_t(x1 - x0) * sizeof(uint32_t);
    // Every interior row is the same: build the first one, copy it to the rest (the fill of
    // the whole screen runs once per frame, and a row copy is several times faster than
    // writing pixel by pixel).
    const uint32_t* interior = nullptr;
    for (int y = y0; y < y1; ++y) {
        uint32_t* row = bits + std::ptrdiff_t(y) * stride;
        const bool edgeRow = (y == top || y == bottom - 1);
        if (edgeRow) {
            std::fill(row + x0, row + x1, m_penPixel);
            continue;
        }
        if (interior != nullptr) {
            std::memcpy(row + x0, interior, rowBytes);
            continue;
        }
        std::fill(row + x0, row + x1, m_brushPixel);
        if (left >= x0) {
            row[left] = m_penPixel;
        }
        if (right - 1 < x1) {
            row[right - 1] = m_penPixel;
        }
        interior = row + x0;
    }
}

void CCanvas::MoveTo(int x, int y) {
    m_curX = x;
    m_curY = y;
}

void CCanvas::LineTo(int x, int y) {
    if (!m_image.isNull()) {
        uint32_t* bits = Bits();
        const std::ptrdiff_t stride = m_image.bytesPerLine() / 4;
        const uint32_t pixel = m_penPixel;
        ForEachGdiLinePixel(m_curX, m_curY, x, y, Width(), Height(),
                            [&](int px, int py) { bits[py * stride + px] = pixel; });
    }
    m_curX = x;
    m_curY = y;
}

void CCanvas::SetPixelV(int x, int y, ColorRef color) {
    if (x < 0 || y < 0 || x >= Width() || y >= Height()) {
        return;
    }
    Bits()[std::ptrdiff_t(y) * (m_image.bytesPerLine() / 4) + x] = ColorRefToPixel(color);
}

ColorRef CCanvas::GetPixel(int x, int y) const {
    if (x < 0 || y < 0 || x >= Width() || y >= Height()) {
        return kColorInvalid;
    }
    const auto* row = reinterpret_cast<const uint32_t*>(m_image.constScanLine(y));
    return PixelToColorRef(row[x]);
}

void CCanvas::TextOut(int x, int y, const char* utf8) {
    if (m_image.isNull() || utf8 == nullptr) {
        return;
    }
    const QString text = QString::fromUtf8(utf8);
    const QFontMetrics metrics(m_font);
    QPainter painter(&m_image);
    painter.setFont(m_font);
    painter.fillRect(x, y, metrics.horizontalAdvance(text), metrics.height(), Qt::white);
    painter.setPen(Qt::black);
    painter.drawText(x, y + metrics.ascent(), text);
}
