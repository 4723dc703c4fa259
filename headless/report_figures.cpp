#include "headless/report_figures.h"

#include "analysis/common/a_weighting.h"
#include "analysis/common/tone_fit.h"
#include "fft/real_fft.h"

#include <algorithm>
#include <cmath>
#include <numbers>

std::vector<double> ChannelOf(const std::vector<float>& interleaved, int channel) {
    std::vector<double> samples(interleaved.size() / 2);
    for (size_t n = 0; n < samples.size(); ++n) {
        samples[n] = interleaved[2 * n + size_t(channel)];
    }
    return samples;
}

std::optional<std::complex<double>> ToneAt(const std::vector<double>& samples, double freq_hz,
                                           double rate_hz) {
    const double radians = 2 * std::numbers::pi * freq_hz / rate_hz;
    ToneFit fit;
    if (!FitTonesAt(samples.data(), int(samples.size()), &radians, 1, 0, fit)) {
        return std::nullopt;
    }
    // a cos(wt) + b sin(wt) = A cos(wt + phi): a = A cos phi, b = -A sin phi.
    return std::complex<double>(fit.tones[0].a, -fit.tones[0].b);
}

NoiseLevels MeasureNoise(const std::vector<double>& samples, double rate_hz) {
    const int n = int(samples.size());
    CRealFft fft(n);
    double windowPower = 0;
    for (int k = 0; k < n; ++k) {
        const double w = 0.5 - 0.5 * std::cos(2 * std::numbers::pi * k / n);
        fft.Input()[k] = samples[size_t(k)] * w;
        windowPower += w * w;
    }
    fft.Execute();
    // A one-sided bin's share of the mean square: 2 |X|^2 / (n sum w^2). A full-scale sine's
    // mean square is 1/2, so dBFS (AES17) is 10 log10(2 x mean square).
    const double binHz = rate_hz / n;
    std::vector<double> power(size_t(fft.Bins()));
    for (int k = 1; k < fft.Bins(); ++k) {
        power[size_t(k)] = 2 * std::norm(fft.Output()[k]) / (n * windowPower);
    }
    double flat = 0;
    double weighted = 0;
    for (int k = 1; k < fft.Bins(); ++k) {
        const double f = k * binHz;
        if (f >= 20.0 && f <= 20000.0) {
            flat += power[size_t(k)];
            weighted += power[size_t(k)] * std::pow(10.0, AWeightingDb(f) / 10);
        }
    }
    NoiseLevels levels;
    levels.dbfs = 10 * std::log10(2 * flat + 1e-30);
    levels.dba = 10 * std::log10(2 * weighted + 1e-30);
    // The spectrum as power per 1/12 octave from 20 Hz: a curve that reads the same whatever
    // the block's length.
    for (double lo = 20.0; lo < rate_hz / 2; lo *= std::pow(2.0, 1.0 / 12)) {
        const double hi = lo * std::pow(2.0, 1.0 / 12);
        double sum = 0;
        for (int k = int(std::ceil(lo / binHz)); k < fft.Bins() && k * binHz < hi; ++k) {
            sum += power[size_t(k)];
        }
        if (sum > 0) {
            levels.freq_hz.push_back(std::sqrt(lo * hi));
            levels.level_dbfs.push_back(10 * std::log10(2 * sum));
        }
    }
    return levels;
}

double ResponseAt(const std::vector<double>& freq_hz, const std::vector<double>& mag_db, double f) {
    const auto it = std::lower_bound(freq_hz.begin(), freq_hz.end(), f);
    if (it == freq_hz.begin()) {
        return mag_db.front();
    }
    if (it == freq_hz.end()) {
        return mag_db.back();
    }
    const size_t i = size_t(it - freq_hz.begin());
    const double t = std::log(f / freq_hz[i - 1]) / std::log(freq_hz[i] / freq_hz[i - 1]);
    return mag_db[i - 1] + t * (mag_db[i] - mag_db[i - 1]);
}

namespace {

// Where the curve between points a and b crosses level, in log frequency.
double Crossing(const std::vector<double>& freq_hz, const std::vector<double>& mag_db, size_t a,
                size_t b, double level) {
    const double t = (level - mag_db[a]) / (mag_db[b] - mag_db[a]);
    return freq_hz[a] * std::pow(freq_hz[b] / freq_hz[a], t);
}

} // namespace

ResponseFigures ReadResponse(const std::vector<double>& freq_hz, const std::vector<double>& mag_db,
                             double lo_hz, double hi_hz) {
    ResponseFigures figures;
    if (freq_hz.empty()) {
        return figures;
    }
    const double ref = ResponseAt(freq_hz, mag_db, 1000.0);
    figures.max_db = -1e300;
    figures.min_db = 1e300;
    // The band's edges count, read between the points: a falling response is lowest there.
    for (const double edge : {lo_hz, hi_hz}) {
        figures.max_db = std::max(figures.max_db, ResponseAt(freq_hz, mag_db, edge) - ref);
        figures.min_db = std::min(figures.min_db, ResponseAt(freq_hz, mag_db, edge) - ref);
    }
    for (size_t i = 0; i < freq_hz.size(); ++i) {
        if (freq_hz[i] > lo_hz && freq_hz[i] < hi_hz) {
            figures.max_db = std::max(figures.max_db, mag_db[i] - ref);
            figures.min_db = std::min(figures.min_db, mag_db[i] - ref);
        }
    }
    const double level = ref - 3.0;
    const size_t start =
        size_t(std::lower_bound(freq_hz.begin(), freq_hz.end(), 1000.0) - freq_hz.begin());
    for (size_t i = std::min(start, freq_hz.size() - 1); i > 0; --i) {
        if (mag_db[i - 1] < level) {
            figures.low_hz = Crossing(freq_hz, mag_db, i, i - 1, level);
            break;
        }
    }
    for (size_t i = start; i + 1 < freq_hz.size(); ++i) {
        if (mag_db[i + 1] < level) {
            figures.high_hz = Crossing(freq_hz, mag_db, i, i + 1, level);
            break;
        }
    }
    return figures;
}
