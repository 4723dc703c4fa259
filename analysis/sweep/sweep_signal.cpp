#include "analysis/sweep/sweep_signal.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <stdexcept>
#include <string>

namespace {

// Fade-in over the sweep's first eighth of an octave: it starts at zero slope, so the step at the
// start does not splash energy over the band. Fade-out over the last 1/24 octave, short because
// it eats the top of the band; each held to an eighth of the sweep for narrow bands.
constexpr double kFadeInOctaves = 1.0 / 8;
constexpr double kFadeOutOctaves = 1.0 / 24;

[[noreturn]] void Refuse(const std::string& why) {
    throw std::invalid_argument("sweep: " + why);
}

double RaisedCosine(double fraction) {
    return 0.5 - 0.5 * std::cos(std::numbers::pi * fraction);
}

} // namespace

SweepShape MakeSweepShape(const SweepSettings& s) {
    if (!(s.rate_hz >= 8000 && s.rate_hz <= 384000)) {
        Refuse("the sample rate must be 8000..384000 Hz");
    }
    if (!(s.f1_hz >= 1 && s.f2_hz <= s.rate_hz / 2 && s.f1_hz < s.f2_hz)) {
        Refuse("the band must lie within 1 Hz..Nyquist, f1 below f2");
    }
    if (s.frames < (1 << 16) || s.frames > (1 << 20) || (s.frames & (s.frames - 1)) != 0) {
        Refuse("the length must be a power of two, 65536..1048576 frames");
    }
    if (!(s.level_dbfs >= -60 && s.level_dbfs <= -1)) {
        Refuse("the level must be -60..-1 dBFS");
    }
    SweepShape shape;
    const double octaves = std::log2(s.f2_hz / s.f1_hz);
    const double logRatio = std::log(s.f2_hz / s.f1_hz);
    const double fitSeconds = s.frames * (1 - kSweepTailFraction) / s.rate_hz;
    // The nearest whole f1 L to the length asked for, one less if that would overrun the capture.
    shape.cycles = int(std::lround(s.f1_hz * fitSeconds / logRatio));
    if (shape.cycles / s.f1_hz * logRatio > fitSeconds) {
        --shape.cycles;
    }
    if (shape.cycles < 1) {
        Refuse("the length is too short for a sweep starting at this f1");
    }
    shape.l_s = shape.cycles / s.f1_hz;
    shape.sweep_frames = int(std::floor(shape.l_s * logRatio * s.rate_hz));
    const double framesPerOctave = shape.sweep_frames / octaves;
    shape.fade_in_frames =
        std::max(2, int(std::min(kFadeInOctaves * framesPerOctave, shape.sweep_frames / 8.0)));
    shape.fade_out_frames =
        std::max(2, int(std::min(kFadeOutOctaves * framesPerOctave, shape.sweep_frames / 8.0)));
    shape.fade_out_hz =
        s.f1_hz * std::exp((shape.sweep_frames - shape.fade_out_frames) / (shape.l_s * s.rate_hz));
    // AES17: a sine of amplitude 1 is 0 dBFS RMS, so the peak is the level as a ratio.
    shape.amplitude = std::pow(10.0, s.level_dbfs / 20);
    return shape;
}

std::vector<double> GenerateSweep(const SweepSettings& settings) {
    const SweepShape shape = MakeSweepShape(settings);
    std::vector<double> x(size_t(settings.frames), 0.0);
    const double perFrame = 1 / (shape.l_s * settings.rate_hz);
    for (int n = 0; n < shape.sweep_frames; ++n) {
        // The phase's whole cycles (f1 L e^{t/L} - f1 L) are taken out before the 2 pi so that
        // a million-radian phase keeps its fraction to double precision.
        const double cycles = settings.f1_hz * shape.l_s * std::expm1(n * perFrame);
        double v = shape.amplitude * std::sin(2 * std::numbers::pi * (cycles - std::floor(cycles)));
        if (n < shape.fade_in_frames) {
            v *= RaisedCosine(double(n) / shape.fade_in_frames);
        }
        const int fromEnd = shape.sweep_frames - 1 - n;
        if (fromEnd < shape.fade_out_frames) {
            v *= RaisedCosine(double(fromEnd) / shape.fade_out_frames);
        }
        x[size_t(n)] = v;
    }
    return x;
}

std::vector<int16_t> ToInt16(const std::vector<double>& samples) {
    std::vector<int16_t> out(samples.size());
    for (size_t k = 0; k < samples.size(); ++k) {
        out[k] = int16_t(std::clamp(std::round(samples[k] * 32768), -32768.0, 32767.0));
    }
    return out;
}

double HarmonicAdvanceSeconds(const SweepShape& shape, int order) {
    return shape.l_s * std::log(double(order));
}
