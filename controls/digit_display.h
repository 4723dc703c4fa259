#pragma once
// CDigitDisplay: a five-cell red seven-segment readout. It paints itself from the digit glyphs,
// each stretched to its cell, inside a sunken bordered frame.
//
// Thread: GUI thread only, SetValue included. The capture worker never calls it; the panel hands
// readout values to the GUI thread with queued calls.

#include "controls/digit_glyphs.h"
#include "controls/digit_layout.h"

#include <QWidget>

#include <array>
#include <optional>

class CDigitDisplay : public QWidget {
public:
    // Pixels of frame on each side: a 1-pixel border around a 2-pixel sunken edge.
    static constexpr int kFramePx = 3;

    explicit CDigitDisplay(QWidget* parent = nullptr);

    // Stores the value; -1 (or any out-of-range value) shows a blank readout. With redraw the
    // readout is erased and repainted before the call returns and the result is true; without
    // it the value waits for the next paint and the result is false.
    bool SetValue(int value, bool redraw);
    int Value() const { return m_value; }

    // The area the cells are drawn into, in widget pixels.
    QRect ClientRect() const { return contentsRect(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void DrawFrame(QPainter& painter);
    void DrawGlyph(QPainter& painter, int glyph, int cell);

    int m_digitCount = kDigitCount;
    std::array<QImage, kGlyphCount> m_glyphs;
    QSize m_glyphInfo; // pixels of glyph 0: the source rectangle of every glyph
    int m_value = 0;
    // The value the last paint showed: a redraw that would paint the same picture is skipped,
    // which matters at eleven redraws a second for each of the panel's five readouts.
    std::optional<int> m_paintedValue;
    // The glyphs stretched to the current cell size, made again only when that size changes.
    std::array<QImage, kGlyphCount> m_stretched;
    QSize m_stretchedSize;
};
