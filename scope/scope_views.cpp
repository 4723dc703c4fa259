// The two views that are not plots against time: X1 against X2, and the two spectra.
#include "measure/fft.h"
#include "scope/scope.h"

#include <algorithm>

namespace {

// Spectrum polyline growing upward from `base` - `lift` pixels: one vertex per bin, the first
// drawn onto itself as a trace's is.
void DrawSpectrum(CCanvas& canvas, const float* magnitudes, ColorRef color, float scale,
                  int divisor, int base, int lift) {
    const int w = canvas.Width();
    const int d = std::max(divisor, 1);
    canvas.SelectPen(color);
    const auto y = [&](int i) {
        return int(double(base) - double(magnitudes[i]) * double(scale) / d - lift);
    };
    canvas.MoveTo(SpectrumBinX(0, w), y(0));
    for (int i = 0; i < kSpectrumBins; ++i) {
        canvas.LineTo(SpectrumBinX(i, w), y(i));
    }
}

} // namespace

void DrawXYFigure(CCanvas& canvas, const int16_t* samples, const ScopeSettings& settings,
                  const ScopeDerived& d) {
    const int xc = canvas.Width() / 2;
    const int yc = canvas.Height() / 2;
    for (int k = 0; k < kScopeFrames; ++k) {
        // Same mapping as a trace's vertical one, without offsets: X1 across, X2 down.
        const int x = SampleY(samples[2 * k], d.ampScaleX1, settings.gainDivX1, xc, 0);
        const int y = SampleY(samples[2 * k + 1], d.ampScaleX2, settings.gainDivX2, yc, 0);
        canvas.SetPixelV(x, y, settings.colorX1);
    }
}

void DrawSpectra(CCanvas& canvas, const int16_t* samples, const ScopeSettings& settings,
                 const ScopeDerived& d) {
    const int h = canvas.Height();
    const int yc = h / 2;
    float input[kSpectrumSamples];
    float m1[kSpectrumBins];
    float m2[kSpectrumBins];
    {
        CFftCalc fft;
        // Always the first frames, whatever the trigger says: no window, no alignment.
        for (int k = 0; k < kSpectrumSamples; ++k) {
            input[k] = float(samples[2 * k]);
        }
        fft.SpectrumMagnitudes(input, m1);
        for (int k = 0; k < kSpectrumSamples; ++k) {
            input[k] = float(samples[2 * k + 1]);
        }
        fft.SpectrumMagnitudes(input, m2);
    }
    // X1 grows from the centre line, X2 from 5 pixels above the bottom edge.
    DrawSpectrum(canvas, m1, settings.colorX1, d.ampScaleX1, settings.gainDivX1, yc + d.offsetX1,
                 0);
    DrawSpectrum(canvas, m2, settings.colorX2, d.ampScaleX2, settings.gainDivX2, h + d.offsetX2, 5);

    char text[64];
    FormatSpectrumLabel(text, sizeof text, d.gridColumns, settings.spectrumUnit);
    canvas.TextOut(10, 10, text);
}
