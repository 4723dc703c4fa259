#include "analysis/impedance/impedance_detector.h"

#include "analysis/common/block_checks.h"
#include "analysis/common/tone_fit.h"
#include "measure/sine_fit.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <stdexcept>

// The amplitudes are a least-squares fit of a cos + b sin + c at the known frequency (the
// lock-in's single-bin correlation, with the constant solved jointly rather than assumed away),
// over the whole periods the block holds. The fit is exact for a pure tone whatever the block's
// length, takes out a DC offset instead of leaking it into the tone, and over whole periods the
// harmonics a driver or the card add are all but orthogonal to the fundamental. Both channels
// are fitted in the same centred time, so V1/V2 carries their phase difference unchanged.

namespace {
// A tone must carry at least this share of X1's power about its mean: less, and what is on X1
// is mostly something else (noise, another tone, hum) that the fit's amplitude would misread.
constexpr double kLeastToneShare = 0.5;

// What the fit leaves over x[0..n): its mean square. Taken sample by sample: the block's power
// less the tone's would be ruled by the tone's last part-period, far above the noise.
double ResidualMeanSquare(const double* x, int n, double w, const ToneFit& fit) {
    // The fit's centred time t = k - (n - 1) / 2, turned one sample at a time.
    std::complex<double> phase = std::polar(1.0, -w * 0.5 * (n - 1));
    const std::complex<double> turn = std::polar(1.0, w);
    double sum = 0;
    for (int k = 0; k < n; ++k) {
        const double model =
            fit.constant + fit.tones[0].a * phase.real() + fit.tones[0].b * phase.imag();
        sum += (x[k] - model) * (x[k] - model);
        phase *= turn;
    }
    return sum / n;
}

} // namespace

const char* ImpedanceRefusalText(ImpedanceRefusal refusal) {
    switch (refusal) {
    case ImpedanceRefusal::None:
        return "";
    case ImpedanceRefusal::Clipped:
        return "input clipped: lower the generator's level or the card's input gain";
    case ImpedanceRefusal::NoTone:
        return "no test tone on X1: check the generator and X1's wiring";
    case ImpedanceRefusal::X2Silent:
        return "X2 is silent: check the reference resistor and X2's wiring";
    case ImpedanceRefusal::OutOfRange:
        return "impedance outside R_ref/1000 .. 1000 R_ref: the reading means nothing; "
               "choose a reference resistor nearer the part";
    }
    return "";
}

double ToneAmplitudeError(double residual_mean_square, int n, int sampleBits) {
    // Rounding is no random noise for a steady tone: at a round frequency the samples, and so
    // their rounding, repeat every few hundred (441 for 1 kHz at 44.1 kHz), and the rounding's
    // share at the tone averages down only over that pattern, not over the block. Its step is
    // the capture's own: a 24-bit card resolves 256 times finer than the panel's 16 bits.
    const double step = std::ldexp(1.0, 1 - sampleBits);
    constexpr int kRoundingPattern = 441;
    const double noise = residual_mean_square * 2.0 / std::max(n, 1);
    const double rounding = step * step / 12.0 * 2.0 / std::min(std::max(n, 1), kRoundingPattern);
    return std::sqrt(std::max(noise, rounding));
}

// Checked before the buffers and the transform are made from it.
static int CheckedFrames(int maxFrames) {
    if (maxFrames < 4096 || maxFrames % 2 != 0) {
        throw std::invalid_argument("CImpedanceDetector: maxFrames must be even and >= 4096");
    }
    return maxFrames;
}

CImpedanceDetector::CImpedanceDetector(int maxFrames, double sampleRateHz, int sampleBits)
    : m_maxFrames(CheckedFrames(maxFrames)), m_sampleRateHz(sampleRateHz), m_sampleBits(sampleBits),
      m_x1(size_t(m_maxFrames)), m_x2(size_t(m_maxFrames)), m_search(m_maxFrames, sampleRateHz) {
    if (!(sampleRateHz > 0)) {
        throw std::invalid_argument("CImpedanceDetector: the sample rate must be positive");
    }
}

ImpedanceDetection CImpedanceDetector::Detect(const double* interleaved, int frames, double freq_hz,
                                              double r_ref_ohm) {
    ImpedanceDetection result;
    result.freq_hz = freq_hz;
    if (frames <= 0 || frames > m_maxFrames) {
        throw std::invalid_argument("CImpedanceDetector::Detect: frames out of range");
    }
    const BlockChecks x1 = ReadBlock(interleaved, 2, frames, m_x1.data());
    const BlockChecks x2 = ReadBlock(interleaved + 1, 2, frames, m_x2.data());
    if (x1.clipped || x2.clipped) {
        result.refusal = ImpedanceRefusal::Clipped;
        return result;
    }
    const double periods = std::floor(frames * freq_hz / m_sampleRateHz);
    if (!(periods >= 1) || freq_hz >= 0.5 * m_sampleRateHz) {
        result.refusal = ImpedanceRefusal::NoTone;
        return result;
    }
    const int n = std::min(frames, int(std::lround(periods * m_sampleRateHz / freq_hz)));
    const double w = 2 * std::numbers::pi * freq_hz / m_sampleRateHz;
    ToneFit fit1;
    ToneFit fit2;
    if (!FitTonesAt(m_x1.data(), n, &w, 1, 0, fit1) ||
        !FitTonesAt(m_x2.data(), n, &w, 1, 0, fit2)) {
        result.refusal = ImpedanceRefusal::NoTone;
        return result;
    }
    result.frames = n;
    // a cos(wt) + b sin(wt) = Re{(a - i b) e^(iwt)}.
    result.v1 = {fit1.tones[0].a, -fit1.tones[0].b};
    result.v2 = {fit2.tones[0].a, -fit2.tones[0].b};
    const double a1 = std::abs(result.v1);
    if (a1 < kLeastX1Amplitude || 0.5 * a1 * a1 < kLeastToneShare * x1.acPower) {
        result.refusal = ImpedanceRefusal::NoTone;
        return result;
    }
    if (std::abs(result.v2) < kLeastX2Amplitude) {
        result.refusal = ImpedanceRefusal::X2Silent;
        return result;
    }
    result.z_ohm = r_ref_ohm * (result.v1 / result.v2 - 1.0);
    // d(V1/V2) / (V1/V2) = dV1/V1 - dV2/V2, the two channels' errors independent.
    const double e1 =
        ToneAmplitudeError(ResidualMeanSquare(m_x1.data(), n, w, fit1), n, m_sampleBits) / a1;
    const double e2 =
        ToneAmplitudeError(ResidualMeanSquare(m_x2.data(), n, w, fit2), n, m_sampleBits) /
        std::abs(result.v2);
    result.ratio_resolution =
        kResolutionSigmas * std::abs(result.v1 / result.v2) * std::hypot(e1, e2);
    const double ratio = std::abs(result.z_ohm) / r_ref_ohm;
    result.refusal = ratio < 1 / kImpedanceRangeRatio || ratio > kImpedanceRangeRatio
                         ? ImpedanceRefusal::OutOfRange
                         : ImpedanceRefusal::None;
    return result;
}

ImpedanceDetection CImpedanceDetector::DetectExternal(const double* interleaved, double r_ref_ohm) {
    const BlockChecks x1 = ReadBlock(interleaved, 2, m_maxFrames, m_x1.data());
    std::optional<double> hz;
    if (!x1.clipped) {
        // The whole spectrum; the tone must carry most of X1's power (see kLeastToneShare).
        m_search.Transform(m_x1.data(), x1.sum / m_maxFrames);
        FitLimits limits;
        limits.leastStartShare = kLeastToneShare;
        hz = m_search.FindStrongestHz(m_x1.data(), {x1.sum, x1.sumSquares}, limits);
    }
    if (!hz) {
        ImpedanceDetection result;
        result.refusal = x1.clipped ? ImpedanceRefusal::Clipped : ImpedanceRefusal::NoTone;
        return result;
    }
    return Detect(interleaved, m_maxFrames, *hz, r_ref_ohm);
}
