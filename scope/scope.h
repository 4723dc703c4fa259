#pragma once
// One oscilloscope frame: background, grid, then the picture of the selected mode, composed on
// a raster the caller owns. The panel's DrawScope gathers the settings, calls ComposeScopeFrame
// and publishes the result; the screen-save step runs from the finished-frame hook.
//
// Threads: runs on the capture worker. It reads only the snapshot it is given and writes only
// the caller's canvas and the returned fields; it touches no widget. The canvas is reused from
// frame to frame, so nothing is allocated per frame once its size is settled (the label text
// goes through Qt's text layout, which keeps its own caches).

#include "gfx/canvas.h"
#include "measure/scope_math.h"

#include <cstdint>
#include <functional>

// Mode codes of the panel's oscilloscope radios.
enum ScopeMode : int {
    kScopeModeX = 1,
    kScopeModeX1X2 = 2,
    kScopeModeSum = 3,
    kScopeModeXY = 4,
    kScopeModeSpectrum = 5,
};

// Everything a frame depends on, read once at its start.
struct ScopeSettings {
    ScopeSliderPositions sliders;
    int scopeMode = kScopeModeX; // any other value than 1..5 shows background and grid only
    ColorRef colorX1 = 0x0000FF00;
    ColorRef colorX2 = 0x000000FF;
    ColorRef colorGrid = 0x00808080;
    ColorRef colorBack = 0x00000000;
    int gainDivX1 = 1; // 1, 2, 4, 8, 16, 32 for 0 .. -30 dB
    int gainDivX2 = 1;
    bool syncX1 = false; // trigger search on X1 / on X2
    bool syncX2 = false;
    // Units of the screen's labels, UTF-8; they must outlive the frame.
    const char* timeBaseUnit = kTimeBaseUnit;
    const char* spectrumUnit = kSpectrumUnit;
};

// Called once the frame is complete, with the finished raster, before ComposeScopeFrame
// returns. The panel publishes the frame and runs the save-screen step from here.
using ScopeFrameHook = std::function<void(const CCanvas& frame)>;

// Composes the width x height frame (560 x 381 on the panel) from `samples`, the interleaved
// sample area of kScopeFrames frames (X1, X2). Returns the fields refreshed from the sliders
// for the panel to store. `onFrameDone` may be empty.
ScopeDerived ComposeScopeFrame(CCanvas& canvas, int width, int height, const int16_t* samples,
                               const ScopeSettings& settings, const ScopeFrameHook& onFrameDone);

// The parts of a frame, for ComposeScopeFrame and for tests. All take the frame's geometry from
// the canvas and its centre line yc = height / 2.
void DrawScopeGrid(CCanvas& canvas, const ScopeSettings& settings, const ScopeDerived& derived);
void DrawTimeTraces(CCanvas& canvas, const int16_t* samples, const ScopeSettings& settings,
                    const ScopeDerived& derived);
void DrawXYFigure(CCanvas& canvas, const int16_t* samples, const ScopeSettings& settings,
                  const ScopeDerived& derived);
void DrawSpectra(CCanvas& canvas, const int16_t* samples, const ScopeSettings& settings,
                 const ScopeDerived& derived);
