#pragma once
// The arithmetic of the oscilloscope frame as plain functions: settings derived from slider
// positions, grid lines, horizontal and vertical mapping, trigger search and label texts.
// No state, no Qt: callable from any thread.

#include "base/pcm_format.h"

#include <cstddef>
#include <cstdint>

// Frames in the panel's sample area, one block; each frame is an X1 sample then an X2 sample.
inline constexpr int kScopeFrames = kBlockFrames;
// Frames the trigger search looks at for the peak and for the crossing.
inline constexpr int kTriggerSearchFrames = 1000;
// Length of one sample in microseconds (22.675736961451246).
inline constexpr double kMicrosecondsPerSample = 1e6 / kSampleRate;
// Half the sample rate: the width of the spectrum view in hertz.
inline constexpr int kSpectrumSpanHz = kSampleRate / 2;

// Slider positions as the panel's sliders report them (start values in the initialisers).
struct ScopeSliderPositions {
    int ampX1 = 20; // 20..80
    int ampX2 = 20;
    int timeX1 = 4; // 1..40
    int timeX2 = 4;
    int offsetX1 = 150; // 1..300
    int offsetX2 = 150;
    int gridColumns = 10; // 1..40
    int gridRows = 10;
};

// The panel fields that follow the sliders, refreshed at the start of every frame.
struct ScopeDerived {
    int gridColumns = 10;
    int gridRows = 10;
    float ampScaleX1 = 1.0f; // vertical pixels per sample unit, before the gain divisor
    float ampScaleX2 = 1.0f;
    float timeScaleX1 = 2.0f; // horizontal pixels per sample
    float timeScaleX2 = 2.0f;
    int offsetX1 = 0; // pixels, positive moves the baseline down
    int offsetX2 = 0;
};

// Positions outside a slider's range are taken as its nearest end, as the slider itself would
// report them; that keeps every divisor in the frame at 1 or more.
ScopeDerived DeriveScopeFields(const ScopeSliderPositions& sliders);

// Position of grid line `index` (0..divisions) across an extent of pixels: the first line on
// pixel 0, the last on pixel extent - 1.
int GridLinePosition(int index, int divisions, int extent);

// Points in a trace of `timeScale` pixels per sample across `width` pixels: the smallest n with
// n x timeScale >= width (0 when width <= 0).
int TracePointCount(float timeScale, int width);
// x of trace point n.
inline int TracePointX(int n, float timeScale) {
    return int(double(n) * double(timeScale));
}

// y of a sample: positive samples below the centre line yc, moved down by offset pixels.
// `gainDivisor` below 1 is taken as 1.
inline int SampleY(int sample, float ampScale, int gainDivisor, int yc, int offset) {
    const int d = gainDivisor < 1 ? 1 : gainDivisor;
    return int(double(sample) * double(ampScale) / d + double(yc + offset));
}

// Volts one grid division stands for on a trace drawn at ampScale pixels per sample unit and
// divided by gainDivisor, across extentPx pixels cut into `divisions` (rows for a trace, columns
// for X1 across the X-Y figure). A sample of 32768 is the crest of a 0 dBFS sine, so one sample
// unit is sqrt(2) x vrmsAt0Dbfs / 32768 volts; the grid's lines sit (extentPx - 1) / divisions
// pixels apart on average. Nothing sensible for a non-positive scale or extent: 0 then.
double ScopeVoltsPerDivision(float ampScale, int gainDivisor, int extentPx, int divisions,
                             double vrmsAt0Dbfs);

// First frame of a trace with the trigger on: the first k in 0..999 where the channel rises
// from at or below half its non-negative peak (over frames 0..999) to above it; 0 when none.
// `frames` is the interleaved sample area, `channel` 0 for X1 and 1 for X2. Reads frames
// 0..1000 only.
int FindTriggerStart(const int16_t* frames, int channel);

// The labels' units in the program's own language; a translation may stand in for them.
inline constexpr const char* kTimeBaseUnit = "微秒每格";
inline constexpr const char* kSpectrumUnit = "HZ每格";

// "%d微秒每格" of the time per grid column for a trace of pointCount points, with `unit` (UTF-8)
// after the number; UTF-8 into out. Returns the text's length in bytes, as snprintf does.
int FormatTimeBaseLabel(char* out, size_t size, int pointCount, int gridColumns,
                        const char* unit = kTimeBaseUnit);
// "%d微秒每格"'s value alone: trunc(pointCount x 22.675736961451246 / gridColumns + 0.5).
int TimeBaseMicroseconds(int pointCount, int gridColumns);
// "%d" of 22050 / gridColumns (integer division) followed by `unit`, "HZ每格" untranslated.
int FormatSpectrumLabel(char* out, size_t size, int gridColumns, const char* unit = kSpectrumUnit);

// x of spectrum bin i (0..511) across width pixels.
inline int SpectrumBinX(int bin, int width) {
    return int(double(bin * width) * 0.001953125);
}
