// The raster's primitives against pictures computed here from first principles.
#include "gfx/canvas.h"

#include <gtest/gtest.h>

#include <QColor>
#include <QFontMetrics>
#include <QPainter>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <functional>
#include <random>
#include <set>
#include <utility>
#include <vector>

namespace {

using Pixel = std::pair<int, int>;
using Big = __int128;

constexpr ColorRef kBack = 0x00102030;
constexpr ColorRef kPen = 0x0000FF00;

// Nearest integer to num / den (den > 0); an exact half goes to the smaller integer, which is
// the upper pixel for x-major lines and the left pixel for y-major ones.
Big NearestTiesDown(Big num, Big den) {
    Big low = num / den;
    if (num % den != 0 && num < 0) {
        --low;
    }
    const Big belowGap = num - low * den;       // distance to low, times den
    const Big aboveGap = (low + 1) * den - num; // distance to low + 1, times den
    return belowGap <= aboveGap ? low : low + 1;
}

// Reference picture of a line from (x0, y0) to (x1, y1) on a width x height raster: one pixel
// for each visible column (x-major) or row (y-major) from the start (included) to the end
// (excluded), its other coordinate read off the ideal line.
std::set<Pixel> ReferenceLine(int x0, int y0, int x1, int y1, int width, int height) {
    std::set<Pixel> out;
    const Big dx = Big(x1) - x0;
    const Big dy = Big(y1) - y0;
    const Big adx = dx < 0 ? -dx : dx;
    const Big ady = dy < 0 ? -dy : dy;
    if (adx == 0 && ady == 0) {
        return out;
    }
    if (adx >= ady) {
        for (int x = 0; x < width; ++x) {
            const Big steps = dx > 0 ? Big(x) - x0 : Big(x0) - x; // 0 at the start
            if (steps < 0 || steps >= adx) {
                continue;
            }
            const Big y = NearestTiesDown(Big(y0) * adx + steps * dy, adx);
            if (y >= 0 && y < height) {
                out.insert({x, int(y)});
            }
        }
    } else {
        for (int y = 0; y < height; ++y) {
            const Big steps = dy > 0 ? Big(y) - y0 : Big(y0) - y;
            if (steps < 0 || steps >= ady) {
                continue;
            }
            const Big x = NearestTiesDown(Big(x0) * ady + steps * dx, ady);
            if (x >= 0 && x < width) {
                out.insert({int(x), y});
            }
        }
    }
    return out;
}

std::set<Pixel> PenPixels(const CCanvas& canvas) {
    std::set<Pixel> out;
    for (int y = 0; y < canvas.Height(); ++y) {
        for (int x = 0; x < canvas.Width(); ++x) {
            const ColorRef c = canvas.GetPixel(x, y);
            if (c == kPen) {
                out.insert({x, y});
            } else {
                EXPECT_EQ(c, kBack) << "stray colour at " << x << "," << y;
            }
        }
    }
    return out;
}

std::set<Pixel> DrawLine(CCanvas& canvas, int x0, int y0, int x1, int y1) {
    canvas.SelectPen(kBack);
    canvas.SelectBrush(kBack);
    canvas.Rectangle(0, 0, canvas.Width(), canvas.Height());
    canvas.SelectPen(kPen);
    canvas.MoveTo(x0, y0);
    canvas.LineTo(x1, y1);
    return PenPixels(canvas);
}

struct LineCase {
    const char* name;
    int x0, y0, x1, y1;
};

// On a 40 x 30 raster: every direction, both kinds of slope, with exact half-way ties.
const LineCase kInsideLines[] = {
    {"horizontal right", 3, 5, 20, 5},
    {"horizontal left", 20, 5, 3, 5},
    {"vertical down", 7, 2, 7, 25},
    {"vertical up", 7, 25, 7, 2},
    {"diagonal down right", 2, 2, 17, 17},
    {"diagonal up left", 17, 17, 2, 2},
    {"diagonal down left", 20, 3, 8, 15},
    {"diagonal up right", 8, 15, 20, 3},
    {"shallow octant 1", 1, 1, 31, 8},
    {"shallow octant 4", 31, 1, 1, 8},
    {"shallow octant 5", 31, 8, 1, 1},
    {"shallow octant 8", 1, 8, 31, 1},
    {"steep octant 2", 4, 1, 11, 28},
    {"steep octant 3", 11, 1, 4, 28},
    {"steep octant 6", 11, 28, 4, 1},
    {"steep octant 7", 4, 28, 11, 1},
    {"tie x-major right", 0, 0, 4, 1},
    {"tie x-major left", 4, 1, 0, 0},
    {"tie x-major rising", 0, 10, 6, 7},
    {"tie x-major falling", 6, 7, 0, 10},
    {"tie y-major down", 0, 0, 1, 4},
    {"tie y-major up", 1, 4, 0, 0},
    {"tie y-major left", 9, 0, 6, 6},
    {"tie y-major right", 6, 6, 9, 0},
    {"one pixel", 5, 5, 6, 5},
    {"one step diagonal", 5, 5, 4, 4},
};

TEST(CanvasLine, MatchesReferenceInEveryDirection) {
    CCanvas canvas;
    canvas.Resize(40, 30);
    for (const LineCase& c : kInsideLines) {
        SCOPED_TRACE(c.name);
        const std::set<Pixel> drawn = DrawLine(canvas, c.x0, c.y0, c.x1, c.y1);
        EXPECT_EQ(drawn, ReferenceLine(c.x0, c.y0, c.x1, c.y1, 40, 30));
        const int length = std::max(std::abs(c.x1 - c.x0), std::abs(c.y1 - c.y0));
        EXPECT_EQ(int(drawn.size()), length);
        EXPECT_TRUE(drawn.count({c.x0, c.y0})) << "start pixel missing";
        EXPECT_FALSE(drawn.count({c.x1, c.y1})) << "end pixel drawn";
    }
}

TEST(CanvasLine, ExactHalvesGoUpOrLeftWhicheverWayTheLineRuns) {
    CCanvas canvas;
    canvas.Resize(10, 10);
    // At x = 2 the line is at y = 0.5: the upper pixel wins in both directions.
    EXPECT_EQ(DrawLine(canvas, 0, 0, 4, 1), (std::set<Pixel>{{0, 0}, {1, 0}, {2, 0}, {3, 1}}));
    EXPECT_EQ(DrawLine(canvas, 4, 1, 0, 0), (std::set<Pixel>{{4, 1}, {3, 1}, {2, 0}, {1, 0}}));
    // At y = 2 the line is at x = 0.5: the left pixel wins in both directions.
    EXPECT_EQ(DrawLine(canvas, 0, 0, 1, 4), (std::set<Pixel>{{0, 0}, {0, 1}, {0, 2}, {1, 3}}));
    EXPECT_EQ(DrawLine(canvas, 1, 4, 0, 0), (std::set<Pixel>{{1, 4}, {1, 3}, {0, 2}, {0, 1}}));
}

TEST(CanvasLine, ZeroLengthLineDrawsNothingButMoves) {
    CCanvas canvas;
    canvas.Resize(10, 10);
    EXPECT_TRUE(DrawLine(canvas, 4, 4, 4, 4).empty());
    canvas.MoveTo(1, 1);
    canvas.LineTo(3, 1);
    canvas.LineTo(3, 3); // continues from the previous end
    EXPECT_EQ(PenPixels(canvas), (std::set<Pixel>{{1, 1}, {2, 1}, {3, 1}, {3, 2}}));
}

// Clipping at each edge and corner, from just outside to far outside.
const LineCase kClippedLines[] = {
    {"left edge in", -7, 3, 12, 9},          {"left edge out", 12, 9, -7, 3},
    {"right edge in", 30, 2, 45, 11},        {"right edge out", 45, 11, 30, 2},
    {"top edge steep", 5, -9, 9, 20},        {"top edge out", 9, 20, 5, -9},
    {"bottom edge steep", 30, 10, 22, 41},   {"bottom edge out", 22, 41, 30, 10},
    {"end exactly on edge", 0, 5, 40, 5},    {"start just outside", -1, 5, 5, 5},
    {"through two edges", -20, -3, 60, 27},  {"through corner", -5, -5, 35, 35},
    {"steep across", 17, -40, 25, 70},       {"miss above", -5, -2, 50, -1},
    {"miss left", -3, -10, -1, 40},          {"graze corner", -1, 1, 1, -1},
    {"far shallow", -100000, 7, 100000, 23}, {"far steep", 12, -900000, 31, 900000},
    {"level across", 60, 7, -9, 7},          {"upright across", 5, -10, 5, 50},
    {"level off below", -3, 30, 20, 30},     {"upright from far", 39, INT_MIN, 39, 4},
};

TEST(CanvasLine, ClippingKeepsTheVisiblePixels) {
    CCanvas canvas;
    canvas.Resize(40, 30);
    for (const LineCase& c : kClippedLines) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(DrawLine(canvas, c.x0, c.y0, c.x1, c.y1),
                  ReferenceLine(c.x0, c.y0, c.x1, c.y1, 40, 30));
    }
}

TEST(CanvasLine, ExtremeCoordinatesStayExact) {
    CCanvas canvas;
    canvas.Resize(40, 30);
    const LineCase cases[] = {
        {"int range", INT_MIN, INT_MIN + 7, INT_MAX, INT_MAX - 3},
        {"int range steep", 3, INT_MAX, 21, INT_MIN},
        {"near int min", INT_MIN, 12, 39, 12},
    };
    for (const LineCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(DrawLine(canvas, c.x0, c.y0, c.x1, c.y1),
                  ReferenceLine(c.x0, c.y0, c.x1, c.y1, 40, 30));
    }
}

TEST(CanvasLine, RandomLinesMatchReference) {
    CCanvas canvas;
    canvas.Resize(37, 23);
    std::mt19937 rng(20240607);
    std::uniform_int_distribution<int> near(-30, 70);
    for (int i = 0; i < 3000; ++i) {
        const int x0 = near(rng), y0 = near(rng), x1 = near(rng), y1 = near(rng);
        ASSERT_EQ(DrawLine(canvas, x0, y0, x1, y1), ReferenceLine(x0, y0, x1, y1, 37, 23))
            << x0 << "," << y0 << " -> " << x1 << "," << y1;
    }
}

TEST(CanvasRectangle, FillsWithBrushAndOutlinesWithPen) {
    CCanvas canvas;
    canvas.Resize(12, 9);
    canvas.SelectBrush(kBack);
    canvas.SelectPen(kBack);
    canvas.Rectangle(0, 0, 12, 9);
    canvas.SelectPen(kPen);
    canvas.SelectBrush(0x000000FF);
    canvas.Rectangle(8, 6, 2, 1); // corners swapped: same as (2, 1, 8, 6)
    for (int y = 0; y < 9; ++y) {
        for (int x = 0; x < 12; ++x) {
            const bool inside = x >= 2 && x < 8 && y >= 1 && y < 6;
            const bool border = inside && (x == 2 || x == 7 || y == 1 || y == 5);
            const ColorRef want = border ? kPen : inside ? 0x000000FF : kBack;
            EXPECT_EQ(canvas.GetPixel(x, y), want) << x << "," << y;
        }
    }
}

TEST(CanvasRectangle, ClippedOutlineKeepsOnlyVisibleEdges) {
    CCanvas canvas;
    canvas.Resize(6, 6);
    canvas.SelectPen(kPen);
    canvas.SelectBrush(kBack);
    canvas.Rectangle(-3, 2, 4, 20); // left and bottom edges are off the raster
    EXPECT_EQ(canvas.GetPixel(0, 3), kBack);
    EXPECT_EQ(canvas.GetPixel(3, 3), kPen); // right edge
    EXPECT_EQ(canvas.GetPixel(1, 2), kPen); // top edge
    EXPECT_EQ(canvas.GetPixel(2, 5), kBack);
}

TEST(CanvasPixels, ColoursAreStoredAsBgrValues) {
    CCanvas canvas;
    canvas.Resize(4, 3);
    canvas.SetPixelV(1, 2, 0x00112233);
    canvas.SetPixelV(-1, 0, kPen); // off the raster: ignored
    canvas.SetPixelV(4, 0, kPen);
    EXPECT_EQ(canvas.GetPixel(1, 2), 0x00112233u);
    EXPECT_EQ(canvas.Image().pixel(1, 2), qRgb(0x33, 0x22, 0x11));
    EXPECT_EQ(canvas.Image().format(), QImage::Format_RGB32);
    EXPECT_EQ(canvas.GetPixel(4, 0), kColorInvalid);
}

TEST(CanvasPixels, ResizeKeepsMemoryForTheSameSize) {
    CCanvas canvas;
    canvas.Resize(16, 8);
    const uchar* before = canvas.Image().constBits();
    canvas.Resize(16, 8);
    EXPECT_EQ(canvas.Image().constBits(), before);
    canvas.Resize(8, 16);
    EXPECT_EQ(canvas.Width(), 8);
    EXPECT_EQ(canvas.Height(), 16);
}

TEST(CanvasPixels, ShallowCopyIsNotOverwritten) {
    CCanvas canvas;
    canvas.Resize(4, 4);
    canvas.SetPixelV(0, 0, kBack);
    const QImage kept = canvas.Image();
    canvas.SetPixelV(0, 0, kPen);
    EXPECT_EQ(PixelToColorRef(kept.pixel(0, 0)), kBack);
    EXPECT_EQ(canvas.GetPixel(0, 0), kPen);
}

TEST(CanvasText, BlackTextOnWhiteBox) {
    CCanvas canvas;
    canvas.Resize(200, 60);
    canvas.SelectPen(kBack);
    canvas.SelectBrush(kBack);
    canvas.Rectangle(0, 0, 200, 60);
    canvas.TextOut(10, 10, "635微秒每格");
    EXPECT_EQ(canvas.GetPixel(10, 10), kColorWhite);
    EXPECT_EQ(canvas.GetPixel(9, 10), kBack);
    EXPECT_EQ(canvas.GetPixel(10, 9), kBack);
    int white = 0, black = 0, other = 0, rightmost = 0, lowest = 0;
    for (int y = 10; y < 60; ++y) {
        for (int x = 10; x < 200; ++x) {
            const ColorRef c = canvas.GetPixel(x, y);
            if (c == kBack) {
                continue;
            }
            white += c == kColorWhite;
            black += c == kColorBlack;
            other += c != kColorWhite && c != kColorBlack;
            rightmost = std::max(rightmost, x);
            lowest = std::max(lowest, y);
        }
    }
    EXPECT_EQ(other, 0) << "glyphs must not be smoothed";
    EXPECT_GT(black, 60);          // seven glyphs' worth of ink
    EXPECT_GT(white, black);       // on an opaque box
    EXPECT_GT(rightmost, 10 + 60); // four CJK glyphs are wide
    EXPECT_GE(lowest, 10 + 11);
    EXPECT_LT(lowest, 10 + 30);
}

// Labels are stamped from a rendering kept per text; the pixels must be those of drawing the
// text afresh, wherever it lands (over other pixels, cut by the raster's edges) and however
// often it is repeated.
TEST(CanvasText, RepeatedLabelsMatchAFreshRendering) {
    const struct {
        int x, y;
        const char* text;
    } labels[] = {{10, 10, "635微秒每格"},  {150, 10, "1270微秒每格"}, {10, 10, "635微秒每格"},
                  {-20, -5, "635微秒每格"}, {170, 50, "1270微秒每格"}, {-40, 55, "Hz/格 2205"}};
    CCanvas canvas;
    canvas.Resize(200, 60);
    QImage expected(200, 60, QImage::Format_RGB32);
    QFont font(QStringLiteral("WenQuanYi Micro Hei"));
    font.setPixelSize(16);
    font.setStyleStrategy(QFont::NoAntialias);
    const QFontMetrics metrics(font);
    for (int y = 0; y < 60; ++y) { // a background no label could hide by chance
        for (int x = 0; x < 200; ++x) {
            canvas.SetPixelV(x, y, ColorRef(0x00102030 + 0x010101 * ((x * 7 + y * 3) % 64)));
            expected.setPixel(x, y, ColorRefToPixel(canvas.GetPixel(x, y)));
        }
    }
    for (const auto& label : labels) {
        canvas.TextOut(label.x, label.y, label.text);
        const QString text = QString::fromUtf8(label.text);
        QPainter painter(&expected);
        painter.setFont(font);
        painter.fillRect(label.x, label.y, metrics.horizontalAdvance(text), metrics.height(),
                         Qt::white);
        painter.setPen(Qt::black);
        painter.drawText(label.x, label.y + metrics.ascent(), text);
        painter.end();
        ASSERT_EQ(canvas.Image(), expected) << label.text << " at " << label.x << "," << label.y;
    }
}

} // namespace

namespace {

// A 160 x 120 canvas whose backdrop, a patterned picture, is kept for key {1, 2, 3, 4}. The
// drawings below cover a small part of it, as a frame's trace and labels do.
void KeepPatternedBackdrop(CCanvas& canvas) {
    canvas.Resize(160, 120);
    for (int y = 0; y < 120; ++y) {
        for (int x = 0; x < 160; ++x) {
            canvas.SetPixelV(x, y, ColorRef(0x00102030 + 0x010101 * ((x * 5 + y * 3) % 64)));
        }
    }
    canvas.KeepBackdrop({1, 2, 3, 4});
}

} // namespace

// Putting the backdrop back undoes every kind of drawing call, also one that leaves the raster.
TEST(CanvasBackdrop, RestoreUndoesEveryDrawingCall) {
    CCanvas canvas;
    KeepPatternedBackdrop(canvas);
    const QImage backdrop = canvas.Image().copy();
    // Each call in a corner of its own, so none is undone by chance with another's pixels.
    canvas.MoveTo(-50, 9);
    canvas.LineTo(12, 11);
    canvas.LineTo(18, 2);
    canvas.SetPixelV(22, 5, kPen);
    canvas.Rectangle(150, 2, 165, 8);
    canvas.TextOut(4, 105, "635微秒每格");
    canvas.TextOut(100, 40, "1270微秒每格");
    EXPECT_FALSE(canvas.RestoreBackdrop({1, 2, 3, 5}));
    EXPECT_NE(canvas.Image(), backdrop);
    EXPECT_TRUE(canvas.RestoreBackdrop({1, 2, 3, 4}));
    EXPECT_EQ(canvas.Image(), backdrop);
}

// Two frames over equal backdrops are compared where either drew; a difference there is found
// whichever of the two drew it.
TEST(CanvasBackdrop, SamePixelsOverEqualBackdrops) {
    const struct {
        const char* name;
        std::function<void(CCanvas&)> drawA, drawB;
        bool same;
    } cases[] = {
        {"same line", [](CCanvas& c) { c.LineTo(20, 29); }, [](CCanvas& c) { c.LineTo(20, 29); },
         true},
        {"line on one only", [](CCanvas& c) { c.LineTo(20, 29); }, [](CCanvas&) {}, false},
        {"line on the other only", [](CCanvas&) {}, [](CCanvas& c) { c.LineTo(20, 29); }, false},
        {"pixel of another colour", [](CCanvas& c) { c.SetPixelV(7, 9, kPen); },
         [](CCanvas& c) { c.SetPixelV(7, 9, kBack); }, false},
        {"label on the other only", [](CCanvas&) {},
         [](CCanvas& c) { c.TextOut(2, 2, "635微秒每格"); }, false},
    };
    for (const auto& c : cases) {
        CCanvas a;
        CCanvas b;
        KeepPatternedBackdrop(a);
        KeepPatternedBackdrop(b);
        c.drawA(a);
        c.drawB(b);
        EXPECT_EQ(CCanvas::SamePixels(a, b), c.same) << c.name;
        EXPECT_EQ(a.Image() == b.Image(), c.same) << c.name;
    }
}
