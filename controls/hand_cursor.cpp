#include "controls/hand_cursor.h"

#include <QBitmap>
#include <QImage>

namespace {

// '#' outline, 'o' fill, anything else clear; rows shorter than the cursor are clear beyond.
constexpr const char* kHandRows[] = {
    ".##",
    "#oo#",
    "#oo#",
    "#oo#",
    "#oo#",
    "#oo#.##",
    "#oo##oo#.##",
    "#oo#ooo##oo#.##",
    "#oo#ooo#ooo##oo#",
    "#oo#ooo#ooo#ooo#",
    "#oooooooooooooo#.##",
    "#oooooooooooooo##oo#",
    "#oooooooooooooooooo#",
    ".#ooooooooooooooooo#",
    ".#oooooooooooooooo#",
    "..#ooooooooooooooo#",
    "..#oooooooooooooo#",
    "...#ooooooooooooo#",
    "...#ooooooooooooo#",
    "...#ooooooooooooo#",
    "...###############",
};

} // namespace

CursorPixels HandCursorPixels() {
    CursorPixels pixels{};
    int y = 0;
    for (const char* row : kHandRows) {
        for (int x = 0; row[x] != '\0' && x < kHandCursorSize; ++x)
            pixels[y][x] = row[x] == '#'   ? kCursorBlack
                           : row[x] == 'o' ? kCursorWhite
                                           : kCursorClear;
        ++y;
    }
    return pixels;
}

QCursor HandCursor() {
    // A cursor bitmap bit of 1 is black and 0 white; the mask says which pixels show at all.
    QImage bits(kHandCursorSize, kHandCursorSize, QImage::Format_Mono);
    QImage mask(kHandCursorSize, kHandCursorSize, QImage::Format_Mono);
    const QList<QRgb> table = {qRgb(255, 255, 255), qRgb(0, 0, 0)};
    bits.setColorTable(table);
    mask.setColorTable(table);
    bits.fill(0);
    mask.fill(0);
    const CursorPixels pixels = HandCursorPixels();
    for (int y = 0; y < kHandCursorSize; ++y) {
        for (int x = 0; x < kHandCursorSize; ++x) {
            if (pixels[y][x] == kCursorClear)
                continue;
            mask.setPixel(x, y, 1);
            bits.setPixel(x, y, pixels[y][x] == kCursorBlack ? 1 : 0);
        }
    }
    return QCursor(QBitmap::fromImage(bits), QBitmap::fromImage(mask), 0, 0);
}
