#include "analysis/distortion/distortion.h"

#include "analysis/distortion/distortion_impl.h"

#include <algorithm>
#include <cmath>

// Two-tone intermodulation. Each tone is found near its nominal frequency and its frequency
// refined like a fundamental (a card's clock may put it slightly off); then one least-squares fit
// at the exact frequencies takes the constant, both tones and every product together, so a
// product 60 Hz from a tone 60 dB stronger reads its own amplitude, not the tone's skirt.
//
//   SMPTE (RP120): f1 = 60 Hz, f2 = 7 kHz at 4:1; the sidebands f2 +- n f1, n = 1..3, summed as
//                  RMS, relative to the 7 kHz amplitude:  sqrt(sum a(f2 +- n f1)^2) / a(f2).
//   CCIF (IEC 60268-3 difference frequency): f1 = 19 kHz, f2 = 20 kHz at 1:1;
//                  sqrt(a(f2 - f1)^2 + a(2 f1 - f2)^2 + a(2 f2 - f1)^2) / (a(f1) + a(f2)).

namespace {

constexpr int kSmpteOrders = 3;
constexpr int kMostProducts = 2 * kSmpteOrders;
// How far from nominal a tone is looked for: a clock error or a generator a little off.
constexpr double kNominalShare = 0.02;
constexpr double kNominalBins = 2;

struct TwoTone {
    double f1_hz;
    double f2_hz;
};

TwoTone Nominal(ImdKind kind) {
    return kind == ImdKind::Smpte ? TwoTone{60.0, 7000.0} : TwoTone{19000.0, 20000.0};
}

// The products' frequencies from the tones found; returns how many.
int Products(ImdKind kind, double f1, double f2, double* hz) {
    if (kind == ImdKind::Ccif) {
        hz[0] = f2 - f1;
        hz[1] = 2 * f1 - f2;
        hz[2] = 2 * f2 - f1;
        return 3;
    }
    for (int n = 1; n <= kSmpteOrders; ++n) {
        hz[2 * (n - 1)] = f2 - n * f1;
        hz[2 * (n - 1) + 1] = f2 + n * f1;
    }
    return kMostProducts;
}

} // namespace

ImdReading CDistortionAnalyser::AnalyseImd(const double* samples, int stride, ImdKind kind) {
    Impl& m = *m_impl;
    ImdReading reading;
    const BlockChecks checks = m.Load(samples, stride);
    reading.refusal = checks.clipped ? DistortionRefusal::Clipped : DistortionRefusal::NoSignal;
    if (checks.clipped || !(checks.acPower > 0)) {
        return reading;
    }
    m.Transform(checks);
    const TwoTone nominal = Nominal(kind);
    std::optional<double> found[2];
    const double nominals[2] = {nominal.f1_hz, nominal.f2_hz};
    for (int i = 0; i < 2; ++i) {
        const double reach = std::max(kNominalShare * nominals[i], kNominalBins * m.m_binHz);
        found[i] = m.FindToneHz(checks, nominals[i] - reach, nominals[i] + reach);
        if (!found[i]) {
            return reading;
        }
    }

    double tonesHz[2] = {*found[0], *found[1]};
    const auto layout = [kind](const double* tones, double* hz) {
        hz[0] = tones[0];
        hz[1] = tones[1];
        return 2 + Products(kind, tones[0], tones[1], hz + 2);
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
    double squares = 0;
    for (int i = 2; i < fitted; ++i) {
        squares += tones[i].a * tones[i].a + tones[i].b * tones[i].b;
    }
    const double ratio = std::sqrt(squares) / (kind == ImdKind::Smpte ? a2 : a1 + a2);
    reading.imd_pct = 100 * ratio;
    if (ratio > 0) {
        reading.imd_db = 20 * std::log10(ratio);
    }
    reading.refusal = DistortionRefusal::None;
    return reading;
}
