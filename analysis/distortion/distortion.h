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
    double band_lo_hz = 20.0;
    double band_hi_hz = 20000.0; // above Nyquist counts as Nyquist
    Weighting weighting = Weighting::None;
};

inline constexpr int kLowestHarmonic = 2;
inline constexpr int kHighestHarmonic = 10;
inline constexpr int kHarmonicCount = kHighestHarmonic - kLowestHarmonic + 1; // H2..H10

// Why a block gives no figures. A refused block still reports what it can (level, f0). Clipping
// is named before the others: the tone it finds is then the clipping's.
enum class DistortionRefusal {
    None,
    NoSignal, // no tone strong enough to measure against (silence, noise)
    Clipped,  // samples at full scale: the figures would be the clipping's
    Unsteady, // the level changes within the block (a tone starting or stopping)
};

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
    Smpte, // 60 Hz + 7 kHz at 4:1 (SMPTE RP120)
    Ccif,  // 19 kHz + 20 kHz at 1:1 (IEC 60268-3 difference frequency)
};

struct ImdReading {
    DistortionRefusal refusal = DistortionRefusal::NoSignal;
    std::optional<double> imd_pct;
    std::optional<double> imd_db;
};

class CDistortionAnalyser {
public:
    // frames: the block size, 8192..262144, odd or even. sampleRateHz: 44100 for the program's capture.
    // Throws std::invalid_argument outside those.
    CDistortionAnalyser(int frames, double sampleRateHz);
    ~CDistortionAnalyser();
    CDistortionAnalyser(const CDistortionAnalyser&) = delete;
    CDistortionAnalyser& operator=(const CDistortionAnalyser&) = delete;

    int Frames() const;
    double BinHz() const;

    // One channel's block: samples[0], samples[stride], ... (Frames() of them).
    DistortionReading Analyse(const double* samples, int stride,
                              const DistortionSettings& settings);
    ImdReading AnalyseImd(const double* samples, int stride, ImdKind kind);

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
