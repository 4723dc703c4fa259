#pragma once
// The off-screen W x H raster the oscilloscope frame is composed on, with the drawing rules the
// frame depends on pixel for pixel: rectangle fill and outline, 1-pixel lines that leave out
// their end pixel, single pixels and boxed text.
//
// Threads: a canvas belongs to one thread at a time (the capture worker while it composes a
// frame). Text needs a QGuiApplication to exist; nothing else needs Qt beyond QImage.

#include <QFont>
#include <QImage>

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Colours as the panel stores them: 0x00BBGGRR.
using ColorRef = uint32_t;

inline constexpr ColorRef kColorBlack = 0x00000000;
inline constexpr ColorRef kColorWhite = 0x00FFFFFF;
// What GetPixel answers outside the raster.
inline constexpr ColorRef kColorInvalid = 0xFFFFFFFF;

// 0x00BBGGRR to the raster's 0xAARRGGBB pixel and back.
inline constexpr uint32_t ColorRefToPixel(ColorRef c) {
    return 0xFF000000u | ((c & 0xFFu) << 16) | (c & 0xFF00u) | ((c >> 16) & 0xFFu);
}
inline constexpr ColorRef PixelToColorRef(uint32_t p) {
    return ((p >> 16) & 0xFFu) | (p & 0xFF00u) | ((p & 0xFFu) << 16);
}

class CCanvas {
public:
    CCanvas();
    // Not copyable: the copy would write through the pixel pointer this one keeps.
    CCanvas(const CCanvas&) = delete;
    CCanvas& operator=(const CCanvas&) = delete;

    // Makes the raster W x H pixels (QImage::Format_RGB32); memory is only reallocated when the
    // size changes, so a caller that keeps one canvas pays nothing per frame. Contents are
    // undefined after a change of size and kept otherwise. Also resets the current position and
    // the selected pen and brush.
    void Resize(int width, int height);
    int Width() const { return m_width; }
    int Height() const { return m_height; }

    // Selection state, as a fresh memory context has it: black pen, white brush.
    void SelectPen(ColorRef color) { m_penPixel = ColorRefToPixel(color); }
    void SelectBrush(ColorRef color) { m_brushPixel = ColorRefToPixel(color); }
    void SelectDefaultObjects();

    // Fills [left, right) x [top, bottom) with the brush and outlines its border pixels with the
    // pen. Corners given in any order; clipped to the raster.
    void Rectangle(int left, int top, int right, int bottom);
    // The current position for the next LineTo; draws nothing.
    void MoveTo(int x, int y);
    // Line in the pen colour from the current position to (x, y), end pixel excluded; (x, y)
    // becomes the current position. Any coordinates; pixels off the raster are dropped.
    void LineTo(int x, int y);
    void SetPixelV(int x, int y, ColorRef color);
    // UTF-8 text with its cell's top-left corner at (x, y): black glyphs on an opaque white box
    // as wide as the text's advance and as high as the font's line.
    void TextOut(int x, int y, const char* utf8);

    ColorRef GetPixel(int x, int y) const;

    // A backdrop: a picture kept aside that frame after frame is drawn over (the oscilloscope's
    // background and grid). From the moment it is kept, the canvas notes which pixels each
    // drawing call may change (a range of rows per column for lines and pixels, a box for a
    // label), so putting it back, and comparing two frames drawn over it, touch those only. The key
    // is the caller's: equal keys at equal sizes promise equal backdrops, also on two canvases.
    using BackdropKey = std::array<uint32_t, 4>;
    // The raster as it is now becomes the backdrop for `key`. Allocates only the first time and
    // when the size changed.
    void KeepBackdrop(const BackdropKey& key);
    // When the backdrop kept is for `key` (and was kept at the present size): the raster is the
    // backdrop again, and true. Otherwise false, and nothing changes.
    bool RestoreBackdrop(const BackdropKey& key);
    // Whether a and b hold the same pixels.
    static bool SamePixels(const CCanvas& a, const CCanvas& b);

    // The raster itself. It is rewritten by the next frame: keep a deep copy (QImage::copy) to
    // hand it to another thread. A shallow copy is safe too: the next write draws into fresh
    // memory if it is still held.
    const QImage& Image() const {
        m_bits = nullptr; // a copy may now share the pixels: the next write must detach
        return m_image;
    }

private:
    // A label rendered once (text layout and shaping cost far more than the label's pixels):
    // its opaque pixels as row runs, placed relative to the text's top-left corner.
    struct TextStamp {
        struct Run {
            int row, first, end; // stamp coordinates, [first, end)
        };
        std::string text;
        QImage pixels;  // ARGB32: white box and black glyphs opaque, the rest transparent
        int origin = 0; // the stamp's top-left corner is (x + origin, y + origin)
        std::vector<Run> runs;
        // The box the runs fill, in stamp coordinates: [left, right) x [top, bottom).
        int left = 0, top = 0, right = 0, bottom = 0;
    };

    // The pixels to write, detached from any copy of the image taken through Image().
    uint32_t* Bits();
    // Notes that drawing may change [left, right) x [top, bottom); clipped to the raster. A line
    // marks its columns; a label or a rectangle, whose rows other drawings share, its box.
    void MarkDrawn(int64_t left, int64_t top, int64_t right, int64_t bottom);
    void MarkDrawnBox(int64_t left, int64_t top, int64_t right, int64_t bottom);
    // Nothing drawn over the backdrop since now.
    void ForgetDrawn();
    // Whether a and b are the same size and both drawn over backdrops kept for the same key.
    static bool OverSameBackdrop(const CCanvas& a, const CCanvas& b);
    // The stamp of `utf8`, made on first use; none when the label cannot be stamped exactly.
    const TextStamp* Stamp(const char* utf8);
    void DrawTextDirectly(int x, int y, const char* utf8);

    QImage m_image;
    // Of m_image, kept so a line or a pixel does not call into QImage: QImage::bits() checks
    // for sharing every time, and width() and friends are not inline. m_bits is null until the
    // next write when a copy may share the pixels.
    mutable uint32_t* m_bits = nullptr;
    int m_width = 0;
    int m_height = 0;
    std::ptrdiff_t m_stride = 0; // pixels per row

    QImage m_backdrop; // never shared, so never detached
    std::optional<BackdropKey> m_backdropKey;
    // Per column, the rows [top, bottom) drawn since the backdrop was kept or put back; empty
    // when top >= bottom.
    std::vector<int> m_drawnTop;
    std::vector<int> m_drawnBottom;
    struct DrawnBox {
        int left, top, right, bottom; // on the raster, [left, right) x [top, bottom)
    };
    std::array<DrawnBox, 4> m_drawnBoxes{}; // a frame's labels; more go into the columns
    int m_drawnBoxCount = 0;
    QFont m_font;
    std::vector<TextStamp> m_stamps; // the few labels a frame shows
    uint32_t m_penPixel = 0;
    uint32_t m_brushPixel = 0;
    int m_curX = 0;
    int m_curY = 0;
};
