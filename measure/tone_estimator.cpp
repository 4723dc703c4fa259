#include "measure/tone_estimator.h"

#include "base/full_scale.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <numbers>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// Frequency: a least-squares sine fit over the whole buffer (sine_fit.h) gives the precision; the
// program's FFT only has to find where the tone is, to within a fraction of a bin, so the fit
// starts inside its basin. That search uses every other sample (2048 points at 22050 Hz, bins of
// 10.8 Hz) so it runs on the FFT's fast, tabled size; a tone above 11025 Hz then appears at its
// mirror 22050 - f, and the fit starts from whichever of the two explains more of the buffer.

namespace {
constexpr double kSineCrestDb = 3.010299956639812; // 20 log10(sqrt 2): AES17 reference
constexpr int kSearchSamples = kFramesPerBuffer / 2;
constexpr double kSearchRate = kSampleRate / 2.0;
constexpr double kClearPeakRatio = 50.0;
// Share of a buffer's AC power a sine must carry to be taken without a search.
constexpr double kDominantShare = 0.75;
constexpr int kRefitSteps = 2;
constexpr double kRefitStartShare = 0.5;

// A tone must stand this far above full scale's -70 dB ...
constexpr double kLowestToneAmplitude = 10.36; // 32768 x 10^(-70/20), sample units
// ... so a buffer with less AC power (mean square about its mean) holds no tone, and is not
// searched: the fitted sine and constant are the buffer's projection, whose power about the mean
// is at most the buffer's, and a sine of 10 Hz or more keeps at least 0.4313 of its amplitude
// squared as mean square about its own mean over 4096 frames (the least near 17.9 Hz).
constexpr double kLeastTonePower = 0.43 * kLowestToneAmplitude * kLowestToneAmplitude;
// ... and pin its own frequency to better than this, judged from what the fit leaves over: noise
// alone fits a "tone" whose uncertainty is a hertz or more.
constexpr double kLargestSigmaHertz = 0.1;
// A new tone, not drift of the old one, restarts the average; so does a phase that does not
// follow on from the buffer before (a gap, or a generator retuned), beyond what the estimates'
// own errors explain (hundredths of a radian).
constexpr double kRestartHertz = 0.5;
constexpr double kLargestPhaseSlip = 0.25; // radians

bool IsClearTone(const std::optional<SineFit>& fit) {
    return fit && fit->amplitude >= kLowestToneAmplitude && fit->sigmaHertz <= kLargestSigmaHertz;
}

double ToDb(double ratio) {
    return ratio > 0 ? 20 * std::log10(ratio) : -std::numeric_limits<double>::infinity();
}

// One channel of a buffer: its sum, sum of squares and largest |sample|, exact.
struct ChannelSums {
    int64_t sum = 0;
    int64_t sumSquares = 0;
    int peak = 0;
};

// Copies channel `channel` of the interleaved buffer into samples and sums it.
#if defined(__SSE2__)
// Four frames a step in SSE2 lanes: with a tone held, a plain loop here costs about as much as
// the fit itself.
// Squares are exact in 32 bits (at most 2^30) and summed in 64; sums of 32-bit lanes stay
// below 2^25.
static_assert(kChannels == 2 && kFramesPerBuffer % 4 == 0, "a load is four stereo frames");

ChannelSums ReadChannel(const int16_t* buffer, int channel, double* samples) {
    const __m128i zero = _mm_setzero_si128();
    // The channel's 16 bits of each frame, the other's cleared, for the squares.
    const __m128i mask = _mm_set1_epi32(channel == 0 ? 0x0000FFFF : int(0xFFFF0000));
    __m128i sum = zero;
    __m128i squares = zero;
    __m128i highest = _mm_set1_epi16(INT16_MIN);
    __m128i lowest = _mm_set1_epi16(INT16_MAX);
    for (int k = 0; k < kFramesPerBuffer; k += 4) {
        const __m128i frames =
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(buffer + kChannels * k));
        highest = _mm_max_epi16(highest, frames);
        lowest = _mm_min_epi16(lowest, frames);
        const __m128i values = channel == 0 ? _mm_srai_epi32(_mm_slli_epi32(frames, 16), 16)
                                            : _mm_srai_epi32(frames, 16);
        sum = _mm_add_epi32(sum, values);
        const __m128i own = _mm_and_si128(frames, mask);
        const __m128i square = _mm_madd_epi16(own, own);
        squares = _mm_add_epi64(squares, _mm_unpacklo_epi32(square, zero));
        squares = _mm_add_epi64(squares, _mm_unpackhi_epi32(square, zero));
        _mm_storeu_pd(samples + k, _mm_cvtepi32_pd(values));
        _mm_storeu_pd(samples + k + 2, _mm_cvtepi32_pd(_mm_shuffle_epi32(values, 0xEE)));
    }
    alignas(16) int32_t sums[4];
    alignas(16) int64_t squareSums[2];
    alignas(16) int16_t highs[8];
    alignas(16) int16_t lows[8];
    _mm_store_si128(reinterpret_cast<__m128i*>(sums), sum);
    _mm_store_si128(reinterpret_cast<__m128i*>(squareSums), squares);
    _mm_store_si128(reinterpret_cast<__m128i*>(highs), highest);
    _mm_store_si128(reinterpret_cast<__m128i*>(lows), lowest);
    ChannelSums result;
    result.sum = int64_t(sums[0]) + sums[1] + sums[2] + sums[3];
    result.sumSquares = squareSums[0] + squareSums[1];
    for (int lane = channel; lane < 8; lane += kChannels) {
        result.peak = std::max({result.peak, int(highs[lane]), -int(lows[lane])});
    }
    return result;
}
#else
ChannelSums ReadChannel(const int16_t* buffer, int channel, double* samples) {
    ChannelSums result;
    for (int k = 0; k < kFramesPerBuffer; ++k) {
        const int v = buffer[kChannels * k + channel];
        result.sum += v;
        result.sumSquares += int64_t(v) * v;
        result.peak = std::max(result.peak, std::abs(v));
        samples[k] = v;
    }
    return result;
}
#endif

} // namespace

CToneEstimator::CToneEstimator() {
    for (int k = 0; k < kSearchSamples; ++k) {
        m_window[k] = float(0.5 - 0.5 * std::cos(2 * std::numbers::pi * k / kSearchSamples));
    }
}

void CToneEstimator::Reset() {
    m_history = {};
}

std::array<ChannelReading, kChannels> CToneEstimator::Measure(const int16_t* buffer) {
    std::array<ChannelReading, kChannels> readings;
    for (int channel = 0; channel < kChannels; ++channel) {
        readings[channel] = MeasureChannel(buffer, channel);
    }
    return readings;
}

ChannelReading CToneEstimator::MeasureChannel(const int16_t* buffer, int channel) {
    const auto [sum, sumSquares, peak] = ReadChannel(buffer, channel, m_samples);
    ChannelReading reading;
    const double mean = double(sum) / kFramesPerBuffer;
    reading.dcOffset = mean / kFullScale;
    reading.rmsDbfs =
        ToDb(std::sqrt(double(sumSquares) / kFramesPerBuffer) / kFullScale) + kSineCrestDb;
    reading.peakDbfs = ToDb(peak / kFullScale);

    const double acPower = double(sumSquares) / kFramesPerBuffer - mean * mean;
    const BlockSums sums{double(sum), double(sumSquares)};
    std::optional<SineFit> fit;
    if (acPower >= kLeastTonePower) {
        fit = RefitLastTone(m_history[channel], sums, acPower);
        if (!fit) {
            if (const std::optional<double> found = SearchHertz(mean, acPower)) {
                const double starts[] = {*found, kSearchRate - *found};
                fit = FitSine(m_samples, sums, starts);
            }
        }
    }
    const std::optional<SineFit> tone = IsClearTone(fit) ? fit : std::nullopt;
    if (tone) {
        reading.hertz = tone->hertz;
    }
    reading.averageHertz = Average(m_history[channel], tone);
    return reading;
}

// The search costs more than the fit, and a steady tone makes it pointless: the search only
// looks for the strongest tone, and a sine carrying more than kDominantShare of the buffer's AC
// power is the strongest one whatever else the buffer holds. Everything else together carries
// less than a third of its power, 4.8 dB below it, more than the 1.4 dB its window can lose
// between bins, so the search would have led the fit to this tone too. Anything else (a new
// tone, a stronger one beside the old, no tone) fails that test and is searched for as before.
std::optional<SineFit> CToneEstimator::RefitLastTone(const History& history, const BlockSums& sums,
                                                     double acPower) {
    if (!history.last) {
        return std::nullopt;
    }
    // A tone held since the buffer before carries nearly all its share already at the seed, and
    // settles in the first step, or the second with noise or drift. One that falls short at the
    // seed, or needs more steps, has moved, and the search finds it for less.
    const double seed[] = {history.last->hertz};
    std::optional<SineFit> fit = FitSine(m_samples, sums, seed, {kRefitSteps, kRefitStartShare});
    if (!IsClearTone(fit) || 0.5 * fit->amplitude * fit->amplitude <= kDominantShare * acPower) {
        return std::nullopt;
    }
    return fit;
}

std::optional<double> CToneEstimator::SearchHertz(double mean, double acPower) {
    // Hann window over every other sample, mean removed so a DC offset does not hide a low tone.
    // energy: the windowed samples' sum of squares, which is also the mean power of a bin.
    double energy = 0;
    for (int j = 0; j < kSearchSamples / 2; ++j) {
        const double even = (m_samples[4 * j] - mean) * m_window[2 * j];
        const double odd = (m_samples[4 * j + 2] - mean) * m_window[2 * j + 1];
        energy += even * even + odd * odd;
        m_spectrum[j] = {float(even), float(odd)};
    }
    m_fft.RealFft(m_spectrum, kSearchSamples);
    auto power = [this](int k) {
        const double re = m_spectrum[k].re;
        const double im = m_spectrum[k].im;
        return re * re + im * im;
    };
    int bin = 0;
    double strongest = 0;
    for (int k = 1; k < kSearchSamples / 2; ++k) {
        if (power(k) > strongest) {
            strongest = power(k);
            bin = k;
        }
    }
    // A tone's bin holds several hundred times the mean bin's power (N/3 for a Hann window, less
    // up to 1.4 dB between bins); noise alone peaks near ln(N/2) ~ 7 times. Without a clear peak
    // there is no tone to fit, unless every other sample missed it: a tone at exactly a quarter
    // of the sample rate can leave them all zero, and then they carry far less than their share
    // of the buffer's power (3/8 of it through a Hann window).
    if (bin == 0 || strongest < kClearPeakRatio * energy) {
        if (energy < 0.3 * 0.375 * kSearchSamples * acPower) {
            return kSearchRate / 2;
        }
        return std::nullopt;
    }
    // Parabola through the log powers of the peak and its neighbours: a few hundredths of a bin
    // off for a Hann window, well inside the fit's reach.
    const double below = std::log(power(bin - 1) + 1e-30);
    const double at = std::log(strongest);
    const double above = std::log(power(bin + 1) + 1e-30);
    const double curvature = below - 2 * at + above;
    const double offset = curvature < 0 ? 0.5 * (below - above) / curvature : 0.0;
    return (bin + offset) * kSearchRate / kSearchSamples;
}

// Averaging single-buffer estimates would only divide their noise by the square root of the
// buffer count. The phase instead keeps counting across buffers: the frequency over the last second
// is the total phase advance over it, whose noise is that of two phases, not of eleven
// frequencies. Each buffer's own estimate is only needed to count the whole turns in between.
std::optional<double> CToneEstimator::Average(History& history,
                                              const std::optional<SineFit>& tone) {
    if (!tone) {
        history = {};
        return std::nullopt;
    }
    if (history.last) {
        const double hertz = 0.5 * (tone->hertz + history.last->hertz);
        const double turns = hertz * kFramesPerBuffer / kSampleRate;
        const double slip = std::remainder(
            tone->phase - history.last->phase - 2 * std::numbers::pi * turns, 2 * std::numbers::pi);
        if (std::fabs(tone->hertz - history.last->hertz) > kRestartHertz ||
            std::fabs(slip) > kLargestPhaseSlip) {
            history = {};
        } else {
            history.intervalHertz[history.next] =
                hertz + slip / (2 * std::numbers::pi) * kSampleRate / kFramesPerBuffer;
            history.next = (history.next + 1) % (kToneAverageBuffers - 1);
            history.count = std::min(history.count + 1, kToneAverageBuffers - 1);
        }
    }
    history.last = tone;
    if (history.count == 0) {
        return tone->hertz;
    }
    double sum = 0;
    for (int k = 0; k < history.count; ++k) {
        sum += history.intervalHertz[k];
    }
    return sum / history.count;
}
