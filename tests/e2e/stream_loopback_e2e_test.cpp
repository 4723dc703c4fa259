// The measurement stream on real ALSA: a private sound server's loopback run at 96000 Hz float
// (TAVRIN_TEST_SINK), opened at that format through the server's ALSA plugin. A tone played by
// the stream's source must come back at its frequency and level, and as float samples, not
// through a 16-bit stage.

#include "audio/stream/alsa_stream.h"
#include "tests/support/loopback_server.h"
#include "tests/support/tone_fit.h"
#include "tests/support/wait_until.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <numbers>
#include <vector>

namespace {

constexpr int kRateHz = 96000;
constexpr double kLeftHz = 997.0, kLeftPeak = 0.5;
constexpr double kRightHz = 3001.0, kRightPeak = 0.125;

class ToneSource final : public IStreamSource {
public:
    void Fill(float* interleaved, int frames) override {
        for (int f = 0; f < frames; ++f, ++m_frame) {
            const double t = double(m_frame) / kRateHz;
            interleaved[2 * f] = float(kLeftPeak * std::sin(2 * std::numbers::pi * kLeftHz * t));
            interleaved[2 * f + 1] =
                float(kRightPeak * std::sin(2 * std::numbers::pi * kRightHz * t));
        }
    }

private:
    int64_t m_frame = 0;
};

// Keeps the periods in a buffer made beforehand; the test reads it once the stream has stopped.
struct Capture {
    explicit Capture(size_t frames) : samples(2 * frames) {}
    std::vector<float> samples;
    std::atomic<size_t> frames{0};

    static void Take(const float* interleaved, int frames, uint64_t, ClockStamp, void* context) {
        auto* self = static_cast<Capture*>(context);
        const size_t at = self->frames.load();
        const size_t n = std::min(size_t(frames), self->samples.size() / 2 - at);
        std::copy(interleaved, interleaved + 2 * n, self->samples.begin() + ptrdiff_t(2 * at));
        self->frames.store(at + n);
    }
};

// Frequency from positive-going zero crossings, placed by linear interpolation: the span of
// whole cycles between the first and the last over the time between them.
double CrossingFrequencyHz(const float* interleaved, size_t frames) {
    double first = -1, last = -1;
    int cycles = -1;
    for (size_t i = 1; i < frames; ++i) {
        const double a = interleaved[2 * (i - 1)], b = interleaved[2 * i];
        if (a < 0 && b >= 0) {
            last = double(i - 1) + a / (a - b);
            first = first < 0 ? last : first;
            ++cycles;
        }
    }
    return cycles > 0 ? cycles * kRateHz / (last - first) : 0.0;
}

// What is left of the left channel once the tone at `freqHz` is taken out, RMS. The block holds
// a whole number of its cycles, so the sine and cosine sums project it exactly.
double ResidualRms(const float* interleaved, size_t frames, double freqHz) {
    std::vector<double> s(frames), c(frames);
    double a = 0, b = 0;
    for (size_t i = 0; i < frames; ++i) {
        const double phase =
            2 * std::numbers::pi * std::fmod(freqHz * double(i), kRateHz) / kRateHz;
        s[i] = std::sin(phase);
        c[i] = std::cos(phase);
        a += interleaved[2 * i] * s[i];
        b += interleaved[2 * i] * c[i];
    }
    a *= 2.0 / double(frames);
    b *= 2.0 / double(frames);
    double sum = 0;
    for (size_t i = 0; i < frames; ++i) {
        const double e = interleaved[2 * i] - a * s[i] - b * c[i];
        sum += e * e;
    }
    return std::sqrt(sum / double(frames));
}

TEST(StreamLoopback, A96kFloatToneComesBackAtItsFrequencyAndLevelAsFloat) {
    setenv("TAVRIN_TEST_SINK", "float32le:96000", 1);
    CLoopbackServer server;
    std::string why;
    const bool started = server.Start(&why);
    unsetenv("TAVRIN_TEST_SINK");
    ASSERT_TRUE(started) << why;
    const std::string device = server.AudioChoice().substr(server.AudioChoice().find(':') + 1);

    std::string error;
    const auto stream = OpenAlsaStream(device, {kRateHz, SampleFormat::Float}, &error);
    ASSERT_NE(stream, nullptr) << error;
    Capture capture(3 * kRateHz);
    ToneSource source;
    ASSERT_TRUE(stream->Start(&Capture::Take, &capture, &source, &error)) << error;
    EXPECT_TRUE(
        WaitUntil([&] { return capture.frames.load() == 3 * kRateHz; }, std::chrono::seconds(20)));
    stream->Stop();

    // The last second: well past the loopback's latency and any silence before the tone.
    const size_t frames = kRateHz;
    const float* block = capture.samples.data() + 2 * (capture.frames.load() - frames);
    const ToneFit left = FitTones(block, 2, int(frames), {kLeftHz}, kRateHz);
    const ToneFit right = FitTones(block + 1, 2, int(frames), {kRightHz}, kRateHz);
    // Float end to end: the level to a few parts in 10^8, where a resampler in the path is off
    // by parts in 10^5.
    EXPECT_NEAR(left.amplitudes[0], kLeftPeak, 1e-6);
    EXPECT_NEAR(right.amplitudes[0], kRightPeak, 1e-6);
    EXPECT_NEAR(CrossingFrequencyHz(block, frames), kLeftHz, 0.01);
    // Only float's own rounding is left (step 2^-25 at this level: 8.6e-9 RMS); a 16-bit stage
    // anywhere would leave at least its 2^-15 / sqrt(12) = 8.8e-6.
    EXPECT_LT(ResidualRms(block, frames, kLeftHz), 1e-7);

    size_t off16BitGrid = 0;
    for (size_t i = 0; i < 2 * frames; ++i) {
        const double code = double(block[i]) * 32768.0;
        off16BitGrid += code != std::round(code);
    }
    EXPECT_GT(off16BitGrid, frames) << "of " << 2 * frames << " samples";
}

} // namespace
