#include "analysis/sweep/sweep_analyser.h"

#include "analysis/sweep/sweep_points.h"
#include "base/full_scale.h"
#include "fft/real_fft.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <stdexcept>

// Method. The capture's spectrum times the regularised inverse of the generated sweep's own
// spectrum, transformed back, is the impulse response: the linear one at the latency, harmonic N's
// L ln N earlier (circularly, so at the buffer's end).
//
// Why the generated sweep's exact spectrum and not the closed-form inverse
// 2 sqrt(f/L) exp(-j2 pi f L (1 - ln(f/f1)) + j pi/4): that form is the stationary-phase
// approximation of an endless sweep and knows nothing of the fades or of the sweep's finite ends.
// On a loop-back of the default sweep it read 0.08 dB and 1.3 degrees off at 20-30 Hz and 0.01 dB
// at 100 Hz; dividing by the sweep actually played makes a loop-back an exact delay wherever the
// sweep plays (under 0.001 dB and 0.001 degrees from 20 Hz to 20 kHz). The synchronisation still
// holds: sin(N phase(t)) is the same sweep advanced by L ln N, so each harmonic deconvolves to its
// own impulse response there, at its own level.
//
// The sweep starts abruptly at f1, so its spectrum falls steeply below it; dividing by it there
// would leave an edge in the deconvolved response whose ringing lasts longer than any window
// between the linear response and H2, and its cut-off tails ripple the lowest octaves. So the
// deconvolution also applies a known causal highpass (a fourth-order Butterworth at f1 / sqrt 2,
// bilinear): its ringing falls after the peak, where the linear window reaches far, and each
// spectrum is divided by the highpass's exact response again afterwards. Under the highpass, the
// regularisation is a floor under |X|^2: 1e-8 of its peak where the sweep plays (far below the
// pink sweep's top, 33 dB under its bottom over the default band), rising to the peak itself
// over a sixth of an octave from half the highpass's corner down and from f2 up, so nothing
// outside the sweep is divided up from noise.
//
// Arrival: the sweep came back when the response stands out of its own noise: its largest sample
// at least 30 dB over the noise's RMS, read as the median of |response| over the whole capture
// (the median of a normal deviate's magnitude is 0.674 of its RMS), which neither the response's
// own energy nor its harmonics' move while they fill less than half the capture. Against the
// RMS of the whole capture, a band-limited device was refused for having spread its energy: a
// fourth-order 50 Hz lowpass lasts thousands of samples and peaks only 24 dB over that RMS with
// no noise at all. And since the deconvolved noise rises with frequency (the pink sweep's
// inverse), a device that passes only low frequencies may be buried over the whole band while
// standing far out of the noise within its own: so the test is made again over overlapping
// two-octave bands of the sweep, an octave apart, and a band that passes it with a neighbour
// that also passes, its peak at the same time, carries the arrival. One band alone is not
// enough: a steady tone deconvolves into a sharp peak in each band below it, each where the
// sweep passes that band, so those peaks lie an octave's sweep time apart from band to band.
//
// Latency: the largest sample of the unshaped response (of the band that carried the arrival,
// when the whole band did not), then Newton steps on the slope of its
// band-limited interpolation (the deconvolved spectrum summed at a fractional time, so exact
// for the capture), from a parabola's guess. A parabola alone, or a short windowed sinc, is
// biased by a hundredth of a sample or more for a response that reaches Nyquist.
//
// Windows: each response is cut from halfway to its earlier neighbour to halfway to its later one
// (the linear one, whose tail is the highpass's ringing, a quarter of the capture after it or
// twice as far as H2 lies before, whichever is longer, as far as the harmonics' windows leave
// room), flat in the middle and raised-cosine over the outer third of each side.

namespace {
constexpr double kFloorInBand = 1e-8;
constexpr double kFloorRampOctaves = 1.0 / 6;
constexpr double kNoSignalRatio = 31.6; // 30 dB: the peak over the noise's RMS
constexpr double kMedianOfRms = 0.6745; // |a normal deviate|'s median over its RMS
constexpr double kArrivalBandOctaves = 2;
constexpr int kMostArrivalBands = 24; // 1 Hz to 384 kHz's Nyquist in octave steps
constexpr int kNewtonSteps = 8;
constexpr int kComponents = kSweepHighestHarmonic; // linear and H2..H9
constexpr double kGateFallingFraction = 0.25;      // of the gate's right part
constexpr double kHighpassCornerOfF1 = 0.7071;
// Butterworth's fourth order as two second-order sections.
constexpr std::array<double, 2> kHighpassQ = {0.5411961, 1.3065630};

// The highpass's response at hz, exact for the bilinear transform of the analogue prototype
// (s = j 2 rate tan(pi f / rate)); zero at DC, one at Nyquist.
std::complex<double> Highpass(double hz, double cornerHz, double rateHz) {
    const double omega =
        2 * rateHz * std::tan(std::numbers::pi * std::min(hz, rateHz / 2 * 0.999999) / rateHz);
    const double corner = 2 * rateHz * std::tan(std::numbers::pi * cornerHz / rateHz);
    std::complex<double> h = 1;
    for (double q : kHighpassQ) {
        const std::complex<double> s(0, omega);
        h *= s * s / (s * s + s * corner / q + corner * corner);
    }
    return hz >= rateHz / 2 ? 1.0 : h;
}

// Raised cosine from 0 at `outside` octaves beyond an edge to 1 at the edge and inside.
double Edge(double outside, double octaves) {
    return outside <= 0         ? 1.0
           : outside >= octaves ? 0.0
                                : 0.5 + 0.5 * std::cos(std::numbers::pi * outside / octaves);
}

// One band of the arrival's search, from loHz over kArrivalBandOctaves: raised-cosine to nothing
// over a quarter octave beyond each edge, so the band's own ringing stays short; and nothing of
// the sweep's own edges (below 2 f1, where it fades in and the highpass lies, and above where
// it fades out), whose steep spectra ring at fixed times whenever anything broadband, such as
// a tone's jump where the capture wraps round, is deconvolved.
double BandWeight(double hz, double loHz, double interiorLoHz, double interiorHiHz) {
    constexpr double kEdgeOctaves = 0.25;
    const double at = std::max(hz, 1e-3);
    const double octaves = std::log2(at / loHz);
    return Edge(std::max(-octaves, octaves - kArrivalBandOctaves), kEdgeOctaves) *
           Edge(std::log2(interiorLoHz / at), kEdgeOctaves) *
           Edge(std::log2(at / interiorHiHz), kEdgeOctaves);
}

double Taper(int i, int extent) {
    const double taperLength = std::max(1.0, extent / 3.0);
    const double fromEdge = extent - std::abs(i);
    return fromEdge >= taperLength
               ? 1.0
               : 0.5 - 0.5 * std::cos(std::numbers::pi * fromEdge / taperLength);
}

} // namespace

struct CSweepAnalyser::Impl {
    explicit Impl(const SweepSettings& sweep);

    int N() const { return m_settings.frames; }
    int Bins() const { return N() / 2 + 1; }

    // Deconvolves one channel into ir (highpass-shaped), its latency found on the unshaped one
    // first; says whether it clipped. peak: -1 when nothing came back.
    bool Deconvolve(const double* samples, int stride, std::vector<double>& ir, int& peak,
                    double& latency);
    // The largest sample of ir when it stands out of the noise by kNoSignalRatio, else -1;
    // *ratio: by how much it does.
    int Standout(const std::vector<double>& ir, double* ratio);
    // The band of the sweep in which the unshaped response stands out of its noise most: its
    // spectrum to m_band, its response to m_bandIr. False when it stands out in none.
    bool ArrivalBand();
    // peak refined to a fraction of a sample in latency, on spectrum's interpolation.
    void Refine(const std::vector<std::complex<double>>& spectrum, const std::vector<double>& ir,
                int peak, double& latency) const;
    // The first two derivatives of spectrum's response at a fractional time, in samples.
    void Derivatives(const std::vector<std::complex<double>>& spectrum, double at, double& slope,
                     double& curvature) const;
    // Cuts component (1 linear, 2.. harmonics) around centre, by the gate's weights when gated;
    // the sample at centre goes to placeAt, and its spectrum to out.
    void Transform(const std::vector<double>& ir, int centre, int left, int right, int placeAt,
                   bool gated, std::vector<std::complex<double>>& out);

    SweepSettings m_settings;
    SweepShape m_shape;
    std::vector<double> m_sweep;
    CRealFft m_fft;
    CInverseRealFft m_ifft;
    std::vector<std::complex<double>> m_inverse;
    std::vector<std::complex<double>> m_highpass;
    std::vector<std::complex<double>> m_unshape; // 1 / the highpass, 0 where it is nothing
    std::vector<std::complex<double>> m_deconvolved;
    std::vector<std::complex<double>> m_band; // the deconvolved spectrum within one band
    std::vector<double> m_bandIr;             // its response
    std::vector<double> m_magnitudes;         // scratch for the noise's median
    std::vector<double> m_ir, m_refIr;
    // The sweep's own shaped response (a straight wire's) and its peak, and its spectrum through
    // the gate: what the gate does to the highpass's ringing, divided out of a gated response.
    std::vector<double> m_wireIr;
    int m_wirePeak = 0;
    std::vector<std::complex<double>> m_gatedWire;
    std::array<std::vector<std::complex<double>>, kComponents> m_spectra;
    std::vector<std::complex<double>> m_refSpectrum;
    CSweepPoints m_points;
    SweepResult m_result;
    double m_impulseScale = 1; // makes the sweep's own response peak at 1
};

CSweepAnalyser::Impl::Impl(const SweepSettings& sweep)
    : m_settings(sweep), m_shape(MakeSweepShape(sweep)), m_sweep(GenerateSweep(sweep)),
      m_fft(sweep.frames), m_ifft(sweep.frames), m_inverse(size_t(Bins())),
      m_highpass(size_t(Bins())), m_unshape(size_t(Bins())), m_deconvolved(size_t(Bins())),
      m_band(size_t(Bins())), m_bandIr(size_t(N())), m_magnitudes(size_t(N())), m_ir(size_t(N())),
      m_refIr(size_t(N())), m_gatedWire(size_t(Bins())), m_refSpectrum(size_t(Bins())),
      m_points(Bins(), kComponents) {
    for (auto& spectrum : m_spectra) {
        spectrum.resize(size_t(Bins()));
    }
    std::copy(m_sweep.begin(), m_sweep.end(), m_fft.Input());
    m_fft.Execute();
    double peakPower = 0;
    for (int k = 0; k < Bins(); ++k) {
        peakPower = std::max(peakPower, std::norm(m_fft.Output()[k]));
    }
    const double binHz = sweep.rate_hz / N();
    const double cornerHz = kHighpassCornerOfF1 * sweep.f1_hz;
    for (int k = 0; k < Bins(); ++k) {
        const double hz = std::max(k * binHz, 1e-3);
        const std::complex<double> shape = Highpass(k * binHz, cornerHz, sweep.rate_hz);
        m_highpass[size_t(k)] = shape;
        m_unshape[size_t(k)] = std::abs(shape) > 1e-9 ? 1.0 / shape : 0.0;
        const double outside =
            std::max({0.0, std::log2(cornerHz / 2 / hz), std::log2(hz / sweep.f2_hz)});
        const double ramp = std::min(1.0, outside / kFloorRampOctaves);
        // From kFloorInBand to 1 in log terms along a raised cosine.
        const double floor =
            peakPower * std::pow(kFloorInBand, 0.5 + 0.5 * std::cos(std::numbers::pi * ramp));
        const std::complex<double> x = m_fft.Output()[k];
        m_inverse[size_t(k)] = std::conj(x) / ((std::norm(x) + floor) * N());
    }
    // The regularisation and the highpass leave the sweep's own response a little under 1.
    int peak = 0;
    double latency = 0;
    Deconvolve(m_sweep.data(), 1, m_ir, peak, latency);
    m_impulseScale = peak >= 0 ? 1.0 / m_ir[size_t(peak)] : 1.0;
    m_wireIr = m_ir;
    m_wirePeak = std::max(peak, 0);
}

// The unshaped response is symmetric about a pure delay's peak, so its peak is the delay; the
// highpass's ringing would lean it by a thousandth of a sample.
bool CSweepAnalyser::Impl::Deconvolve(const double* samples, int stride, std::vector<double>& ir,
                                      int& peak, double& latency) {
    CClipRun clip;
    double* in = m_fft.Input();
    for (int n = 0; n < N(); ++n) {
        in[n] = samples[int64_t(n) * stride];
        clip.Add(in[n]);
    }
    m_fft.Execute();
    for (int k = 0; k < Bins(); ++k) {
        m_deconvolved[size_t(k)] = m_fft.Output()[k] * m_inverse[size_t(k)];
        m_ifft.Input()[k] = m_deconvolved[size_t(k)];
    }
    m_ifft.Execute();
    std::copy(m_ifft.Output(), m_ifft.Output() + N(), ir.begin());
    double ratio = 0;
    peak = Standout(ir, &ratio);
    if (peak >= 0) {
        Refine(m_deconvolved, ir, peak, latency);
    } else if (ArrivalBand()) {
        peak = Standout(m_bandIr, &ratio);
        Refine(m_band, m_bandIr, peak, latency);
    }
    for (int k = 0; k < Bins(); ++k) {
        m_ifft.Input()[k] = m_deconvolved[size_t(k)] * m_highpass[size_t(k)];
    }
    m_ifft.Execute();
    std::copy(m_ifft.Output(), m_ifft.Output() + N(), ir.begin());
    return clip.Clipped();
}

int CSweepAnalyser::Impl::Standout(const std::vector<double>& ir, double* ratio) {
    int peak = 0;
    for (int n = 0; n < N(); ++n) {
        m_magnitudes[size_t(n)] = std::fabs(ir[size_t(n)]);
        if (m_magnitudes[size_t(n)] > m_magnitudes[size_t(peak)]) {
            peak = n;
        }
    }
    const double top = m_magnitudes[size_t(peak)];
    const auto middle = m_magnitudes.begin() + N() / 2;
    std::nth_element(m_magnitudes.begin(), middle, m_magnitudes.end());
    const double noise = *middle / kMedianOfRms;
    *ratio = noise > 0 ? top / noise : (top > 0 ? kNoSignalRatio : 0.0);
    return top > 0 && top >= kNoSignalRatio * noise ? peak : -1;
}

bool CSweepAnalyser::Impl::ArrivalBand() {
    const double binHz = m_settings.rate_hz / N();
    const double interiorLo = 2 * m_settings.f1_hz * std::exp2(0.25);
    const double interiorHi = m_shape.fade_out_hz * std::exp2(-0.25);
    const double top = std::min(m_settings.f2_hz, m_settings.rate_hz / 2);
    std::array<double, kMostArrivalBands> ratios{};
    std::array<int, kMostArrivalBands> peaks{};
    int bands = 0;
    for (double lo = m_settings.f1_hz; lo < top && bands < kMostArrivalBands; lo *= 2) {
        for (int k = 0; k < Bins(); ++k) {
            m_ifft.Input()[k] =
                m_deconvolved[size_t(k)] * BandWeight(k * binHz, lo, interiorLo, interiorHi);
        }
        m_ifft.Execute();
        std::copy(m_ifft.Output(), m_ifft.Output() + N(), m_bandIr.begin());
        double ratio = 0;
        const int peak = Standout(m_bandIr, &ratio);
        ratios[size_t(bands)] = peak >= 0 ? ratio : 0.0;
        peaks[size_t(bands)] = peak;
        ++bands;
    }
    // Any frequency lies in two neighbouring bands, and a device's response to it arrives in
    // both at once. A tone's peaks lie a whole octave's sweep time apart from band to band, so
    // neighbours that agree within a quarter of that are the sweep come back.
    const int agree = std::max(1, int(m_shape.l_s * std::log(2.0) * m_settings.rate_hz / 4));
    const auto together = [&](int b, int other) {
        if (other < 0 || other >= bands || ratios[size_t(other)] == 0) {
            return false;
        }
        const int apart = std::abs(peaks[size_t(b)] - peaks[size_t(other)]);
        return std::min(apart, N() - apart) <= agree;
    };
    int best = -1;
    for (int b = 0; b < bands; ++b) {
        if (ratios[size_t(b)] > 0 && (together(b, b - 1) || together(b, b + 1)) &&
            (best < 0 || ratios[size_t(b)] > ratios[size_t(best)])) {
            best = b;
        }
    }
    if (best < 0) {
        return false;
    }
    const double bestLo = m_settings.f1_hz * std::exp2(best);
    for (int k = 0; k < Bins(); ++k) {
        m_band[size_t(k)] =
            m_deconvolved[size_t(k)] * BandWeight(k * binHz, bestLo, interiorLo, interiorHi);
        m_ifft.Input()[k] = m_band[size_t(k)];
    }
    m_ifft.Execute();
    std::copy(m_ifft.Output(), m_ifft.Output() + N(), m_bandIr.begin());
    return true;
}

void CSweepAnalyser::Impl::Refine(const std::vector<std::complex<double>>& spectrum,
                                  const std::vector<double>& ir, int peak, double& latency) const {
    // A parabola through the three samples starts the search.
    const double before = ir[size_t((peak + N() - 1) % N())];
    const double after = ir[size_t((peak + 1) % N())];
    const double bend = before - 2 * ir[size_t(peak)] + after;
    double offset = bend != 0 ? std::clamp(0.5 * (before - after) / bend, -0.5, 0.5) : 0.0;
    for (int step = 0; step < kNewtonSteps; ++step) {
        double slope = 0;
        double curvature = 0;
        Derivatives(spectrum, peak + offset, slope, curvature);
        if (curvature == 0) {
            break;
        }
        const double move = std::clamp(-slope / curvature, -0.5, 0.5);
        offset = std::clamp(offset + move, -1.0, 1.0);
        if (std::fabs(move) < 1e-9) {
            break;
        }
    }
    latency = peak + offset;
}

// The response between samples is the deconvolved spectrum summed at that time: the capture's
// own band-limited interpolation, exact for any fraction.
void CSweepAnalyser::Impl::Derivatives(const std::vector<std::complex<double>>& spectrum, double at,
                                       double& slope, double& curvature) const {
    const double w = 2 * std::numbers::pi / N();
    const std::complex<double> turn = std::polar(1.0, w * at);
    std::complex<double> rotor = 1;
    double first = 0;
    double second = 0;
    for (int k = 0; k < Bins(); ++k) {
        const std::complex<double> z = spectrum[size_t(k)] * rotor;
        const double weight = (k == 0 || 2 * k == N()) ? 1.0 : 2.0;
        first -= weight * k * z.imag();
        second -= weight * double(k) * k * z.real();
        rotor *= turn;
        if (k % 1024 == 1023) {
            rotor = std::polar(1.0, w * at * (k + 1)); // the product drifts over many bins
        }
    }
    slope = first * w;
    curvature = second * w * w;
}

void CSweepAnalyser::Impl::Transform(const std::vector<double>& ir, int centre, int left, int right,
                                     int placeAt, bool gated,
                                     std::vector<std::complex<double>>& out) {
    double* in = m_fft.Input();
    std::fill(in, in + N(), 0.0);
    for (int i = -left; i <= right; ++i) {
        const double w = gated ? GateWeight(i, left, right) : Taper(i, i < 0 ? left : right);
        in[((placeAt + i) % N() + N()) % N()] = ir[size_t(((centre + i) % N() + N()) % N())] * w;
    }
    m_fft.Execute();
    for (int k = 0; k < Bins(); ++k) {
        out[size_t(k)] = m_fft.Output()[k] * m_unshape[size_t(k)];
    }
}

namespace {

template <typename Result> auto& HarmonicColumn(Result& r, int order) {
    const std::array columns = {&r.h2_db, &r.h3_db, &r.h4_db, &r.h5_db,
                                &r.h6_db, &r.h7_db, &r.h8_db, &r.h9_db};
    static_assert(columns.size() == kSweepHighestHarmonic - 1);
    if (order < 2 || order > kSweepHighestHarmonic) {
        throw std::out_of_range("sweep: no such harmonic");
    }
    return *columns[size_t(order - 2)];
}

} // namespace

std::vector<double>& HarmonicDb(SweepResult& r, int order) {
    return HarmonicColumn(r, order);
}

const std::vector<double>& HarmonicDb(const SweepResult& r, int order) {
    return HarmonicColumn(r, order);
}

double GateWeight(int i, int left, int right) {
    if (i < 0) {
        return i < -left ? 0.0 : 0.5 - 0.5 * std::cos(std::numbers::pi * (left + i) / left);
    }
    const double falling = std::max(1.0, kGateFallingFraction * right);
    const double fromEnd = right - i;
    return fromEnd < 0          ? 0.0
           : fromEnd >= falling ? 1.0
                                : 0.5 - 0.5 * std::cos(std::numbers::pi * fromEnd / falling);
}

CSweepAnalyser::CSweepAnalyser(const SweepSettings& sweep)
    : m_impl(std::make_unique<Impl>(sweep)) {}

CSweepAnalyser::~CSweepAnalyser() = default;

const SweepShape& CSweepAnalyser::Shape() const {
    return m_impl->m_shape;
}

const std::vector<double>& CSweepAnalyser::Sweep() const {
    return m_impl->m_sweep;
}

const SweepResult& CSweepAnalyser::Analyse(const double* response, int stride,
                                           const double* reference,
                                           const SweepAnalysisSettings& settings) {
    Impl& m = *m_impl;
    const double nyquist = m.m_settings.rate_hz / 2;
    if (!(settings.lo_hz > 0 && settings.lo_hz < settings.hi_hz && settings.hi_hz <= nyquist)) {
        throw std::invalid_argument("sweep analysis: the band must lie within 0..Nyquist");
    }
    if (settings.points_per_octave < 1 || settings.points_per_octave > 480) {
        throw std::invalid_argument("sweep analysis: points per octave must be 1..480");
    }
    const bool gated = settings.gate_left_ms > 0 || settings.gate_right_ms > 0;
    if (!(settings.gate_left_ms >= 0 && settings.gate_left_ms <= kSweepGateMostMs &&
          settings.gate_right_ms >= 0 && settings.gate_right_ms <= kSweepGateMostMs) ||
        (gated && settings.gate_right_ms <= 0)) {
        throw std::invalid_argument("sweep analysis: the gate must end after the peak, within 5 s");
    }
    SweepResult& r = m.m_result;
    r.refusal = SweepRefusal::None;
    r.latency_samples = r.latency_ms = 0;
    ClearPoints(r);
    r.impulse.clear();
    r.impulse_peak = 0;
    r.gate_first = r.gate_last = 0;
    r.gate_lowest_hz = 0;

    double latency = 0;
    double refLatency = 0;
    int peak = -1;
    int refPeak = 0;
    const bool clipped = m.Deconvolve(response, stride, m.m_ir, peak, latency);
    const bool refClipped =
        reference && m.Deconvolve(reference, stride, m.m_refIr, refPeak, refLatency);
    if (clipped || refClipped) {
        r.refusal = SweepRefusal::Clipped;
        return r;
    }
    if (peak < 0 || refPeak < 0) {
        r.refusal = SweepRefusal::NoSignal;
        return r;
    }

    // Where each response lies before the linear one, in frames: advance[i] for order i + 1.
    const int n = m.N();
    std::array<int, kComponents + 1> advance{};
    for (int order = 1; order <= kComponents + 1; ++order) {
        advance[size_t(order - 1)] =
            int(std::lround(HarmonicAdvanceSeconds(m.m_shape, order) * m.m_settings.rate_hz));
    }
    // Harmonics exist only where N f1 is still inside the sweep, and their windows must not
    // wrap round into the linear one's.
    int highest = settings.harmonics ? std::min(kSweepHighestHarmonic,
                                                int(m.m_settings.f2_hz / m.m_settings.f1_hz))
                                     : 1;
    const int linearLeft = std::min(advance[1] / 2, n / 4);
    int linearRight = std::min(std::max(2 * advance[1], n / 4), n / 2);
    if (highest > 1) {
        const int spanBack = advance[size_t(highest)] / 2 + advance[size_t(highest - 1)] / 2;
        linearRight = std::min(linearRight, n - spanBack - 1);
        if (linearRight < advance[1] / 2) {
            highest = 1;
            linearRight = std::min(std::max(2 * advance[1], n / 4), n / 2);
        }
    }
    // The gate lies within the linear window, and cuts the reference's response as it cuts the
    // channel's, so that what the card itself rings past the gate leaves both alike.
    const double framesPerMs = m.m_settings.rate_hz / 1e3;
    const int gateLeft =
        gated ? std::min(linearLeft, int(std::lround(settings.gate_left_ms * framesPerMs)))
              : linearLeft;
    const int gateRight =
        gated ? std::min(linearRight,
                         std::max(1, int(std::lround(settings.gate_right_ms * framesPerMs))))
              : linearRight;
    const int placeLinear = reference ? peak - refPeak : 0;
    m.Transform(m.m_ir, peak, gateLeft, gateRight, placeLinear, gated, m.m_spectra[0]);
    if (reference) {
        m.Transform(m.m_refIr, refPeak, gateLeft, gateRight, 0, gated, m.m_refSpectrum);
    }
    if (gated) {
        // The deconvolution's highpass rings for tens of milliseconds after the peak; a gate
        // cuts that ringing off, which alone would read 0.6 dB low at 1 / the gate's length.
        // Its share is a straight wire's response through the same gate (its peak placed at 0,
        // so the channel's own placement stays in its phase), divided out.
        m.Transform(m.m_wireIr, m.m_wirePeak, gateLeft, gateRight, 0, true, m.m_gatedWire);
        for (size_t k = 0; k < m.m_gatedWire.size(); ++k) {
            const std::complex<double> wire = m.m_gatedWire[k];
            const bool usable = std::abs(wire) > 1e-9;
            m.m_spectra[0][k] = usable ? m.m_spectra[0][k] / wire : 0.0;
            m.m_refSpectrum[k] = usable ? m.m_refSpectrum[k] / wire : 0.0;
        }
    }
    for (int order = 2; order <= highest; ++order) {
        const int left = (advance[size_t(order)] - advance[size_t(order - 1)]) / 2;
        const int right = (advance[size_t(order - 1)] - advance[size_t(order - 2)]) / 2;
        m.Transform(m.m_ir, peak - advance[size_t(order - 1)], left, right, 0, false,
                    m.m_spectra[size_t(order - 1)]);
    }

    r.impulse.resize(size_t(linearLeft + linearRight + 1));
    for (int i = -linearLeft; i <= linearRight; ++i) {
        r.impulse[size_t(linearLeft + i)] =
            float(m.m_ir[size_t(((peak + i) % n + n) % n)] * m.m_impulseScale);
    }
    r.impulse_peak = linearLeft;
    r.gate_first = linearLeft - gateLeft;
    r.gate_last = linearLeft + gateRight;
    r.gate_lowest_hz = gated ? m.m_settings.rate_hz / (gateLeft + gateRight) : 0.0;

    r.latency_samples = reference ? latency - refLatency : latency;
    r.latency_ms = 1e3 * r.latency_samples / m.m_settings.rate_hz;
    const double residualDelay = reference ? r.latency_samples : latency - peak;
    const double topHz = std::min(m.m_shape.fade_out_hz, nyquist);
    m.m_points.Evaluate(m.m_spectra.data(), highest, reference ? &m.m_refSpectrum : nullptr,
                        residualDelay, m.m_settings.rate_hz, topHz, settings, r);
    return r;
}
