#pragma once
// CToneSearch: where the strongest tone of a block lies. The block's windowed spectrum places it
// to a fraction of a bin (StrongestLineBin), then a least-squares fit of a sine and a constant
// over the whole block, its frequency refined by Gauss-Newton steps, brings it to a hair of the
// tone's frequency wherever it falls between bins. The analysers that look for a tone they did
// not play (the distortion analyser's fundamental, the impedance detector's external tone) all
// find it this way.
//
// Threads: a search is used by one thread at a time; its transform and window are made in the
// constructor, so nothing is allocated after it.

#include "analysis/common/spectral_window.h"
#include "fft/real_fft.h"
#include "measure/sine_fit.h"

#include <complex>
#include <optional>

// The whole spectrum, as far as a tone can be told from a constant and from its Nyquist mirror.
inline constexpr double kToneSearchLowestHz = 10.0;
inline constexpr double kToneSearchTopShareOfNyquist = 0.99;

class CToneSearch {
public:
    // frames: the block length, 2 or more; throws std::invalid_argument otherwise.
    CToneSearch(int frames, double sampleRateHz);

    int Frames() const { return m_fft.Size(); }
    int Bins() const { return m_fft.Bins(); }
    double BinHz() const { return m_binHz; }
    const SpectralWindow& Window() const { return m_window; }

    // The block x[0..Frames()) less `mean`, windowed, transformed into Spectrum().
    void Transform(const double* x, double mean);
    std::complex<double>* Spectrum() { return m_fft.Output(); }
    const std::complex<double>* Spectrum() const { return m_fft.Output(); }

    // After Transform of the same x: the frequency of the strongest line between loHz and hiHz
    // (clamped to the whole spectrum above), refined by the sine fit over the whole block. sums:
    // of x, as the fit needs them. Nothing when the range holds no line or the fit gives up
    // (limits: how soon).
    std::optional<double> FindHz(const double* x, const BlockSums& sums, double loHz, double hiHz,
                                 const FitLimits& limits = {}) const;
    // The same over the whole spectrum.
    std::optional<double> FindStrongestHz(const double* x, const BlockSums& sums,
                                          const FitLimits& limits = {}) const;

private:
    double m_sampleRateHz;
    double m_binHz;
    CRealFft m_fft;
    SpectralWindow m_window;
};
