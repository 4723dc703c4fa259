#include "scope/scope.h"

#include <algorithm>
#include <cstdio>

namespace {

// Room for the longest label: 10 digits and four 3-byte characters.
constexpr size_t kLabelBytes = 64;

struct TraceLayout {
    int start = 0;      // first frame shown
    int pointCount = 0; // K, the points the width calls for
    float timeScale = 2.0f;
};

// One trace: point n at (trunc(n x scale), yOf(start + n)), joined by lines from a move to
// the first point. The trace stops at the last frame of the sample area even when the width
// calls for more points (a late trigger with the finest time base).
template <class YOfFrame>
void DrawTrace(CCanvas& canvas, const TraceLayout& layout, ColorRef color, YOfFrame yOf) {
    canvas.SelectPen(color);
    const int points = std::min(layout.pointCount, kScopeFrames - layout.start);
    canvas.MoveTo(0, yOf(layout.start));
    for (int n = 0; n < points; ++n) {
        canvas.LineTo(TracePointX(n, layout.timeScale), yOf(layout.start + n));
    }
}

void DrawTimeBaseLabel(CCanvas& canvas, int x, int pointCount, int gridColumns, const char* unit) {
    char text[kLabelBytes];
    FormatTimeBaseLabel(text, sizeof text, pointCount, gridColumns, unit);
    canvas.TextOut(x, 10, text);
}

} // namespace

void DrawScopeGrid(CCanvas& canvas, const ScopeSettings& settings, const ScopeDerived& derived) {
    const int w = canvas.Width();
    const int h = canvas.Height();
    canvas.SelectPen(settings.colorGrid);
    for (int i = 0; i <= derived.gridRows; ++i) {
        const int y = GridLinePosition(i, derived.gridRows, h);
        canvas.MoveTo(0, y);
        canvas.LineTo(w - 1, y);
    }
    for (int j = 0; j <= derived.gridColumns; ++j) {
        const int x = GridLinePosition(j, derived.gridColumns, w);
        canvas.MoveTo(x, 0);
        canvas.LineTo(x, h - 1);
    }
}

void DrawTimeTraces(CCanvas& canvas, const int16_t* samples, const ScopeSettings& settings,
                    const ScopeDerived& d) {
    const int w = canvas.Width();
    const int yc = canvas.Height() / 2;
    const int mode = settings.scopeMode;
    const auto channelY = [&](int channel, float scale, int divisor, int offset) {
        return [=](int frame) {
            return SampleY(samples[2 * frame + channel], scale, divisor, yc, offset);
        };
    };

    TraceLayout x1{0, TracePointCount(d.timeScaleX1, w), d.timeScaleX1};
    if (mode == kScopeModeSum) {
        // Each channel keeps its own scale and divisor; baseline and time base are X1's.
        const int div1 = std::max(settings.gainDivX1, 1);
        const int div2 = std::max(settings.gainDivX2, 1);
        DrawTrace(canvas, x1, settings.colorX1, [&](int frame) {
            const double l = double(samples[2 * frame]) * double(d.ampScaleX1) / div1;
            const double r = double(samples[2 * frame + 1]) * double(d.ampScaleX2) / div2;
            return int(l + r + double(yc + d.offsetX1));
        });
        DrawTimeBaseLabel(canvas, 10, x1.pointCount, d.gridColumns, settings.timeBaseUnit);
        return;
    }

    x1.start = settings.syncX1 ? FindTriggerStart(samples, 0) : 0;
    DrawTrace(canvas, x1, settings.colorX1,
              channelY(0, d.ampScaleX1, settings.gainDivX1, d.offsetX1));
    if (mode == kScopeModeX1X2) {
        TraceLayout x2{settings.syncX2 ? FindTriggerStart(samples, 1) : 0,
                       TracePointCount(d.timeScaleX2, w), d.timeScaleX2};
        DrawTrace(canvas, x2, settings.colorX2,
                  channelY(1, d.ampScaleX2, settings.gainDivX2, d.offsetX2));
        DrawTimeBaseLabel(canvas, 10, x1.pointCount, d.gridColumns, settings.timeBaseUnit);
        DrawTimeBaseLabel(canvas, 150, x2.pointCount, d.gridColumns, settings.timeBaseUnit);
        return;
    }
    DrawTimeBaseLabel(canvas, 10, x1.pointCount, d.gridColumns, settings.timeBaseUnit);
}

ScopeDerived ComposeScopeFrame(CCanvas& canvas, int width, int height, const int16_t* samples,
                               const ScopeSettings& settings, const ScopeFrameHook& onFrameDone) {
    canvas.Resize(width, height); // also puts back the default pen and brush
    const ScopeDerived derived = DeriveScopeFields(settings.sliders);
    if (canvas.Width() == 0) {
        return derived; // no drawing area, nothing to show or save
    }
    // Background and grid change only with their settings: kept once, then put back where the
    // frame last composed on this canvas drew over them. What follows selects its own pens and
    // starts with a MoveTo.
    const CCanvas::BackdropKey backdrop{settings.colorBack, settings.colorGrid,
                                        uint32_t(derived.gridRows), uint32_t(derived.gridColumns)};
    if (!canvas.RestoreBackdrop(backdrop)) {
        canvas.SelectBrush(settings.colorBack);
        canvas.Rectangle(0, 0, width, height); // outlined with the default black pen
        DrawScopeGrid(canvas, settings, derived);
        canvas.KeepBackdrop(backdrop);
    }
    switch (settings.scopeMode) {
    case kScopeModeX:
    case kScopeModeX1X2:
    case kScopeModeSum:
        DrawTimeTraces(canvas, samples, settings, derived);
        break;
    case kScopeModeXY:
        DrawXYFigure(canvas, samples, settings, derived);
        break;
    case kScopeModeSpectrum:
        DrawSpectra(canvas, samples, settings, derived);
        break;
    default:
        break;
    }
    if (onFrameDone) {
        onFrameDone(canvas);
    }
    return derived;
}
