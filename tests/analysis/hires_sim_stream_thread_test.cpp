// The analysers through the simulated card opened as a measurement stream at its own rate and
// depth, run as fast as the machine goes: a tone or a sweep made here at the stream's rate, the
// device under test the name sets, and the readings against oracles worked out here: the tone's
// own rounding error, planted harmonics, the cookbook low-pass evaluated at the stream's rate.
#include "analysis/distortion/distortion.h"
#include "analysis/sweep/sweep_measurement.h"
#include "audio/sim/simulated_bench.h"
#include "audio/sim/simulated_dut.h"
#include "audio/sim/simulated_stream.h"
#include "audio/stream/stream_format.h"

#include "tests/analysis/test_signals.h"
#include "tests/support/wait_until.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <complex>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace {

const double kMinus1Dbfs = std::pow(10.0, -1.0 / 20);

// Sines at the stream's rate, each channel the same, rounded to `bits` as a player of that depth
// would send them (0: float, as they are).
class CToneSource final : public IStreamSource {
public:
    CToneSource(std::vector<Partial> partials, double rate_hz, int bits)
        : m_partials(std::move(partials)), m_rate(rate_hz), m_bits(bits) {}

    double Exact(int64_t frame) const {
        double x = 0;
        for (const Partial& p : m_partials) {
            // whole cycles dropped first, so the phase stays exact however long the run
            const double cycles = p.freq_hz * double(frame) / m_rate;
            x += p.amplitude * std::sin(2 * kPi * (cycles - std::floor(cycles)) + p.phase);
        }
        return x;
    }
    double Sample(int64_t frame) const {
        return m_bits == 0 ? double(float(Exact(frame)))
                           : QuantiseToBits(Exact(frame), m_bits, nullptr);
    }

    void Fill(float* interleaved, int frames) override {
        for (int n = 0; n < frames; ++n, ++m_frame) {
            interleaved[2 * n] = interleaved[2 * n + 1] = float(Sample(m_frame));
        }
    }

private:
    std::vector<Partial> m_partials;
    double m_rate;
    int m_bits;
    int64_t m_frame = 0;
};

// Plays a prepared block of interleaved frames once, then silence.
class CBlockSource final : public IStreamSource {
public:
    explicit CBlockSource(const std::vector<float>& block) : m_block(block) {}
    void Fill(float* interleaved, int frames) override {
        for (size_t i = 0; i < 2 * size_t(frames); ++i, ++m_at) {
            interleaved[i] = m_at < m_block.size() ? m_block[m_at] : 0.0f;
        }
    }

private:
    const std::vector<float>& m_block;
    size_t m_at = 0;
};

// Keeps X1 of the first `frames` captured frames, then says it is full.
struct Capture {
    explicit Capture(int frames) : x1(size_t(frames)) {}
    std::vector<double> x1;
    size_t at = 0;
    std::atomic<bool> full{false};

    static void Tap(const float* interleaved, int frames, uint64_t, ClockStamp, void* self) {
        auto* c = static_cast<Capture*>(self);
        for (int n = 0; n < frames && c->at < c->x1.size(); ++n) {
            c->x1[c->at++] = interleaved[2 * n];
        }
        if (c->at == c->x1.size()) {
            c->full = true;
        }
    }
};

class HiresSimStream : public ::testing::Test {
protected:
    void SetUp() override {
        CSimulatedBench::Instance().Reset();
        CSimulatedBench::Instance().SetClock(BenchClock::Stepped);
    }
    void TearDown() override { CSimulatedBench::Instance().Reset(); }

    // Runs `name` at `format` with `source` until `done` says so (a minute at most).
    static void Run(const std::string& name, StreamFormat format, IStreamSource* source,
                    StreamTapFn tap, void* context, const std::function<bool()>& done) {
        std::string error;
        const auto stream = OpenSimulatedStream(name, format, &error);
        ASSERT_NE(stream, nullptr) << error;
        ASSERT_TRUE(stream->Start(tap, context, source, &error)) << error;
        WaitUntil(done, std::chrono::minutes(1));
        stream->Stop();
        ASSERT_TRUE(done()) << name << " did not deliver in time";
    }

    // X1 of `frames` frames from `skip` on, of `source` through `name`.
    static std::vector<double> Record(const std::string& name, StreamFormat format,
                                      IStreamSource& source, int skip, int frames) {
        Capture capture(skip + frames);
        Run(name, format, &source, &Capture::Tap, &capture, [&] { return capture.full.load(); });
        return std::vector<double>(capture.x1.begin() + skip, capture.x1.end());
    }
};

constexpr int kFrames = 65536;

// s24 at 96 kHz through a plain cable: THD+N is the 24-bit tone's own rounding error, in band,
// about -148 dB: neither converter may add any of its own.
TEST_F(HiresSimStream, S24PlainCableReadsTheTonesOwnRoundingError) {
    constexpr double rate = 96000;
    CToneSource tone({{kMinus1Dbfs, 997, 0.4}}, rate, 24);
    const auto x = Record("sim", {96000, SampleFormat::S24}, tone, 0, kFrames);
    std::vector<double> error(static_cast<size_t>(kFrames));
    for (int n = 0; n < kFrames; ++n) {
        error[size_t(n)] = tone.Sample(n) - tone.Exact(n);
    }
    const double noise = BandMeanSquare(error, 20, 20000, rate);
    const double oracleDb = 10 * std::log10(noise / (0.5 * kMinus1Dbfs * kMinus1Dbfs + noise));
    ASSERT_LT(oracleDb, -140);

    CDistortionAnalyser analyser(kFrames, rate);
    const DistortionReading r = analyser.Analyse(x.data(), 1, {});
    ASSERT_EQ(r.refusal, DistortionRefusal::None);
    EXPECT_NEAR(*r.thdn_db, oracleDb, 1.0);
    RecordProperty("thdn_db", std::to_string(*r.thdn_db));
    RecordProperty("oracle_db", std::to_string(oracleDb));
}

// A poly stage's a2 x^2 on x = A sin wt is a2 A^2 (1 - cos 2wt) / 2: H2 at a2 A / 2 of the
// fundamental, so a2 = 2 x 10^(-130/20) / A plants it at -130 dB.
TEST_F(HiresSimStream, S24PolyPlantsH2At130DbBelow) {
    constexpr double rate = 96000;
    const double a2 = 2 * std::pow(10.0, -130.0 / 20) / kMinus1Dbfs;
    CToneSource tone({{kMinus1Dbfs, 997, 0.4}}, rate, 24);
    char name[64];
    std::snprintf(name, sizeof name, "sim:dut=poly:%.12g:0", a2);
    const auto x = Record(name, {96000, SampleFormat::S24}, tone, 8192, kFrames);
    CDistortionAnalyser analyser(kFrames, rate);
    const DistortionReading r = analyser.Analyse(x.data(), 1, {});
    ASSERT_EQ(r.refusal, DistortionRefusal::None);
    EXPECT_NEAR(*r.harmonics[0].level_db, -130, 0.5);
    RecordProperty("h2_db", std::to_string(*r.harmonics[0].level_db));
}

// At 192 kHz, float: tones the cable adds at exact multiples of 9 kHz stand for H2..H10, up to
// 90 kHz, each -100 dB below the -6 dBFS fundamental; the default band holds only H2 (18 kHz),
// a band to Nyquist all nine.
TEST_F(HiresSimStream, At192kHarmonicsTo90kHzAndABandToNyquist) {
    constexpr double rate = 192000;
    std::string chain = "sim:dut=";
    for (int n = 2; n <= 10; ++n) {
        chain += (n > 2 ? "+tone:" : "tone:") + std::to_string(9000 * n) + ":-106.0206";
    }
    CToneSource tone({{0.5, 9000, 0}}, rate, 0);
    const auto x = Record(chain, {192000, SampleFormat::Float}, tone, 0, kFrames);
    CDistortionAnalyser analyser(kFrames, rate);
    const DistortionReading narrow = analyser.Analyse(x.data(), 1, {});
    ASSERT_EQ(narrow.refusal, DistortionRefusal::None);
    for (const HarmonicReading& h : narrow.harmonics) {
        ASSERT_TRUE(h.level_db) << "H" << h.order;
        EXPECT_NEAR(*h.level_db, -100, 0.05) << "H" << h.order;
    }
    EXPECT_NEAR(narrow.harmonics.back().freq_hz, 90000, 1e-3);
    EXPECT_NEAR(*narrow.thdn_db, -100, 0.05);
    DistortionSettings toNyquist;
    toNyquist.band_hi_hz = rate / 2;
    const DistortionReading wide = analyser.Analyse(x.data(), 1, toNyquist);
    ASSERT_EQ(wide.refusal, DistortionRefusal::None);
    EXPECT_NEAR(*wide.thdn_db, 10 * std::log10(9e-10), 0.05);
}

// "sim:dut", the bench's amplifier, at 96 kHz behind a 24-bit dithering converter: its
// harmonics where its algebra puts them, y = x + a2 x^2 + a3 x^3 on x = A sin wt giving
// H2 a2 A^2 / 2 and H3 a3 A^3 / 4 against a fundamental of A + 3 a3 A^3 / 4.
TEST_F(HiresSimStream, TheBuiltInAmplifierAt96kGivesItsHarmonics) {
    constexpr double rate = 96000;
    const SimulatedDut& model = kSimDutModel;
    const double a = kMinus1Dbfs;
    const double fundamental = a + 0.75 * model.a3 * a * a * a;
    CToneSource tone({{a, 997, 0.4}}, rate, 24);
    const auto x = Record("sim:dut", {96000, SampleFormat::S24}, tone, 0, kFrames);
    CDistortionAnalyser analyser(kFrames, rate);
    const DistortionReading r = analyser.Analyse(x.data(), 1, {});
    ASSERT_EQ(r.refusal, DistortionRefusal::None);
    EXPECT_NEAR(*r.harmonics[0].level_db, Db(model.a2 * a * a / 2 / fundamental), 0.05);
    EXPECT_NEAR(*r.harmonics[1].level_db, Db(model.a3 * a * a * a / 4 / fundamental), 0.05);
}

// The cookbook low-pass at the stream's rate, evaluated on the unit circle.
double CookbookLowpassDb(double hz, double f0, double q, double rate) {
    const double w0 = 2 * kPi * f0 / rate;
    const double alpha = std::sin(w0) / (2 * q);
    const double c = std::cos(w0);
    const std::complex<double> z1 = std::polar(1.0, -2 * kPi * hz / rate);
    const auto b = (1 - c) / 2 * (1.0 + 2.0 * z1 + z1 * z1);
    const auto a = (1 + alpha) - 2 * c * z1 + (1 - alpha) * z1 * z1;
    return 20 * std::log10(std::abs(b / a));
}

// A sweep at 96 kHz, s24, through "lowpass:40000:0.707": the filter's response up to 45 kHz.
TEST_F(HiresSimStream, SweepAt96kReadsTheLowpassTo45kHz) {
    constexpr double rate = 96000;
    SweepMeasurementSettings settings;
    settings.sweep.rate_hz = rate;
    settings.analysis.hi_hz = 45000;
    SweepForBand(settings);
    CSweepMeasurement m(settings);
    const auto playback = m.PlaybackFloat();
    CBlockSource source(*playback);
    const auto tap = [](const float* interleaved, int frames, uint64_t gaps, ClockStamp stamp,
                        void* self) {
        static_cast<CSweepMeasurement*>(self)->Feed(interleaved, frames, gaps, stamp);
    };
    Run("sim:dut=lowpass:40000:0.707", {96000, SampleFormat::S24}, &source, tap, &m,
        [&] { return m.Complete(); });
    const SweepOutcome out = m.Analyse();
    ASSERT_EQ(out.failure, SweepFailure::None);
    const SweepResult& r = out.result;
    ASSERT_GT(r.freq_hz.back(), 45000 * std::pow(2.0, -1.0 / 48));
    double worst = 0;
    for (size_t i = 0; i < r.freq_hz.size(); ++i) {
        const double gap = r.mag_db[i] - CookbookLowpassDb(r.freq_hz[i], 40000, 0.707, rate);
        worst = std::fmax(worst, std::fabs(gap));
        EXPECT_NEAR(gap, 0, 0.02) << r.freq_hz[i] << " Hz";
    }
    RecordProperty("worst_db", std::to_string(worst));
}

// Played and captured frames share their stamps: with the first period's stamp as the sweep's
// departure, a plain cable's round trip reads none at all.
TEST_F(HiresSimStream, APlainCablesRoundTripIsNone) {
    SweepMeasurementSettings settings;
    settings.sweep.rate_hz = 48000;
    settings.sweep.frames = 1 << 16;
    SweepForBand(settings);
    CSweepMeasurement m(settings);
    const auto playback = m.PlaybackFloat();
    CBlockSource source(*playback);
    struct Feed {
        CSweepMeasurement* m;
        ClockStamp first;
    } feed{&m, {}};
    const auto tap = [](const float* interleaved, int frames, uint64_t gaps, ClockStamp stamp,
                        void* self) {
        auto* f = static_cast<Feed*>(self);
        if (!f->first.Known()) {
            f->first = stamp;
        }
        f->m->Feed(interleaved, frames, gaps, stamp);
    };
    Run("sim", {48000, SampleFormat::Float}, &source, tap, &feed, [&] { return m.Complete(); });
    ASSERT_EQ(feed.first.clock, DeviceClock::Bench);
    m.SetDeparture(feed.first);
    const SweepOutcome out = m.Analyse();
    ASSERT_EQ(out.failure, SweepFailure::None);
    EXPECT_TRUE(out.round_trip);
    EXPECT_NEAR(out.latency_samples, 0, 0.05);
}

} // namespace
