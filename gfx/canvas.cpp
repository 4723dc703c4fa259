#include "gfx/canvas.h"

#include "base/ui_font.h"
#include "gfx/gdi_line.h"

#include <QFontMetrics>
#include <QPainter>
#include <QString>

#include <algorithm>
#include <cstring>
#include <utility>

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
        m_bits = nullptr;
        m_width = m_image.width();
        m_height = m_image.height();
        m_stride = m_image.bytesPerLine() / 4;
        m_backdropKey.reset(); // the new raster's contents are undefined
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
    if (m_bits == nullptr) {
        // bits() detaches: if someone kept a shallow copy of the image, we write into our own.
        m_bits = reinterpret_cast<uint32_t*>(m_image.bits());
    }
    return m_bits;
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
    MarkDrawnBox(x0, y0, x1, y1);
    uint32_t* bits = Bits();
    const std::ptrdiff_t stride = m_stride;
    const size_t rowBytes = size_t(x1 - x0) * sizeof(uint32_t);
    // Every interior row is the same: build the first one, copy it to the rest (the fill of
    // the whole screen runs once per frame, and a row copy is several times faster than
    // writing pixel by pixel).
    const uint32_t* interior = nullptr;
    for (int y = y0; y < y1; ++y) {
        uint32_t* row = bits + y * stride;
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
    if (m_width > 0) {
        uint32_t* bits = Bits();
        const std::ptrdiff_t stride = m_stride;
        const uint32_t pixel = m_penPixel;
        // Grid lines are level or upright: their pixels are the span from the start up to the
        // end, end excluded, and a fill or a column walk sets them without the general set-up.
        const auto span = [](int from, int to, int limit) {
            const int64_t first = to > from ? from : int64_t(to) + 1;
            const int64_t end = to > from ? to : int64_t(from) + 1;
            return std::pair<int64_t, int64_t>{std::max<int64_t>(first, 0),
                                               std::min<int64_t>(end, limit)};
        };
        if (y == m_curY && x != m_curX) {
            const auto [first, end] = span(m_curX, x, Width());
            if (y >= 0 && y < Height() && first < end) {
                MarkDrawn(first, y, end, int64_t(y) + 1);
                std::fill(bits + y * stride + first, bits + y * stride + end, pixel);
            }
        } else if (x == m_curX && y != m_curY) {
            const auto [first, end] = span(m_curY, y, Height());
            if (x >= 0 && x < Width()) {
                MarkDrawn(x, first, int64_t(x) + 1, end);
                for (int64_t row = first; row < end; ++row) {
                    bits[row * stride + x] = pixel;
                }
            }
        } else {
            const GdiLineBox lit =
                ForEachGdiLinePixel(m_curX, m_curY, x, y, Width(), Height(), stride,
                                    [&](std::ptrdiff_t index) { bits[index] = pixel; });
            MarkDrawn(lit.left, lit.top, lit.right, lit.bottom);
        }
    }
    m_curX = x;
    m_curY = y;
}

void CCanvas::SetPixelV(int x, int y, ColorRef color) {
    if (x < 0 || y < 0 || x >= Width() || y >= Height()) {
        return;
    }
    MarkDrawn(x, y, int64_t(x) + 1, int64_t(y) + 1);
    Bits()[y * m_stride + x] = ColorRefToPixel(color);
}

ColorRef CCanvas::GetPixel(int x, int y) const {
    if (x < 0 || y < 0 || x >= Width() || y >= Height()) {
        return kColorInvalid;
    }
    const auto* row = reinterpret_cast<const uint32_t*>(m_image.constScanLine(y));
    return PixelToColorRef(row[x]);
}

void CCanvas::TextOut(int x, int y, const char* utf8) {
    if (m_width == 0 || utf8 == nullptr) {
        return;
    }
    const TextStamp* stamp = Stamp(utf8);
    if (stamp == nullptr) {
        DrawTextDirectly(x, y, utf8);
        return;
    }
    uint32_t* bits = Bits();
    const std::ptrdiff_t stride = m_stride;
    const int left = x + stamp->origin;
    const int top = y + stamp->origin;
    MarkDrawnBox(int64_t(left) + stamp->left, int64_t(top) + stamp->top,
                 int64_t(left) + stamp->right, int64_t(top) + stamp->bottom);
    for (const TextStamp::Run& run : stamp->runs) {
        const int py = top + run.row;
        const int first = std::max(left + run.first, 0);
        const int end = std::min(left + run.end, Width());
        if (py < 0 || py >= Height() || first >= end) {
            continue;
        }
        const auto* source =
            reinterpret_cast<const uint32_t*>(stamp->pixels.constScanLine(run.row));
        std::memcpy(bits + py * stride + first, source + (first - left),
                    size_t(end - first) * sizeof(uint32_t));
    }
}

void CCanvas::DrawTextDirectly(int x, int y, const char* utf8) {
    const QString text = QString::fromUtf8(utf8);
    const QFontMetrics metrics(m_font);
    m_bits = nullptr; // the painter detaches for itself; the next write takes its pixels
    MarkDrawn(0, 0, m_width, m_height); // glyphs may reach anywhere
    QPainter painter(&m_image);
    painter.setFont(m_font);
    painter.fillRect(x, y, metrics.horizontalAdvance(text), metrics.height(), Qt::white);
    painter.setPen(Qt::black);
    painter.drawText(x, y + metrics.ascent(), text);
}

const CCanvas::TextStamp* CCanvas::Stamp(const char* utf8) {
    for (const TextStamp& stamp : m_stamps) {
        if (stamp.text == utf8) {
            return stamp.pixels.isNull() ? nullptr : &stamp;
        }
    }
    constexpr size_t kMaxStamps = 8;
    if (m_stamps.size() == kMaxStamps) {
        m_stamps.erase(m_stamps.begin());
    }
    TextStamp& stamp = m_stamps.emplace_back();
    stamp.text = utf8;

    const QString text = QString::fromUtf8(utf8);
    const QFontMetrics metrics(m_font);
    // Glyphs may reach past the box; a line's height of margin on every side holds them.
    const int margin = metrics.height();
    stamp.origin = -margin;
    QImage pixels(metrics.horizontalAdvance(text) + 2 * margin, metrics.height() + 2 * margin,
                  QImage::Format_ARGB32);
    pixels.fill(Qt::transparent);
    {
        QPainter painter(&pixels);
        painter.setFont(m_font);
        painter.fillRect(margin, margin, metrics.horizontalAdvance(text), metrics.height(),
                         Qt::white);
        painter.setPen(Qt::black);
        painter.drawText(margin, margin + metrics.ascent(), text);
    }
    // Exact only when every pixel is either left alone or painted opaque (unsmoothed glyphs)
    // and nothing reached the margin's outer edge; otherwise the label is drawn each time.
    const int w = pixels.width();
    const int h = pixels.height();
    for (int row = 0; row < h; ++row) {
        const auto* line = reinterpret_cast<const uint32_t*>(pixels.constScanLine(row));
        for (int col = 0; col < w; ++col) {
            const uint32_t alpha = line[col] >> 24;
            const bool edge = row == 0 || row == h - 1 || col == 0 || col == w - 1;
            if ((alpha != 0 && alpha != 0xFF) || (alpha != 0 && edge)) {
                return nullptr; // pixels stay null: drawn directly from now on
            }
        }
    }
    for (int row = 0; row < h; ++row) {
        const auto* line = reinterpret_cast<const uint32_t*>(pixels.constScanLine(row));
        for (int col = 0; col < w;) {
            if (line[col] >> 24 == 0) {
                ++col;
                continue;
            }
            const int first = col;
            while (col < w && line[col] >> 24 != 0) {
                ++col;
            }
            stamp.runs.push_back({row, first, col});
        }
    }
    if (!stamp.runs.empty()) {
        stamp.left = w;
        stamp.top = stamp.runs.front().row;
        stamp.bottom = stamp.runs.back().row + 1;
        for (const TextStamp::Run& run : stamp.runs) {
            stamp.left = std::min(stamp.left, run.first);
            stamp.right = std::max(stamp.right, run.end);
        }
    }
    stamp.pixels = std::move(pixels);
    return &stamp;
}
