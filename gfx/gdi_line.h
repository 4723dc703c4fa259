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
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>

namespace gdi_line_detail {

// Coordinates and sizes up to this magnitude keep the clipping set-up's products far inside
// int64_t.
inline constexpr int64_t kNarrowLimit = int64_t(1) << 24;

template <class Wide> Wide FloorDiv(Wide a, Wide b) { // b > 0
    Wide q = a / b;
    return (a % b != 0 && a < 0) ? q - 1 : q;
}
template <class Wide> Wide CeilDiv(Wide a, Wide b) { // b > 0
    return -FloorDiv(-a, b);
}

// The steps of a line that light a pixel on the raster, t0 .. tLast, and the walk's state at t0:
// the minor offset q(t0) and the remainder, in [0, 2 dMajor).
struct VisibleSteps {
    int64_t t0;
    int64_t tLast;
    int64_t q;
    int64_t rem;
};

// Nothing when no step is on the raster. Wide must hold products of two coordinate differences:
// __int128 for any int end points, int64_t while they stay within kNarrowLimit.
template <class Wide>
std::optional<VisibleSteps> ClipSteps(int64_t dMajor, int64_t dMinor, int64_t stepMajor,
                                      int64_t stepMinor, int64_t major0, int64_t minor0,
                                      int64_t majorLimit, int64_t minorLimit, int64_t late) {
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
            return std::nullopt;
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
        return std::nullopt;
    }
    // The walk starts at the first visible step.
    const int64_t t0 = int64_t(tFirst);
    const Wide num = Wide(2) * t0 * dMinor + dMajor - late;
    const int64_t q = int64_t(FloorDiv(num, Wide(2) * dMajor));
    return VisibleSteps{t0, int64_t(tLast), q, int64_t(num - Wide(q) * 2 * dMajor)};
}

} // namespace gdi_line_detail

// The pixels a line lit lie in the box of its first and last (the walk only ever moves toward
// its end): [left, right) x [top, bottom), empty when it lit none.
struct GdiLineBox {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
};

// Calls plot(y * stride + x) for every pixel (x, y) of the line inside [0, width) x [0, height),
// in drawing order, and answers the box of those pixels.
// Coordinates may lie anywhere in the int range; the set-up is exact, so far-off end points
// cost no more than near ones.
template <class Plot>
GdiLineBox ForEachGdiLinePixel(int x0, int y0, int x1, int y1, int width, int height,
                               std::ptrdiff_t stride, Plot&& plot) {
    const int64_t dx = int64_t(x1) - x0;
    const int64_t dy = int64_t(y1) - y0;
    const int64_t adx = dx < 0 ? -dx : dx;
    const int64_t ady = dy < 0 ? -dy : dy;
    if ((adx == 0 && ady == 0) || width <= 0 || height <= 0) {
        return {};
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

    // A line with both ends on the raster (every trace segment on screen) is visible from its
    // first step to its last, where q(0) = 0 and the remainder is dMajor - late: the clipping
    // set-up of ClipSteps, in 128-bit arithmetic, would only find the same.
    const bool inside = x0 >= 0 && x0 < width && x1 >= 0 && x1 < width && y0 >= 0 && y0 < height &&
                        y1 >= 0 && y1 < height;
    gdi_line_detail::VisibleSteps steps{0, dMajor - 1, 0, dMajor - late};
    if (!inside) {
        // All its pixels lie between its ends: a line with both beyond one edge shows none.
        if ((x0 < 0 && x1 < 0) || (y0 < 0 && y1 < 0) || (x0 >= width && x1 >= width) ||
            (y0 >= height && y1 >= height)) {
            return {};
        }
        using gdi_line_detail::kNarrowLimit;
        const bool narrow =
            std::max({std::abs(int64_t(x0)), std::abs(int64_t(y0)), std::abs(int64_t(x1)),
                      std::abs(int64_t(y1)), int64_t(width), int64_t(height)}) <= kNarrowLimit;
        const auto clipped =
            narrow
                ? gdi_line_detail::ClipSteps<int64_t>(dMajor, dMinor, stepMajor, stepMinor, major0,
                                                      minor0, majorLimit, minorLimit, late)
                : gdi_line_detail::ClipSteps<__int128>(dMajor, dMinor, stepMajor, stepMinor, major0,
                                                       minor0, majorLimit, minorLimit, late);
        if (!clipped) {
            return {};
        }
        steps = *clipped;
    }
    // Incremental walk from the first visible step, on the pixel's index: a step along the major
    // axis moves it by one pixel or one row, and so does a step along the minor one.
    const int64_t major = major0 + stepMajor * steps.t0;
    const int64_t minor = minor0 + stepMinor * steps.q;
    std::ptrdiff_t index = xMajor ? minor * stride + major : major * stride + minor;
    const std::ptrdiff_t majorStep = (xMajor ? 1 : stride) * stepMajor;
    const std::ptrdiff_t minorStep = (xMajor ? stride : 1) * stepMinor;
    const int64_t twoMajor = 2 * dMajor;
    const int64_t twoMinor = 2 * dMinor;
    int64_t rem = steps.rem;
    const std::ptrdiff_t firstIndex = index;
    std::ptrdiff_t lastIndex = index;
    for (int64_t t = steps.t0; t <= steps.tLast; ++t) {
        plot(index);
        lastIndex = index;
        index += majorStep;
        rem += twoMinor;
        if (rem >= twoMajor) {
            rem -= twoMajor;
            index += minorStep;
        }
    }
    const int firstX = int(firstIndex % stride);
    const int firstY = int(firstIndex / stride);
    const int lastX = int(lastIndex % stride);
    const int lastY = int(lastIndex / stride);
    return {std::min(firstX, lastX), std::min(firstY, lastY), std::max(firstX, lastX) + 1,
            std::max(firstY, lastY) + 1};
}
