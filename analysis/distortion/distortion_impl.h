#pragma once
// What the distortion and intermodulation analyses share: the block, its windowed spectrum and
// the steps from a block to fitted tones. Private to this library.

#include "analysis/common/block_checks.h"
#include "analysis/common/spectral_window.h"
#include "analysis/common/tone_fit.h"
#include "analysis/common/tone_search.h"
#include "analysis/distortion/distortion.h"

#include <cmath>
#include <complex>
#include <numbers>
#include <optional>
#include <vector>

// Below this a tone is not measured against (-100 dBFS, as an amplitude of full scale).
inline constexpr double kLeastToneAmplitude = 1e-5;
// A tone's frequency is settled when a step would move it less than this: a frequency off by
// d bins leaves about 1.8 d of the tone's amplitude behind (-175 dB here).
inline constexpr double kSettledBins = 1e-9;
inline constexpr int kMostSteps = 6;

struct CDistortionAnalyser::Impl {
    Impl(int frames, double sampleRateHz);

    // The block into m_x, checked.
    BlockChecks Load(const double* samples, int stride);
    // The windowed spectrum of the block less its mean, into m_search.Spectrum().
    void Transform(const BlockChecks& checks);
    // The frequency of the strongest tone between loHz and hiHz (CToneSearch); nothing when
    // there is none or the fit fails.
    std::optional<double> FindToneHz(const BlockChecks& checks, double loHz, double hiHz);
    // The fundamental of a tone the program does not play: the strongest tone of the whole
    // spectrum, or the tone at 1/n of it when that one is strong enough to be its fundamental.
    std::optional<double> FindFundamentalHz(const BlockChecks& checks);
    // The most power of the spectrum's bins within one of hz.
    double LinePower(double hz) const;
    // The joint fit at the frequencies layout(tonesHz, hz) lays out from the first `refined`
    // (which it copies to hz[0..refined) and returns how many in all), those tones' frequencies
    // moved by Gauss-Newton steps until a step is below kSettledBins: with the other lines in the
    // model they no longer pull the tones, as they pull a fit of one sine. False if the lines
    // cannot be told apart.
    template <class Layout>
    bool FitSettled(double* tonesHz, int refined, const Layout& layout, double* hz, int& count,
                    ToneFit& fit);

    // Takes the fitted constant and fundamental out of the block's spectrum in m_search.
    void TakeOutFundamental(const ToneFit& fit, double f0Hz, double mean);
    // The figures from that residual and the fit of the harmonics at hz[1..count).
    void Measure(const ToneFit& fit, const double* hz, int count, int kFrom, int kTo,
                 const double* gain, DistortionReading& reading);

    double BinOf(double hz) const { return hz / m_binHz; }
    int Bins() const { return m_frames / 2 + 1; }
    // Mean square of spectrum bins kFrom..kTo, scaled by gain per bin when given.
    double BandPower(const std::complex<double>* spectrum, int kFrom, int kTo,
                     const double* gain) const;

    int m_frames;
    double m_sampleRateHz;
    double m_binHz;
    CToneSearch m_search; // its spectrum, once the fundamental is out, is the residual's
    std::vector<double> m_x;
    std::vector<double> m_aWeightGain;                    // power gain per bin
    std::vector<std::complex<double>> m_withoutHarmonics; // scratch spectrum
    std::vector<double> m_residualPower;                  // per bin, on a tone's scale; see header
    mutable std::vector<double> m_residualDbfs;           // m_residualPower in dB, made when asked
    mutable bool m_dbfsStale = false;
};

template <class Layout>
bool CDistortionAnalyser::Impl::FitSettled(double* tonesHz, int refined, const Layout& layout,
                                           double* hz, int& count, ToneFit& fit) {
    for (int pass = 0; pass < kMostSteps; ++pass) {
        count = layout(tonesHz, hz);
        double w[kMaxFitTones];
        for (int i = 0; i < count; ++i) {
            w[i] = 2 * std::numbers::pi * hz[i] / m_sampleRateHz;
        }
        if (!FitTonesAt(m_x.data(), m_frames, w, count, refined, fit)) {
            return false;
        }
        double stepBins[kMaxRefinedTones] = {};
        bool settled = true;
        for (int i = 0; i < refined; ++i) {
            // No step beyond half a bin, where the linearisation is not trusted.
            stepBins[i] =
                std::fmax(-0.5, std::fmin(0.5, fit.step[i] * m_frames / (2 * std::numbers::pi)));
            settled = settled && std::fabs(stepBins[i]) < kSettledBins;
        }
        if (settled) {
            return true;
        }
        if (pass + 1 < kMostSteps) {
            for (int i = 0; i < refined; ++i) {
                tonesHz[i] += stepBins[i] * m_binHz;
            }
        }
    }
    return true; // not settled (noise, or tones a bin or two apart): the last fit stands
}
