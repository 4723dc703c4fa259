#include "controls/digit_display.h"

#include <QPaintEvent>
#include <QPainter>
#include <qdrawutil.h>

CDigitDisplay::CDigitDisplay(QWidget* parent) : QWidget(parent) {
    for (int i = 0; i < kGlyphCount; ++i)
        m_glyphs[i] = DigitGlyphImage(i);
    m_glyphInfo = m_glyphs[0].size();
    setContentsMargins(kFramePx, kFramePx, kFramePx, kFramePx);
    // The erase before each paint: what the rightmost undrawn columns keep.
    setAutoFillBackground(true);
}

bool CDigitDisplay::SetValue(int value, bool redraw) {
    m_value = value;
    if (!redraw)
        return false;
    if (m_paintedValue != value)
        repaint();
    return true;
}

void CDigitDisplay::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    // The sunken edge costs the style far more than the cells: a paint of the cells alone (a
    // new value) leaves it as it is.
    if (!ClientRect().contains(event->rect()))
        DrawFrame(painter);
    m_paintedValue = m_value;
    const std::array<int, kDigitCount> glyphs = ReadoutGlyphs(m_value);
    for (int cell = 0; cell < m_digitCount; ++cell)
        DrawGlyph(painter, glyphs[cell], cell);
}

void CDigitDisplay::DrawFrame(QPainter& painter) {
    painter.setPen(Qt::black);
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
    qDrawWinPanel(&painter, rect().adjusted(1, 1, -1, -1), palette(), true);
}

void CDigitDisplay::DrawGlyph(QPainter& painter, int glyph, int cell) {
    const QRect client = ClientRect();
    const int cellWidth = ReadoutCellWidth(client.width());
    if (glyph < 0 || glyph >= kGlyphCount)
        return;
    const QSize cellSize(cellWidth, client.height());
    if (cellSize != m_stretchedSize) {
        for (int g = 0; g < kGlyphCount; ++g) {
            const QImage source = m_glyphs[g].copy(QRect(QPoint(0, 0), m_glyphInfo));
            m_stretched[g] = StretchGlyph(source, cellSize.width(), cellSize.height());
        }
        m_stretchedSize = cellSize;
    }
    const QImage& stretched = m_stretched[glyph];
    if (!stretched.isNull())
        painter.drawImage(client.left() + ReadoutCellX(cell, cellWidth), client.top(), stretched);
}
