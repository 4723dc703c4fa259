#include "analysis/distortion/distortion.h"

#include "analysis/distortion/distortion_impl.h"

#include <algorithm>
#include <cmath>

// Two-tone intermodulation. Each tone is found near its nominal frequency and its frequency
// refined like a fundamental (a card's clock may put it slightly off); then one least-squares fit
// at the exact frequencies takes the constant, both tones and every product together, so a
// product 60 Hz from a tone 60 dB stronger reads its own amplitude, not the tone's skirt.
//
//   Modulation method (SMPTE RP120, DIN 45403; f1 low, f2 high, 4:1): the sidebands f2 +- n f1
//       of one order are the two halves of one amplitude modulation of f2, so their amplitudes
//       add first: d_(n+1) = (a(f2 - n f1) + a(f2 + n f1)) / a(f2), n = 1..3; then
//       IMD = sqrt(d2^2 + d3^2 + d4^2). A 1 % amplitude modulation reads 1 %.
//   Difference frequency (IEC 60268-3; CCIF 19 + 20 kHz, 1:1): against the sum of both tones'
//       amplitudes (the two-tone peak), d2 = a(f2 - f1) / (a(f1) + a(f2)) and
//       d3 = (a(2 f1 - f2) + a(2 f2 - f1)) / (a(f1) + a(f2)); IMD = sqrt(d2^2 + d3^2).

namespace {

constexpr int kModulationOrders = 3; // sideband pairs f2 +- n f1, n = 1..3
// How far from nominal a tone is looked for: a clock error or a generator a little off.
constexpr double kNominalShare = 0.02;
constexpr double kNominalBins = 2;

// The products' frequencies from the tones found; returns how many. Modulation: pairs
// (f2 - n f1, f2 + n f1) in order of n. Difference frequency: f2 - f1, 2 f1 - f2, 2 f2 - f1.
int Products(bool differenceFrequency, double f1, double f2, double* hz) {
    if (differenceFrequency) {
        hz[0] = f2 - f1;
        hz[1] = 2 * f1 - f2;
        hz[2] = 2 * f2 - f1;
        return 3;
    }
    for (int n = 1; n <= kModulationOrders; ++n) {
        hz[2 * (n - 1)] = f2 - n * f1;
        hz[2 * (n - 1) + 1] = f2 + n * f1;
    }
    return 2 * kModulationOrders;
}

} // namespace

ImdTones ImdPreset(ImdKind kind) {
    switch (kind) {
    case ImdKind::Ccif:
        return {kind, 19000.0, 20000.0, 1.0};
    case ImdKind::Din:
        return {kind, 250.0, 8000.0, 4.0};
    case ImdKind::Smpte:
    case ImdKind::Custom:
        break;
    }
    return {kind, 60.0, 7000.0, 4.0};
}

ImdReading CDistortionAnalyser::AnalyseImd(const double* samples, int stride,
                                           const ImdTones& given) {
    Impl& m = *m_impl;
    ImdReading reading;
    const BlockChecks checks = m.Load(samples, stride);
    reading.refusal = checks.clipped ? DistortionRefusal::Clipped : DistortionRefusal::NoSignal;
    if (checks.clipped || !(checks.acPower > 0)) {
        return reading;
    }
    m.Transform(checks);
    const bool difference = given.DifferenceFrequency();
    std::optional<double> found[2];
    const double nominals[2] = {given.f1_hz, given.f2_hz};
    for (int i = 0; i < 2; ++i) {
        const double reach = std::max(kNominalShare * nominals[i], kNominalBins * m.m_binHz);
        found[i] = m.FindToneHz(checks, nominals[i] - reach, nominals[i] + reach);
        if (!found[i]) {
            return reading;
        }
    }

    double tonesHz[2] = {*found[0], *found[1]};
    const auto layout = [difference](const double* tones, double* hz) {
        hz[0] = tones[0];
        hz[1] = tones[1];
        return 2 + Products(difference, tones[0], tones[1], hz + 2);
    };
    // The products must be in the capture for the figure to be defined.
    double hz[kMaxFitTones];
    const int count = layout(tonesHz, hz);
    const double highest = 0.5 * m.m_sampleRateHz - m.m_binHz;
    for (int i = 0; i < count; ++i) {
        if (!(hz[i] >= m.m_binHz && hz[i] <= highest)) {
            return reading;
        }
    }
    int fitted = 0;
    ToneFit fit;
    if (!m.FitSettled(tonesHz, 2, layout, hz, fitted, fit)) {
        return reading;
    }
    const ToneAmplitude* tones = fit.tones;
    const double a1 = tones[0].Amplitude();
    const double a2 = tones[1].Amplitude();
    if (a1 < kLeastToneAmplitude || a2 < kLeastToneAmplitude) {
        return reading;
    }
    if (checks.unsteady) {
        reading.refusal = DistortionRefusal::Unsteady;
        return reading;
    }
    const auto a = [tones](int product) { return tones[2 + product].Amplitude(); };
    double d2 = 0;
    double d3 = 0;
    double squares = 0;
    if (difference) {
        const double reference = a1 + a2;
        d2 = a(0) / reference;
        d3 = (a(1) + a(2)) / reference;
        squares = d2 * d2 + d3 * d3;
    } else {
        double d[kModulationOrders];
        for (int n = 1; n <= kModulationOrders; ++n) {
            d[n - 1] = (a(2 * (n - 1)) + a(2 * (n - 1) + 1)) / a2;
            squares += d[n - 1] * d[n - 1];
        }
        d2 = d[0];
        d3 = d[1];
    }
    const double ratio = std::sqrt(squares);
    reading.imd_pct = 100 * ratio;
    if (ratio > 0) {
        reading.imd_db = 20 * std::log10(ratio);
    }
    reading.d2_pct = 100 * d2;
    reading.d3_pct = 100 * d3;
    reading.refusal = DistortionRefusal::None;
    return reading;
}
