// The generated glyphs against the segment table, pixel for pixel.
#include "controls/digit_glyphs.h"

#include <gtest/gtest.h>

#include <QRegularExpression>

#include <map>
#include <set>
#include <string>
#include <utility>

namespace {

using Pixel = std::pair<int, int>; // (x, y)

// The segment table written out as text and parsed here, so the test does not share the
// production code's encoding of it.
const std::map<char, std::string> kTableText = {
    {'a', "y 1: x 2-10; y 2: x 3-9; y 3: x 4-8"},
    {'b', "y 2: x 11; y 3: x 10-11; y 4-8: x 9-11; y 9: x 10-11; y 10: x 11"},
    {'c', "y 12: x 11; y 13: x 10-11; y 14-18: x 9-11; y 19: x 10-11; y 20: x 11"},
    {'d', "y 19: x 4-8; y 20: x 3-9; y 21: x 2-10"},
    {'e', "y 12: x 1; y 13: x 1-2; y 14-18: x 1-3; y 19: x 1-2; y 20: x 1"},
    {'f', "y 2: x 1; y 3: x 1-2; y 4-8: x 1-3; y 9: x 1-2; y 10: x 1"},
    {'g', "y 10: x 3-9; y 11: x 2-10; y 12: x 3-9"},
};

const std::string kLitByGlyph[kGlyphCount] = {"abcdef", "bc",  "abdeg",   "abcdg",  "bcfg", "acdfg",
                                              "acdefg", "abc", "abcdefg", "abcdfg", ""};

std::set<Pixel> ParseSegment(const std::string& text) {
    static const QRegularExpression part(R"(y (\d+)(?:-(\d+))?: x (\d+)(?:-(\d+))?)");
    std::set<Pixel> pixels;
    auto it = part.globalMatch(QString::fromStdString(text));
    while (it.hasNext()) {
        const auto m = it.next();
        const int y0 = m.captured(1).toInt(), x0 = m.captured(3).toInt();
        const int y1 = m.captured(2).isEmpty() ? y0 : m.captured(2).toInt();
        const int x1 = m.captured(4).isEmpty() ? x0 : m.captured(4).toInt();
        for (int y = y0; y <= y1; ++y)
            for (int x = x0; x <= x1; ++x)
                pixels.insert({x, y});
    }
    return pixels;
}

bool Horizontal(char segment) {
    return segment == 'a' || segment == 'd' || segment == 'g';
}

} // namespace

TEST(DigitGlyphs, SegmentsHaveTheTablePixelsAndDoNotOverlap) {
    std::set<Pixel> all;
    for (const auto& [letter, text] : kTableText) {
        const std::set<Pixel> expected = ParseSegment(text);
        EXPECT_EQ(expected.size(), letter == 'g' ? 23u : 21u) << letter;
        const auto segment = Segment(letter - 'a');
        for (int y = 0; y < kGlyphHeight; ++y)
            for (int x = 0; x < kGlyphWidth; ++x)
                EXPECT_EQ(SegmentContains(segment, x, y), expected.count({x, y}) == 1)
                    << letter << " at " << x << "," << y;
        all.insert(expected.begin(), expected.end());
    }
    EXPECT_EQ(all.size(), 6u * 21u + 23u);
}

class EachGlyph : public ::testing::TestWithParam<int> {};

TEST_P(EachGlyph, LitRedUnlitCheckerElseBlack) {
    const int glyph = GetParam();
    const GlyphPixels pixels = DigitGlyphPixels(glyph);
    std::map<Pixel, uint8_t> expected;
    int lit = 0, dim = 0;
    for (const auto& [letter, text] : kTableText) {
        const bool on = kLitByGlyph[glyph].find(letter) != std::string::npos;
        for (const Pixel& p : ParseSegment(text)) {
            const bool even = (p.first + p.second) % 2 == 0;
            const uint8_t want = on ? kGlyphRed : (even == Horizontal(letter) ? kGlyphDimRed : 0);
            expected[p] = want;
            lit += want == kGlyphRed;
            dim += want == kGlyphDimRed;
        }
    }
    int seenLit = 0, seenDim = 0;
    for (int y = 0; y < kGlyphHeight; ++y) {
        for (int x = 0; x < kGlyphWidth; ++x) {
            const auto it = expected.find({x, y});
            EXPECT_EQ(pixels[y][x], it == expected.end() ? kGlyphBlack : it->second)
                << "glyph " << glyph << " at " << x << "," << y;
            seenLit += pixels[y][x] == kGlyphRed;
            seenDim += pixels[y][x] == kGlyphDimRed;
        }
    }
    EXPECT_EQ(seenLit, lit);
    EXPECT_EQ(seenDim, dim);
    for (int i = 0; i < kGlyphWidth; ++i)
        EXPECT_TRUE(pixels[0][i] == 0 && pixels[kGlyphHeight - 1][i] == 0) << "column " << i;
    for (int i = 0; i < kGlyphHeight; ++i)
        EXPECT_TRUE(pixels[i][0] == 0 && pixels[i][kGlyphWidth - 1] == 0) << "row " << i;
}

TEST_P(EachGlyph, ImageUsesThePaletteColours) {
    const int glyph = GetParam();
    const GlyphPixels pixels = DigitGlyphPixels(glyph);
    const QImage image = DigitGlyphImage(glyph);
    ASSERT_EQ(image.size(), QSize(13, 23));
    const std::map<uint8_t, QRgb> colours = {
        {0, qRgb(0, 0, 0)}, {1, qRgb(128, 0, 0)}, {9, qRgb(255, 0, 0)}};
    for (int y = 0; y < kGlyphHeight; ++y)
        for (int x = 0; x < kGlyphWidth; ++x)
            EXPECT_EQ(image.pixel(x, y), colours.at(pixels[y][x])) << x << "," << y;
}

TEST_P(EachGlyph, DigitIsTheBlankGlyphWithItsLitSegmentsRed) {
    const int glyph = GetParam();
    const GlyphPixels blank = DigitGlyphPixels(kBlankGlyph);
    const GlyphPixels pixels = DigitGlyphPixels(glyph);
    for (int y = 0; y < kGlyphHeight; ++y) {
        for (int x = 0; x < kGlyphWidth; ++x) {
            bool inLit = false;
            for (char letter : kLitByGlyph[glyph])
                inLit |= SegmentContains(Segment(letter - 'a'), x, y);
            EXPECT_EQ(pixels[y][x], inLit ? kGlyphRed : blank[y][x]) << x << "," << y;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Glyphs, EachGlyph, ::testing::Range(0, kGlyphCount));
