#include "controls/digit_glyphs.h"

#include "base/palette16.h"

namespace {

// A block of a segment: rows y0..y1, columns x0..x1, all inclusive. y0 > y1 marks no block.
struct Block {
    int y0, y1, x0, x1;
};
constexpr Block kNone = {1, 0, 1, 0};

// Blocks of each segment, a to g. Row 0, row 22, column 0 and column 12 are never part of one.
constexpr std::array<std::array<Block, 5>, kSegmentCount> kSegmentBlocks = {{
    {{{1, 1, 2, 10}, {2, 2, 3, 9}, {3, 3, 4, 8}, kNone, kNone}},
    {{{2, 2, 11, 11}, {3, 3, 10, 11}, {4, 8, 9, 11}, {9, 9, 10, 11}, {10, 10, 11, 11}}},
    {{{12, 12, 11, 11}, {13, 13, 10, 11}, {14, 18, 9, 11}, {19, 19, 10, 11}, {20, 20, 11, 11}}},
    {{{19, 19, 4, 8}, {20, 20, 3, 9}, {21, 21, 2, 10}, kNone, kNone}},
    {{{12, 12, 1, 1}, {13, 13, 1, 2}, {14, 18, 1, 3}, {19, 19, 1, 2}, {20, 20, 1, 1}}},
    {{{2, 2, 1, 1}, {3, 3, 1, 2}, {4, 8, 1, 3}, {9, 9, 1, 2}, {10, 10, 1, 1}}},
    {{{10, 10, 3, 9}, {11, 11, 2, 10}, {12, 12, 3, 9}, kNone, kNone}},
}};

// Lit segments per glyph, written as the segment letters they stand for.
constexpr uint8_t Bits(const char* letters) {
    uint8_t bits = 0;
    for (const char* p = letters; *p; ++p)
        bits |= uint8_t(1u << (*p - 'a'));
    return bits;
}

constexpr std::array<uint8_t, kGlyphCount> kLit = {
    Bits("abcdef"), Bits("bc"),  Bits("abdeg"),   Bits("abcdg"),  Bits("bcfg"), Bits("acdfg"),
    Bits("acdefg"), Bits("abc"), Bits("abcdefg"), Bits("abcdfg"), Bits(""),
};

bool IsHorizontal(Segment segment) {
    return segment == Segment::A || segment == Segment::D || segment == Segment::G;
}

} // namespace

bool SegmentContains(Segment segment, int x, int y) {
    for (const Block& b : kSegmentBlocks[int(segment)])
        if (y >= b.y0 && y <= b.y1 && x >= b.x0 && x <= b.x1)
            return true;
    return false;
}

uint8_t LitSegments(int glyph) {
    return glyph >= 0 && glyph < kGlyphCount ? kLit[glyph] : 0;
}

GlyphPixels DigitGlyphPixels(int glyph) {
    GlyphPixels pixels{};
    const uint8_t lit = LitSegments(glyph);
    for (int y = 0; y < kGlyphHeight; ++y) {
        for (int x = 0; x < kGlyphWidth; ++x) {
            for (int s = 0; s < kSegmentCount; ++s) {
                const auto segment = Segment(s);
                if (!SegmentContains(segment, x, y))
                    continue;
                if (lit & (1u << s)) {
                    pixels[y][x] = kGlyphRed;
                } else {
                    // The dim checker runs across the stroke, so horizontal and vertical
                    // segments take opposite parities.
                    const bool even = (x + y) % 2 == 0;
                    pixels[y][x] = even == IsHorizontal(segment) ? kGlyphDimRed : kGlyphBlack;
                }
            }
        }
    }
    return pixels;
}

const std::array<QRgb, 16>& GlyphPalette() {
    static const std::array<QRgb, 16> palette = [] {
        std::array<QRgb, 16> colors{};
        for (size_t i = 0; i < colors.size(); ++i) {
            colors[i] = qRgb(kPalette16[i].red, kPalette16[i].green, kPalette16[i].blue);
        }
        return colors;
    }();
    return palette;
}

QImage DigitGlyphImage(int glyph) {
    const GlyphPixels pixels = DigitGlyphPixels(glyph);
    QImage image(kGlyphWidth, kGlyphHeight, QImage::Format_RGB32);
    for (int y = 0; y < kGlyphHeight; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < kGlyphWidth; ++x)
            line[x] = GlyphPalette()[pixels[y][x]];
    }
    return image;
}
