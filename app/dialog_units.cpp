#include "app/dialog_units.h"

#include <QRect>

#include <cstdlib>

int MulDiv(int a, int b, int c) {
    const long long product = static_cast<long long>(a) * b;
    const long long magnitude = (std::llabs(product) * 2 + std::llabs(c)) / (2 * std::llabs(c));
    const bool negative = (product < 0) != (c < 0);
    return static_cast<int>(negative ? -magnitude : magnitude);
}

PixelRect DialogUnitsToPixels(const DluRect& r, DialogBaseUnits base) {
    return {MulDiv(r.x, base.x, 4), MulDiv(r.y, base.y, 8), MulDiv(r.width, base.x, 4),
            MulDiv(r.height, base.y, 8)};
}

QRect DialogUnitsToRect(const DluRect& r, DialogBaseUnits base) {
    const PixelRect p = DialogUnitsToPixels(r, base);
    return {p.x, p.y, p.width, p.height};
}
