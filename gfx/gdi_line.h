#pragma once
// Which pixels a 1-pixel solid line lights, by the rule the platform's cosmetic lines follow.
// Pure integer code, no Qt: usable from any thread.
//
// The rule (grid-intersection diamond convention, integer end points):
//   - The line from (x0, y0) to (x1, y1) lights one pixel per step along its major axis
//     (x when |dx| >= |dy|, otherwise y), starting with (x0, y0) and stopping before (x1, y1):
//     max(|dx|, |dy|) pixels, the end pixel excluded. A zero-length line lights nothing.
//   - On each step the minor coordinate is the one nearest to the ideal line.
//   - When the ideal line passes exactly half-way between two pixels, the one with the smaller
//     coordinate wins: the upper one on x-major lines, the left one on y-major lines. This holds
//     whichever way the line is drawn, so a walk toward smaller minor coordinates steps early
//     on a tie and a walk toward larger ones steps late (the usual Bresenham "bias").
//   - Clipping to the raster only drops pixels; the visible ones are the same as unclipped.

#include <algorithm>
#include <cstdint>

namespace gdi_line_detail {

using Wide = __int128;

inline Wide FloorDiv(Wide a, Wide b) { // b > 0
    Wide q = a / b;
    return (a % b != 0 && a < 0) ? q - 1 : q;
}
inline Wide CeilDiv(Wide a, Wide b) { // b > 0
    return -FloorDiv(-a, b);
}

} // namespace gdi_line_detail

// Calls plot(x, y) for every pixel of the line inside [0, width) x [0, height), in drawing order.
// Coordinates may lie anywhere in the int range; the set-up is exact, so far-off end points
// cost no more than near ones.
template <class Plot>
void ForEachGdiLinePixel(int x0, int y0, int x1, int y1, int width, int height, Plot&& plot) {
    using gdi_line_detail::CeilDiv;
    using gdi_line_detail::FloorDiv;
    using Wide = gdi_line_detail::Wide;
    const int64_t dx = int64_t(x1) - x0;
    const int64_t dy = int64_t(y1) - y0;
    const int64_t adx = dx < 0 ? -dx : dx;
    const int64_t ady = dy < 0 ? -dy : dy;
    if ((adx == 0 && ady == 0) || width <= 0 || height <= 0) {
        return;
    }
    const bool xMajor = adx >= ady;
    const int64_t dMajor = xMajor ? adx : ady; // pixels to light before clipping
    const int64_t dMinor = xMajor ? ady : adx;
    const int64_t stepMajor = (xMajor ? dx : dy) < 0 ? -1 : 1;
    const int64_t stepMinor = (xMajor ? dy : dx) < 0 ? -1 : 1;
    const int64_t major0 = xMajor ? x0 : y0;
    const int64_t minor0 = xMajor ? y0 : x0;
    const int64_t majorLimit = xMajor ? width : height;
    const int64_t minorLimit = xMajor ? height : width;

    // Minor offset after t steps: q(t) = floor((2 t dMinor + dMajor - late) / (2 dMajor)),
    // where late = 1 rounds exact halves down (a walk toward larger minor coordinates).
    const int64_t late = stepMinor > 0 ? 1 : 0;

    // Steps whose major coordinate is on the raster.
    Wide tFirst = 0;
    Wide tLast = dMajor - 1;
    if (stepMajor > 0) {
        tFirst = std::max<Wide>(tFirst, -major0);
        tLast = std::min<Wide>(tLast, majorLimit - 1 - major0);
    } else {
        tFirst = std::max<Wide>(tFirst, major0 - (majorLimit - 1));
        tLast = std::min<Wide>(tLast, major0);
    }
    // Steps whose minor coordinate is on the raster: q(t) is non-decreasing, so this is a range.
    const Wide qLow = stepMinor > 0 ? -minor0 : minor0 - (minorLimit - 1);
    const Wide qHigh = stepMinor > 0 ? minorLimit - 1 - minor0 : minor0;
    if (dMinor == 0) {
        if (qLow > 0 || qHigh < 0) {
            return;
        }
    } else {
        const Wide twoMajor = Wide(2) * dMajor;
        const Wide twoMinor = Wide(2) * dMinor;
        const Wide tq = CeilDiv(twoMajor * qLow - dMajor + late, twoMinor);
        const Wide tr = CeilDiv(twoMajor * (qHigh + 1) - dMajor + late, twoMinor) - 1;
        tFirst = std::max(tFirst, tq);
        tLast = std::min(tLast, tr);
    }
    if (tFirst > tLast) {
        return;
    }

    // Incremental walk from the first visible step; the remainder stays in [0, 2 dMajor).
    const int64_t t0 = int64_t(tFirst);
    const Wide num = Wide(2) * t0 * dMinor + dMajor - late;
    int64_t q = int64_t(FloorDiv(num, Wide(2) * dMajor));
    int64_t rem = int64_t(num - Wide(q) * 2 * dMajor);
    int64_t major = major0 + stepMajor * t0;
    int64_t minor = minor0 + stepMinor * q;
    const int64_t twoMajor = 2 * dMajor;
    const int64_t twoMinor = 2 * dMinor;
    const auto walk = [&](auto plotMajorMinor) {
        for (int64_t t = t0; t <= int64_t(tLast); ++t) {
            plotMajorMinor(int(major), int(minor));
            major += stepMajor;
            rem += twoMinor;
            if (rem >= twoMajor) {
                rem -= twoMajor;
                minor += stepMinor;
            }
        }
    };
    // Two instances of the walk, so the axis choice stays out of the per-pixel loop.
    if (xMajor) {
        walk([&](int a, int b) { plot(a, b); });
    } else {
        walk([&](int a, int b) { plot(b, a); });
    }
}
