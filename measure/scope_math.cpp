#include "measure/scope_math.h"

#include "base/full_scale.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

int Clamp(int v, int lo, int hi) {
    return std::min(std::max(v, lo), hi);
}

} // namespace

ScopeDerived DeriveScopeFields(const ScopeSliderPositions& s) {
    ScopeDerived d;
    d.gridColumns = Clamp(s.gridColumns, 1, 40);
    d.gridRows = Clamp(s.gridRows, 1, 40);
    d.ampScaleX1 = float(20.0 / Clamp(s.ampX1, 20, 80));
    d.ampScaleX2 = float(20.0 / Clamp(s.ampX2, 20, 80));
    d.timeScaleX1 = float(Clamp(s.timeX1, 1, 40) * 0.5);
    d.timeScaleX2 = float(Clamp(s.timeX2, 1, 40) * 0.5);
    d.offsetX1 = Clamp(s.offsetX1, 1, 300) - 150;
    d.offsetX2 = Clamp(s.offsetX2, 1, 300) - 150;
    return d;
}

int GridLinePosition(int index, int divisions, int extent) {
    return index * (extent - 1) / std::max(divisions, 1);
}

int TracePointCount(float timeScale, int width) {
    if (width <= 0 || !(timeScale > 0.0f)) {
        return 0;
    }
    // The estimate is exact for the slider's half-pixel steps; the loops settle any rounding so
    // that the count is the one the n x scale >= width comparison gives.
    const double s = timeScale;
    const double estimate = std::ceil(width / s);
    if (estimate > 1e9) { // far more points than any sample area holds
        return 1000000000;
    }
    int n = int(estimate);
    while (n > 0 && double(n - 1) * s >= width) {
        --n;
    }
    while (double(n) * s < width) {
        ++n;
    }
    return n;
}

double ScopeVoltsPerDivision(float ampScale, int gainDivisor, int extentPx, int divisions,
                             double vrmsAt0Dbfs) {
    if (!(ampScale > 0.0f) || extentPx < 2) {
        return 0;
    }
    const double pixelsPerDivision = double(extentPx - 1) / std::max(divisions, 1);
    const double pixelsPerUnit = double(ampScale) / std::max(gainDivisor, 1);
    return pixelsPerDivision / pixelsPerUnit * std::sqrt(2.0) * vrmsAt0Dbfs / kFullScale;
}

int FindTriggerStart(const int16_t* frames, int channel) {
    const int16_t* v = frames + channel;
    int peak = 0;
    for (int k = 0; k < kTriggerSearchFrames; ++k) {
        peak = std::max(peak, int(v[2 * k]));
    }
    const int half = peak / 2;
    for (int k = 0; k < kTriggerSearchFrames; ++k) {
        if (v[2 * k] <= half && v[2 * (k + 1)] > half) {
            return k;
        }
    }
    return 0;
}

int TimeBaseMicroseconds(int pointCount, int gridColumns) {
    return int(pointCount * kMicrosecondsPerSample / std::max(gridColumns, 1) + 0.5);
}

int FormatTimeBaseLabel(char* out, size_t size, int pointCount, int gridColumns, const char* unit) {
    return std::snprintf(out, size, "%d%s", TimeBaseMicroseconds(pointCount, gridColumns), unit);
}

int FormatSpectrumLabel(char* out, size_t size, int gridColumns, const char* unit) {
    return std::snprintf(out, size, "%d%s", kSpectrumSpanHz / std::max(gridColumns, 1), unit);
}
