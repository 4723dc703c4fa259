#include "analysis/distortion/distortion.h"

#include "analysis/common/a_weighting.h"
#include "analysis/distortion/distortion_impl.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

// Method. The fundamental is the tone the program plays when it plays one, else the strongest
// tone of the whole spectrum: the band limits the noise only, so a 100 Hz tone measured over
// 400 Hz - 20 kHz is still the fundamental, and its strongest harmonic in the band is never taken
// for it. The strongest line of the block's windowed spectrum places the fundamental to a
// fraction of a bin; a least-squares fit of a sine and a constant over the whole
// block, its frequency refined by Gauss-Newton steps, brings it to a hair of f0 wherever it falls
// between bins. One linear least-squares fit then finds the constant, the fundamental and every
// harmonic n f0 (n = 2..10) below Nyquist together at their exact frequencies, so no harmonic
// borrows from another when the block holds no whole number of periods; and a further
// Gauss-Newton step or two on f0 within that fit (until a step is below 1e-9 of a bin) removes
// the pull the harmonics had on the one-sine fit, so f0 is the least-squares one of the whole
// harmonic model, to double precision. Taking the fitted constant and fundamental out of the
// windowed spectrum (the window's response to a sinusoid is exact in closed form,
// spectral_window.h) leaves the residual's
// spectrum without transforming the block again; its power summed over the band's bins, each
// corrected by the window's power gain, is the in-band RMS of everything but the fundamental.
//
//   THD+N (AES17) = residual RMS in band / total RMS, where the total is the signal's RMS in the
//                   same band (the fundamental plus the unweighted residual): a DC offset or
//                   out-of-band hiss does not change it. A-weighting, when asked, weighs the
//                   residual only.
//   THD_F (IEC 60268-3) = sqrt(sum a_n^2) / a_1 over the harmonics below Nyquist.
//   SNR = fundamental power / residual power in band with the harmonics also taken out.
//   SINAD = -THD+N in dB.
//
// A harmonic within a bin of Nyquist or beyond it is not in the capture (or cannot be told from
// its mirror), so it is left out rather than aliased.

namespace {

// Bins either side of the fundamental taken out in closed form. The main lobe is 7 bins, then
// sidelobes near -180 dB; the window is not quite zero at its ends (6e-8), and that step keeps
// them there for a hundred bins before they fall 6 dB an octave. Summed over a whole spectrum
// they would read as a -160 dB floor; taken out this far, below -170 dB.
constexpr int kFundamentalBins = 64;
// Harmonics are 20 dB or more below the fundamental: their main lobe and a margin suffice.
constexpr int kHarmonicBins = 16;
// What a bin of no power (the A-weighting's DC bin) or of less reads in the residual spectrum.
constexpr double kSpectrumFloorDbfs = -300;

// How far from the tone played its fundamental is looked for, as a share of it and in bins at
// least: a card's clock or a generator a little off.
constexpr double kPlayedToneShare = 0.02;
constexpr double kPlayedToneBins = 2;
// A tone at 1/n of the strongest one (n = 2..10) and no more than this far below it in power
// (20 dB) is taken for the fundamental, the strongest line for its harmonic: a distorted tone
// may carry more in a harmonic than in itself, but hum or a neighbour 40 dB down is not its
// fundamental.
constexpr double kSubharmonicPowerShare = 0.01;

double AmplitudeDb(double ratio) {
    return 20 * std::log10(ratio);
}

} // namespace

const char* DistortionRefusalText(DistortionRefusal refusal) {
    switch (refusal) {
    case DistortionRefusal::None:
        return "";
    case DistortionRefusal::NoSignal:
        return "no tone to measure against: check the signal and the input's wiring";
    case DistortionRefusal::Clipped:
        return "input clipped: lower the signal's level or the card's input gain";
    case DistortionRefusal::Unsteady:
        return "the level changes within the block (a tone starting or stopping)";
    case DistortionRefusal::ToneMissing:
        return "the tone played does not come back: check the wiring from the outputs to the "
               "inputs";
    }
    return "";
}

CDistortionAnalyser::Impl::Impl(int frames, double sampleRateHz)
    : m_frames(frames), m_sampleRateHz(sampleRateHz), m_binHz(sampleRateHz / frames),
      m_search(frames, sampleRateHz), m_x(size_t(frames)), m_aWeightGain(size_t(Bins())),
      m_withoutHarmonics(size_t(Bins())) {
    for (int k = 0; k < Bins(); ++k) {
        m_aWeightGain[size_t(k)] = k == 0 ? 0.0 : std::pow(10.0, AWeightingDb(k * m_binHz) / 10);
    }
    m_residualPower.reserve(size_t(Bins()));
    m_residualDbfs.reserve(size_t(Bins()));
}

BlockChecks CDistortionAnalyser::Impl::Load(const double* samples, int stride) {
    return ReadBlock(samples, stride, m_frames, m_x.data());
}

void CDistortionAnalyser::Impl::Transform(const BlockChecks& checks) {
    m_search.Transform(m_x.data(), checks.sum / m_frames);
}

std::optional<double> CDistortionAnalyser::Impl::FindToneHz(const BlockChecks& checks, double loHz,
                                                            double hiHz) {
    return m_search.FindHz(m_x.data(), {checks.sum, checks.sumSquares}, loHz, hiHz);
}

double CDistortionAnalyser::Impl::LinePower(double hz) const {
    const int centre = int(std::lround(BinOf(hz)));
    double most = 0;
    for (int k = std::max(centre - 1, 0); k <= std::min(centre + 1, Bins() - 1); ++k) {
        most = std::max(most, std::norm(m_search.Spectrum()[k]));
    }
    return most;
}

std::optional<double> CDistortionAnalyser::Impl::FindFundamentalHz(const BlockChecks& checks) {
    const std::optional<double> strongest = FindToneHz(checks, 0.0, 0.5 * m_sampleRateHz);
    if (!strongest) {
        return std::nullopt;
    }
    const double power = LinePower(*strongest);
    // The lowest such tone: the fundamental of the strongest line's series.
    for (int n = kHighestHarmonic; n >= 2; --n) {
        const double hz = *strongest / n;
        if (hz < kToneSearchLowestHz || LinePower(hz) < kSubharmonicPowerShare * power) {
            continue;
        }
        const double reach = std::max(kPlayedToneShare * hz, kPlayedToneBins * m_binHz);
        if (const std::optional<double> below = FindToneHz(checks, hz - reach, hz + reach)) {
            return below;
        }
    }
    return strongest;
}

// One-sided: bins 0 and n/2 stand for themselves, the others for their mirrors as well.
double CDistortionAnalyser::Impl::BandPower(const std::complex<double>* spectrum, int kFrom,
                                            int kTo, const double* gain) const {
    double sum = 0;
    for (int k = std::max(kFrom, 0); k <= std::min(kTo, Bins() - 1); ++k) {
        const double p = std::norm(spectrum[k]) * (gain ? gain[k] : 1.0);
        sum += (k == 0 || 2 * k == m_frames) ? p : 2 * p;
    }
    return sum / (double(m_frames) * m_search.Window().sumSquares);
}

CDistortionAnalyser::CDistortionAnalyser(int frames, double sampleRateHz) {
    if (frames < 8192 || frames > 262144) {
        throw std::invalid_argument("CDistortionAnalyser: frames must be 8192..262144");
    }
    if (!(sampleRateHz > 0)) {
        throw std::invalid_argument("CDistortionAnalyser: the sample rate must be positive");
    }
    m_impl = std::make_unique<Impl>(frames, sampleRateHz);
}

CDistortionAnalyser::~CDistortionAnalyser() = default;

int CDistortionAnalyser::Frames() const {
    return m_impl->m_frames;
}

double CDistortionAnalyser::BinHz() const {
    return m_impl->m_binHz;
}

DistortionReading CDistortionAnalyser::Analyse(const double* samples, int stride,
                                               const DistortionSettings& settings) {
    Impl& m = *m_impl;
    m.m_residualPower.clear();
    m.m_dbfsStale = true;
    DistortionReading reading;
    const BlockChecks checks = m.Load(samples, stride);
    reading.refusal = checks.clipped ? DistortionRefusal::Clipped : DistortionRefusal::NoSignal;

    const double nyquist = 0.5 * m.m_sampleRateHz;
    const double loHz = std::max(settings.band_lo_hz, 0.0);
    const double hiHz = std::min(settings.band_hi_hz, nyquist);
    if (!(loHz < hiHz) || !(checks.acPower > 0)) {
        return reading;
    }
    m.Transform(checks);
    std::optional<double> found;
    if (settings.tone_hz) {
        const double reach =
            std::max(kPlayedToneShare * *settings.tone_hz, kPlayedToneBins * m.m_binHz);
        found = m.FindToneHz(checks, *settings.tone_hz - reach, *settings.tone_hz + reach);
        if (!found && !checks.clipped) {
            reading.refusal = DistortionRefusal::ToneMissing;
        }
    } else {
        found = m.FindFundamentalHz(checks);
    }
    if (!found) {
        return reading;
    }
    // The fundamental and its harmonics below Nyquist, less a bin (a line and its mirror closer
    // than that cannot be told apart).
    const double highestHz = nyquist - m.m_binHz;
    const auto harmonics = [highestHz](const double* fundamentalHz, double* hz) {
        int count = 0;
        for (int order = 1; order <= kHighestHarmonic && order * *fundamentalHz <= highestHz;
             ++order) {
            hz[count++] = order * *fundamentalHz;
        }
        return count;
    };
    double fundamentalHz = *found;
    double hz[kMaxFitTones];
    int count = 0;
    ToneFit fit;
    if (!m.FitSettled(&fundamentalHz, 1, harmonics, hz, count, fit) || count == 0 ||
        !(fit.tones[0].Amplitude() > 0)) {
        return reading;
    }
    const double f0 = hz[0];
    const double a1 = fit.tones[0].Amplitude();
    reading.f0_hz = f0;
    reading.level_dbfs = AmplitudeDb(a1);
    for (int i = 0; i < kHarmonicCount; ++i) {
        reading.harmonics[size_t(i)].order = kLowestHarmonic + i;
        reading.harmonics[size_t(i)].freq_hz = (kLowestHarmonic + i) * f0;
    }
    if (checks.clipped || a1 < kLeastToneAmplitude) {
        return reading;
    }
    if (checks.unsteady) {
        reading.refusal = DistortionRefusal::Unsteady;
        return reading;
    }

    m.TakeOutFundamental(fit, f0, checks.sum / m.m_frames);
    const int kFrom = int(std::ceil(m.BinOf(loHz)));
    const int kTo = std::min(m.Bins() - 1, int(std::floor(m.BinOf(hiHz))));
    const double* gain = settings.weighting == Weighting::A ? m.m_aWeightGain.data() : nullptr;
    m.Measure(fit, hz, count, kFrom, kTo, gain, reading);
    return reading;
}

// The residual: the windowed spectrum without the fitted constant (the transform already lacks
// the mean) and fundamental.
void CDistortionAnalyser::Impl::TakeOutFundamental(const ToneFit& fit, double f0Hz, double mean) {
    std::complex<double>* spectrum = m_search.Spectrum();
    const int last = Bins() - 1;
    const double nu0 = BinOf(f0Hz);
    SubtractWindowedTone(spectrum, m_frames, 0.0, fit.constant - mean, 0.0, 0,
                         std::min(kFundamentalBins, last));
    SubtractWindowedTone(spectrum, m_frames, nu0, fit.tones[0].a, fit.tones[0].b,
                         std::max(0, int(nu0) - kFundamentalBins),
                         std::min(last, int(nu0) + 1 + kFundamentalBins));
}

// From the residual's spectrum over bins kFrom..kTo and the harmonics' fit, every figure; or
// NoSignal when the fundamental does not stand above the residual.
void CDistortionAnalyser::Impl::Measure(const ToneFit& fit, const double* hz, int count, int kFrom,
                                        int kTo, const double* gain, DistortionReading& reading) {
    const std::complex<double>* spectrum = m_search.Spectrum();
    const int last = Bins() - 1;
    const double a1 = fit.tones[0].Amplitude();
    const double residual = BandPower(spectrum, kFrom, kTo, nullptr);
    const double weighted = gain ? BandPower(spectrum, kFrom, kTo, gain) : residual;
    const double fundamental = 0.5 * a1 * a1;
    if (!(fundamental > residual)) {
        reading.refusal = DistortionRefusal::NoSignal;
        return;
    }

    // The display's scale: a sine of amplitude A centred on a bin reads 20 log10 A there.
    const double toneScale = 4 / (m_search.Window().sum * m_search.Window().sum);
    m_residualPower.resize(size_t(Bins()));
    for (int k = 0; k <= last; ++k) {
        m_residualPower[size_t(k)] = std::norm(spectrum[k]) * toneScale * (gain ? gain[k] : 1.0);
    }

    double harmonicSquares = 0;
    std::copy(spectrum, spectrum + Bins(), m_withoutHarmonics.begin());
    for (int i = 1; i < count; ++i) {
        const ToneAmplitude& tone = fit.tones[i];
        const double a = tone.Amplitude();
        HarmonicReading& h = reading.harmonics[size_t(i - 1)];
        h.level_pct = 100 * a / a1;
        if (a > 0) {
            h.level_db = AmplitudeDb(a / a1);
        }
        harmonicSquares += a * a;
        const double nu = BinOf(hz[i]);
        SubtractWindowedTone(m_withoutHarmonics.data(), m_frames, nu, tone.a, tone.b,
                             std::max(0, int(nu) - kHarmonicBins),
                             std::min(last, int(nu) + 1 + kHarmonicBins));
    }
    if (harmonicSquares > 0) {
        const double thd = std::sqrt(harmonicSquares) / a1;
        reading.thd_pct = 100 * thd;
        reading.thd_db = AmplitudeDb(thd);
    }
    const double thdn = std::sqrt(weighted / (fundamental + residual));
    reading.thdn_pct = 100 * thdn;
    if (thdn > 0) {
        reading.thdn_db = AmplitudeDb(thdn);
        reading.sinad_db = -*reading.thdn_db;
    }
    const double noise = BandPower(m_withoutHarmonics.data(), kFrom, kTo, gain);
    if (noise > 0) {
        reading.snr_db = 10 * std::log10(fundamental / noise);
    }
    reading.refusal = DistortionRefusal::None;
}

const std::vector<double>& CDistortionAnalyser::ResidualSpectrumDbfs() const {
    Impl& m = *m_impl;
    if (m.m_dbfsStale) {
        m.m_residualDbfs.resize(m.m_residualPower.size());
        for (size_t k = 0; k < m.m_residualPower.size(); ++k) {
            const double p = m.m_residualPower[k];
            m.m_residualDbfs[k] =
                p > 0 ? std::max(10 * std::log10(p), kSpectrumFloorDbfs) : kSpectrumFloorDbfs;
        }
        m.m_dbfsStale = false;
    }
    return m.m_residualDbfs;
}
