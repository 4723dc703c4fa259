// The canvas's backdrop: what a frame drew over it, putting it back, and comparing two frames
// drawn over equal backdrops.
#include "gfx/canvas.h"

#include <algorithm>
#include <cstring>

void CCanvas::MarkDrawn(int64_t left, int64_t top, int64_t right, int64_t bottom) {
    if (!m_backdropKey) {
        return;
    }
    const int x0 = int(std::max<int64_t>(left, 0));
    const int x1 = int(std::min<int64_t>(right, m_width));
    const int y0 = int(std::max<int64_t>(top, 0));
    const int y1 = int(std::min<int64_t>(bottom, m_height));
    if (y0 >= y1) {
        return;
    }
    for (int x = x0; x < x1; ++x) {
        m_drawnTop[x] = std::min(m_drawnTop[x], y0);
        m_drawnBottom[x] = std::max(m_drawnBottom[x], y1);
    }
}

void CCanvas::MarkDrawnBox(int64_t left, int64_t top, int64_t right, int64_t bottom) {
    if (!m_backdropKey) {
        return;
    }
    if (m_drawnBoxCount == int(m_drawnBoxes.size())) {
        MarkDrawn(left, top, right, bottom);
        return;
    }
    const DrawnBox box{int(std::max<int64_t>(left, 0)), int(std::max<int64_t>(top, 0)),
                       int(std::min<int64_t>(right, m_width)),
                       int(std::min<int64_t>(bottom, m_height))};
    if (box.left < box.right && box.top < box.bottom) {
        m_drawnBoxes[size_t(m_drawnBoxCount++)] = box;
    }
}

void CCanvas::ForgetDrawn() {
    std::fill(m_drawnTop.begin(), m_drawnTop.end(), m_height);
    std::fill(m_drawnBottom.begin(), m_drawnBottom.end(), 0);
    m_drawnBoxCount = 0;
}

void CCanvas::KeepBackdrop(const BackdropKey& key) {
    if (m_width == 0) {
        return;
    }
    if (m_backdrop.size() == m_image.size()) {
        std::memcpy(m_backdrop.bits(), m_image.constBits(), size_t(m_image.sizeInBytes()));
    } else {
        m_backdrop = m_image.copy();
        m_drawnTop.resize(size_t(m_width));
        m_drawnBottom.resize(size_t(m_width));
    }
    m_backdropKey = key;
    ForgetDrawn();
}

bool CCanvas::RestoreBackdrop(const BackdropKey& key) {
    if (!m_backdropKey || *m_backdropKey != key) {
        return false;
    }
    uint32_t* bits = Bits();
    const auto* backdrop = reinterpret_cast<const uint32_t*>(m_backdrop.constBits());
    const auto copyRow = [&](int y, int left, int right) {
        std::memcpy(bits + y * m_stride + left, backdrop + y * m_stride + left,
                    size_t(right - left) * sizeof(uint32_t));
    };
    // A pixel put back down a column costs about a cache line, 16 pixels of a copy of the
    // whole raster; past that share, the copy is the cheaper (a trace much taller than the
    // screen crosses it from top to bottom at every edge).
    int64_t drawn = 0;
    for (int x = 0; x < m_width; ++x) {
        drawn += std::max(m_drawnBottom[x] - m_drawnTop[x], 0);
    }
    if (drawn * 16 > int64_t(m_width) * m_height) {
        for (int y = 0; y < m_height; ++y) {
            copyRow(y, 0, m_width);
        }
    } else {
        for (int x = 0; x < m_width; ++x) {
            for (std::ptrdiff_t i = m_drawnTop[x] * m_stride + x; i < m_drawnBottom[x] * m_stride;
                 i += m_stride) {
                bits[i] = backdrop[i];
            }
        }
        for (int b = 0; b < m_drawnBoxCount; ++b) {
            const DrawnBox& box = m_drawnBoxes[size_t(b)];
            for (int y = box.top; y < box.bottom; ++y) {
                copyRow(y, box.left, box.right);
            }
        }
    }
    ForgetDrawn();
    return true;
}

bool CCanvas::OverSameBackdrop(const CCanvas& a, const CCanvas& b) {
    return a.m_backdropKey && b.m_backdropKey && *a.m_backdropKey == *b.m_backdropKey &&
           a.m_width == b.m_width && a.m_height == b.m_height;
}

bool CCanvas::SamePixels(const CCanvas& a, const CCanvas& b) {
    if (a.m_width != b.m_width || a.m_height != b.m_height) {
        return false;
    }
    if (a.m_width == 0) {
        return true;
    }
    const auto* pa = reinterpret_cast<const uint32_t*>(a.m_image.constBits());
    const auto* pb = reinterpret_cast<const uint32_t*>(b.m_image.constBits());
    if (!OverSameBackdrop(a, b)) {
        return std::memcmp(pa, pb, size_t(a.m_image.sizeInBytes())) == 0;
    }
    // Outside what either drew, both hold their backdrop, and the backdrops are equal.
    for (const CCanvas* c : {&a, &b}) {
        for (int n = 0; n < c->m_drawnBoxCount; ++n) {
            const DrawnBox& box = c->m_drawnBoxes[size_t(n)];
            for (int y = box.top; y < box.bottom; ++y) {
                const std::ptrdiff_t row = y * a.m_stride + box.left;
                if (std::memcmp(pa + row, pb + row, size_t(box.right - box.left) * 4) != 0) {
                    return false;
                }
            }
        }
    }
    for (int x = 0; x < a.m_width; ++x) {
        const std::ptrdiff_t top = std::min(a.m_drawnTop[x], b.m_drawnTop[x]);
        const std::ptrdiff_t bottom = std::max(a.m_drawnBottom[x], b.m_drawnBottom[x]);
        for (std::ptrdiff_t i = top * a.m_stride + x; i < bottom * a.m_stride; i += a.m_stride) {
            if (pa[i] != pb[i]) {
                return false;
            }
        }
    }
    return true;
}
