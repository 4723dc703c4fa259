#pragma once
// The sweep analyser's spectra read at log-spaced points: magnitude, unwrapped phase and group
// delay of the linear response (divided by the reference's when there is one), and the harmonics
// against the fundamental at the frequency that excited them. Fractional-octave smoothing averages
// power for magnitudes and the complex response for phase, by running sums made once per call.
// Scratch is made in the constructor; one thread at a time.

#include "analysis/sweep/sweep_analyser.h"

#include <array>
#include <complex>
#include <vector>

void ClearPoints(SweepResult& result);

class CSweepPoints {
public:
    CSweepPoints(int bins, int components);

    // spectra[0]: the linear response; spectra[1..highest-1]: H2.., each with its impulse
    // response's peak at sample 0. reference: the reference's linear spectrum, or nullptr.
    // residualDelay: samples of delay still in spectra[0] (over reference), taken out of the
    // phase. Harmonics above topHz read NaN.
    void Evaluate(const std::vector<std::complex<double>>* spectra, int highest,
                  const std::vector<std::complex<double>>* reference, double residualDelay,
                  double rateHz, double topHz, const SweepAnalysisSettings& settings,
                  SweepResult& result);

private:
    // Power and complex value at hz from a spectrum, smoothed over widthOctaves (0: none).
    double PowerAt(const std::vector<std::complex<double>>& spectrum,
                   const std::vector<double>& sums, double hz) const;
    std::complex<double> ValueAt(const std::vector<std::complex<double>>& spectrum,
                                 double hz) const;
    bool Band(double hz, int& lo, int& hi) const;

    int m_bins;
    double m_binHz = 1;
    double m_widthOctaves = 0;
    std::vector<std::complex<double>> m_response; // linear over reference, delay taken out
    std::vector<std::complex<double>> m_responseSums;
    std::vector<double> m_responseSquares;
    std::vector<std::vector<double>> m_componentSquares; // running sums of |spectra[c]|^2
};
