#pragma once
// Distortion and noise of one channel over one block: the fundamental, harmonics H2..H10, THD,
// THD+N, SINAD and SNR, and the two-tone intermodulation figures. Plain arithmetic in double
// precision over FFTW; no threads of its own. One analyser per block size: its plans and scratch
// buffers are made in the constructor, so Analyse allocates nothing.
//
// Samples are fractions of full scale (an int16 sample / 32768). Levels follow AES17: a
// full-scale sine (amplitude 1.0) is 0 dBFS RMS. Figures relative to the fundamental are in dB
// (negative for distortion below it) and in percent of the fundamental's amplitude.
//
// Threads: an analyser is used by one thread at a time; different analysers may run at once
// (plan creation is serialised inside).

#include <array>
#include <memory>
#include <optional>
#include <vector>

enum class Weighting { None, A }; // A: IEC 61672-1, applied to the residual (noise) only

struct DistortionSettings {
    // The THD+N band: it limits the noise only. The fundamental counts wherever it lies.
    double band_lo_hz = 20.0;
    double band_hi_hz = 20000.0; // above Nyquist counts as Nyquist
    Weighting weighting = Weighting::None;
    // The tone the program plays, when it plays one: the fundamental is that tone, looked for
    // within 2 % of it (a card's clock may move it a little). Without it, the fundamental is the
    // strongest tone of the whole spectrum.
    std::optional<double> tone_hz;
};

inline constexpr int kLowestHarmonic = 2;
inline constexpr int kHighestHarmonic = 10;
inline constexpr int kHarmonicCount = kHighestHarmonic - kLowestHarmonic + 1; // H2..H10

// Why a block gives no figures. A refused block still reports what it can (level, f0). Clipping
// is named before the others: the tone it finds is then the clipping's.
enum class DistortionRefusal {
    None,
    NoSignal,    // no tone strong enough to measure against (silence, noise)
    Clipped,     // samples at full scale: the figures would be the clipping's
    Unsteady,    // the level changes within the block (a tone starting or stopping)
    ToneMissing, // the tone the program plays is not in the block (settings.tone_hz)
};

// One line saying why, for a person reading the command's messages; "" for None.
const char* DistortionRefusalText(DistortionRefusal refusal);

struct HarmonicReading {
    int order = 0;                   // 2..10
    double freq_hz = 0;              // order x f0
    std::optional<double> level_db;  // relative to the fundamental; nothing at/above Nyquist
    std::optional<double> level_pct; // percent of the fundamental's amplitude
};

struct DistortionReading {
    DistortionRefusal refusal = DistortionRefusal::NoSignal;
    std::optional<double> f0_hz;
    std::optional<double> level_dbfs;      // the fundamental's RMS level, AES17
    std::optional<double> thd_pct, thd_db; // IEC 60268-3 THD_F over the harmonics below Nyquist
    // AES17: RMS without the fundamental, in band, / total RMS (the signal's, in the same band)
    std::optional<double> thdn_pct, thdn_db;
    std::optional<double> sinad_db; // -thdn_db
    std::optional<double> snr_db;   // fundamental over the residual without harmonics
    std::array<HarmonicReading, kHarmonicCount> harmonics{};
};

enum class ImdKind {
    Smpte,  // 60 Hz + 7 kHz at 4:1 (SMPTE RP120), the modulation method
    Ccif,   // 19 kHz + 20 kHz at 1:1 (IEC 60268-3 difference frequency)
    Din,    // 250 Hz + 8 kHz at 4:1 (DIN 45403), the modulation method
    Custom, // the tones given
};

// The two tones and how their products are summed: a ratio of 1 is the difference-frequency
// method (CCIF's: f1 and f2 close together), any other the modulation method (SMPTE's: f1 the low
// tone, f2 the high one it modulates).
struct ImdTones {
    ImdKind kind = ImdKind::Smpte;
    double f1_hz = 60.0;
    double f2_hz = 7000.0;
    double ratio = 4.0; // f1's amplitude over f2's
    bool DifferenceFrequency() const { return ratio == 1.0; }
};

// The tones of a standard's kind (Custom: SMPTE's, to be changed).
ImdTones ImdPreset(ImdKind kind);

// Modulation method: d_n = (a(f2 - (n-1) f1) + a(f2 + (n-1) f1)) / a(f2), the two sidebands of
// order n added first; total = sqrt(d2^2 + d3^2 + d4^2). Difference frequency (IEC 60268-3):
// d2 = a(f2 - f1) / (a(f1) + a(f2)), d3 = (a(2 f1 - f2) + a(2 f2 - f1)) / (a(f1) + a(f2));
// total = sqrt(d2^2 + d3^2).
struct ImdReading {
    DistortionRefusal refusal = DistortionRefusal::NoSignal;
    std::optional<double> imd_pct; // the total
    std::optional<double> imd_db;
    std::optional<double> d2_pct; // second order alone
    std::optional<double> d3_pct; // third order alone
};

class CDistortionAnalyser {
public:
    // frames: the block size, 8192..262144, odd or even. sampleRateHz: 44100 for the program's
    // capture. Throws std::invalid_argument outside those.
    CDistortionAnalyser(int frames, double sampleRateHz);
    ~CDistortionAnalyser();
    CDistortionAnalyser(const CDistortionAnalyser&) = delete;
    CDistortionAnalyser& operator=(const CDistortionAnalyser&) = delete;

    int Frames() const;
    double BinHz() const;

    // One channel's block: samples[0], samples[stride], ... (Frames() of them).
    DistortionReading Analyse(const double* samples, int stride,
                              const DistortionSettings& settings);
    ImdReading AnalyseImd(const double* samples, int stride, const ImdTones& tones);
    ImdReading AnalyseImd(const double* samples, int stride, ImdKind kind) {
        return AnalyseImd(samples, stride, ImdPreset(kind));
    }

    // After Analyse: the residual (everything but the fundamental) as a power spectrum in dBFS
    // per bin, bins 0..Frames()/2, weighted when the settings asked for it. Empty before, and
    // after a refused block. Scale: a sine of amplitude A centred on a bin reads 20 log10 A there
    // (0 dB at full scale); noise reads its power per bin in dBFS raised by the window's noise
    // bandwidth (2.63 bins, +4.2 dB). A bin of no power reads -300. Converted when first asked.
    const std::vector<double>& ResidualSpectrumDbfs() const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};
