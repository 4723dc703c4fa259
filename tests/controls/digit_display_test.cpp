// The readout: value to cells, the stretch of a glyph onto its cell, and what the widget paints.
#include "controls/digit_display.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QPainter>
#include <QScreen>
#include <QTest>

#include <climits>
#include <set>

namespace {

constexpr int B = kBlankGlyph;

struct CellsCase {
    int value;
    std::array<int, kDigitCount> cells;
};

class ReadoutCells : public ::testing::TestWithParam<CellsCase> {};

TEST_P(ReadoutCells, RightAlignedDigitsWithBlankLeaders) {
    EXPECT_EQ(ReadoutGlyphs(GetParam().value), GetParam().cells) << GetParam().value;
}

INSTANTIATE_TEST_SUITE_P(
    Values, ReadoutCells,
    ::testing::Values(CellsCase{0, {B, B, B, B, 0}}, CellsCase{7, {B, B, B, B, 7}},
                      CellsCase{10, {B, B, B, 1, 0}}, CellsCase{12345, {1, 2, 3, 4, 5}},
                      CellsCase{99999, {9, 9, 9, 9, 9}}, CellsCase{100000, {B, B, B, B, B}},
                      CellsCase{-1, {B, B, B, B, B}}, CellsCase{-5, {B, B, B, B, B}},
                      CellsCase{INT_MIN, {B, B, B, B, B}}, CellsCase{INT_MAX, {B, B, B, B, B}}));

TEST(GlyphStretch, EnlargingRepeatsEverySourcePixelInOrder) {
    for (int length : {13, 14, 16, 29, 46}) {
        std::set<int> used;
        int previous = 0;
        for (int d = 0; d < length; ++d) {
            const int s = StretchSource(d, 13, length);
            EXPECT_GE(s, previous);
            EXPECT_LE(s - previous, 1);
            used.insert(s);
            previous = s;
        }
        EXPECT_EQ(used.size(), 13u) << length;
        EXPECT_EQ(StretchSource(0, 13, length), 0);
        EXPECT_EQ(StretchSource(length - 1, 13, length), 12);
    }
    // 14 columns from 13: only the first source column is doubled.
    EXPECT_EQ(StretchSource(1, 13, 14), 0);
    EXPECT_EQ(StretchSource(2, 13, 14), 1);
}

TEST(GlyphStretch, KeepsTheGlyphsOwnColoursAtAnySize) {
    const QImage glyph = DigitGlyphImage(8);
    EXPECT_EQ(StretchGlyph(glyph, 13, 23), glyph);
    for (QSize size : {QSize(10, 18), QSize(14, 30), QSize(29, 42)}) {
        const QImage out = StretchGlyph(glyph, size.width(), size.height());
        ASSERT_EQ(out.size(), size);
        for (int y = 0; y < size.height(); ++y)
            for (int x = 0; x < size.width(); ++x)
                ASSERT_EQ(out.pixel(x, y), glyph.pixel(StretchSource(x, 13, size.width()),
                                                       StretchSource(y, 23, size.height())));
    }
    EXPECT_TRUE(StretchGlyph(glyph, 0, 23).isNull());
}

// A readout whose client area is width x height pixels, on a background the erase shows.
struct Readout {
    explicit Readout(int width, int height) {
        QPalette palette = display.palette();
        palette.setColor(QPalette::Window, kBackground);
        display.setPalette(palette);
        display.resize(width + 2 * CDigitDisplay::kFramePx, height + 2 * CDigitDisplay::kFramePx);
    }
    // What a paint puts in the client area, in client coordinates.
    QImage Client() {
        return display.grab()
            .toImage()
            .convertToFormat(QImage::Format_RGB32)
            .copy(display.ClientRect());
    }
    static constexpr QRgb kBackground = qRgb(10, 200, 30);
    CDigitDisplay display;
};

void ExpectCell(const QImage& client, int x0, int cellWidth, int glyph) {
    const QImage expected = StretchGlyph(DigitGlyphImage(glyph), cellWidth, client.height());
    for (int y = 0; y < client.height(); ++y)
        for (int x = 0; x < cellWidth; ++x)
            ASSERT_EQ(client.pixel(x0 + x, y), expected.pixel(x, y))
                << "glyph " << glyph << " cell at " << x0 << ", pixel " << x << "," << y;
}

TEST(DigitDisplayPaint, CellsOf72PixelsAre14WideAndLeaveTheLastTwoColumns) {
    Readout readout(72, 30);
    readout.display.SetValue(12345, false);
    const QImage client = readout.Client();
    ASSERT_EQ(client.width(), 72);
    const int xs[] = {0, 14, 28, 42, 56};
    for (int cell = 0; cell < kDigitCount; ++cell)
        ExpectCell(client, xs[cell], 14, cell + 1);
    for (int y = 0; y < client.height(); ++y) {
        EXPECT_EQ(client.pixel(70, y), Readout::kBackground) << y;
        EXPECT_EQ(client.pixel(71, y), Readout::kBackground) << y;
    }
}

TEST(DigitDisplayPaint, UnsetReadoutShowsZeroAndMinusOneShowsBlanks) {
    Readout readout(80, 40);
    QImage client = readout.Client();
    for (int cell = 0; cell < 4; ++cell)
        ExpectCell(client, cell * 16, 16, kBlankGlyph);
    ExpectCell(client, 64, 16, 0);
    readout.display.SetValue(-1, false);
    client = readout.Client();
    for (int cell = 0; cell < kDigitCount; ++cell)
        ExpectCell(client, cell * 16, 16, kBlankGlyph);
}

// Counts the paints a widget receives.
struct PaintCounter : QObject {
    bool eventFilter(QObject*, QEvent* event) override {
        paints += event->type() == QEvent::Paint;
        return false;
    }
    int paints = 0;
};

QImage OnScreen(QWidget& widget) {
    return widget.screen()
        ->grabWindow(widget.winId())
        .toImage()
        .convertToFormat(QImage::Format_RGB32);
}

TEST(DigitDisplayPaint, ValueWithoutRedrawWaitsForTheNextPaint) {
    Readout readout(72, 30);
    readout.display.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&readout.display));
    QApplication::processEvents();
    const QImage before = OnScreen(readout.display);
    PaintCounter counter;
    readout.display.installEventFilter(&counter);

    EXPECT_FALSE(readout.display.SetValue(42, false));
    QApplication::processEvents();
    EXPECT_EQ(counter.paints, 0);
    EXPECT_EQ(OnScreen(readout.display), before);

    readout.display.repaint();
    EXPECT_EQ(counter.paints, 1);
    const QImage after = OnScreen(readout.display);
    EXPECT_NE(after, before);
    ExpectCell(after.copy(readout.display.ClientRect()), 42, 14, 4);
}

TEST(DigitDisplayPaint, ValueWithRedrawIsOnScreenWhenTheCallReturns) {
    Readout readout(72, 30);
    readout.display.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&readout.display));
    QApplication::processEvents();
    PaintCounter counter;
    readout.display.installEventFilter(&counter);

    EXPECT_TRUE(readout.display.SetValue(98765, true));
    EXPECT_EQ(counter.paints, 1);
    const QImage client = OnScreen(readout.display).copy(readout.display.ClientRect());
    for (int cell = 0; cell < kDigitCount; ++cell)
        ExpectCell(client, cell * 14, 14, 9 - cell);
}

TEST(DigitDisplayPaint, PaintOfTheCellsAloneLooksLikeAWholePaint) {
    Readout readout(72, 30);
    readout.display.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&readout.display));
    QApplication::processEvents();
    readout.display.SetValue(31415, false);
    readout.display.update(readout.display.ClientRect());
    QApplication::processEvents();
    const QImage cellsOnly = OnScreen(readout.display);
    ExpectCell(cellsOnly.copy(readout.display.ClientRect()), 0, 14, 3);
    readout.display.repaint();
    EXPECT_EQ(OnScreen(readout.display), cellsOnly);
}

} // namespace
