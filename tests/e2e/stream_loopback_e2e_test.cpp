// The measurement stream on real ALSA: a private sound server's loopback run at the stream's own
// rate and format (TAVRIN_TEST_SINK), opened through the server's ALSA plugin. A tone played by
// the stream's source must come back at its frequency and level, carried at the depth asked:
// what is left beside it is that depth's rounding, no more (a 16-bit or resampling stage) and no
// less (a wider path than asked).

#include "audio/stream/alsa_stream.h"
#include "tests/support/loopback_server.h"
#include "tests/support/tone_fit.h"
#include "tests/support/wait_until.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <numbers>
#include <thread>
#include <vector>

namespace {

constexpr double kLeftHz = 997.0, kLeftPeak = 0.5;
constexpr double kRightHz = 3001.0, kRightPeak = 0.125;

class ToneSource final : public IStreamSource {
public:
    explicit ToneSource(int rate_hz) : m_rateHz(rate_hz) {}
    void Fill(float* interleaved, int frames) override {
        for (int f = 0; f < frames; ++f, ++m_frame) {
            const double t = double(m_frame) / m_rateHz;
            interleaved[2 * f] = float(kLeftPeak * std::sin(2 * std::numbers::pi * kLeftHz * t));
            interleaved[2 * f + 1] =
                float(kRightPeak * std::sin(2 * std::numbers::pi * kRightHz * t));
        }
    }

private:
    const double m_rateHz;
    int64_t m_frame = 0;
};

// Keeps the periods, their stamps and when each reached the tap in buffers made beforehand; the
// test reads them once the stream has stopped.
struct Capture {
    explicit Capture(size_t frames) : samples(2 * frames), stamps(frames), tapped(frames) {}
    std::vector<float> samples;
    std::vector<ClockStamp> stamps; // one a period
    std::vector<int64_t> tapped;    // CLOCK_MONOTONIC ns, one a period
    std::atomic<size_t> frames{0};
    size_t periods = 0;

    static void Take(const float* interleaved, int frames, uint64_t, ClockStamp stamp,
                     void* context) {
        auto* self = static_cast<Capture*>(context);
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        const size_t at = self->frames.load();
        const size_t n = std::min(size_t(frames), self->samples.size() / 2 - at);
        std::copy(interleaved, interleaved + 2 * n, self->samples.begin() + ptrdiff_t(2 * at));
        if (n > 0) {
            self->stamps[self->periods] = stamp;
            self->tapped[self->periods++] = int64_t(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
        }
        self->frames.store(at + n);
    }
};

// Frequency from positive-going zero crossings, placed by linear interpolation: the span of
// whole cycles between the first and the last over the time between them.
double CrossingFrequencyHz(const float* interleaved, size_t frames, double rateHz) {
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
    return cycles > 0 ? cycles * rateHz / (last - first) : 0.0;
}

// What is left of the left channel once the tone at `freqHz` is taken out, RMS. The block holds
// a whole number of its cycles, so the sine and cosine sums project it exactly.
double ResidualRms(const float* interleaved, size_t frames, double freqHz, double rateHz) {
    std::vector<double> s(frames), c(frames);
    double a = 0, b = 0;
    for (size_t i = 0; i < frames; ++i) {
        const double phase = 2 * std::numbers::pi * std::fmod(freqHz * double(i), rateHz) / rateHz;
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

// Samples of the block on the grid of a `bits`-bit converter.
size_t OnGrid(const float* samples, size_t count, int bits) {
    size_t on = 0;
    for (size_t i = 0; i < count; ++i) {
        const double code = std::ldexp(double(samples[i]), bits - 1);
        on += code == std::round(code);
    }
    return on;
}

// Starts `server` with its sink at `sink` (TAVRIN_TEST_SINK) and opens the stream on it at
// `format`; nullptr, with the failure recorded, when either fails.
std::unique_ptr<CMeasureStream> OpenOnLoopback(CLoopbackServer* server, const char* sink,
                                               StreamFormat format) {
    setenv("TAVRIN_TEST_SINK", sink, 1);
    std::string error;
    const bool started = server->Start(&error);
    unsetenv("TAVRIN_TEST_SINK");
    if (!started) {
        ADD_FAILURE() << error;
        return nullptr;
    }
    const std::string& choice = server->AudioChoice();
    auto stream = OpenAlsaStream(choice.substr(choice.find(':') + 1), format, &error);
    if (stream == nullptr) {
        ADD_FAILURE() << error;
    }
    return stream;
}

struct LoopCase {
    const char* name;
    StreamFormat format;
    const char* sink; // TAVRIN_TEST_SINK
    int gridBits;     // the converter's grid every sample lies on; 0: none (float)
};

class StreamLoopback : public ::testing::TestWithParam<LoopCase> {};

TEST_P(StreamLoopback, AToneComesBackAtItsFrequencyLevelAndDepth) {
    const LoopCase& c = GetParam();
    const int rateHz = c.format.rate_hz;
    CLoopbackServer server;
    const auto stream = OpenOnLoopback(&server, c.sink, c.format);
    ASSERT_NE(stream, nullptr);
    std::string error;
    const size_t wanted = 3 * size_t(rateHz);
    Capture capture(wanted);
    ToneSource source(rateHz);
    ASSERT_TRUE(stream->Start(&Capture::Take, &capture, &source, &error)) << error;
    EXPECT_TRUE(
        WaitUntil([&] { return capture.frames.load() == wanted; }, std::chrono::seconds(20)));
    stream->Stop();

    // The last second: well past the loopback's latency and any silence before the tone, and a
    // whole number of cycles of both tones.
    const size_t frames = size_t(rateHz);
    const float* block = capture.samples.data() + 2 * (capture.frames.load() - frames);
    const ToneFit left = FitTones(block, 2, int(frames), {kLeftHz}, rateHz);
    const ToneFit right = FitTones(block + 1, 2, int(frames), {kRightHz}, rateHz);
    // The level to parts in 10^7 even at 16 bits, where a resampler in the path is off by parts
    // in 10^5.
    EXPECT_NEAR(left.amplitudes[0], kLeftPeak, 1e-6);
    EXPECT_NEAR(right.amplitudes[0], kRightPeak, 1e-6);
    EXPECT_NEAR(CrossingFrequencyHz(block, frames, rateHz), kLeftHz, 0.01);

    // Beside the tone: a converter's rounding, step / sqrt(12) RMS at its step of 2^-(bits-1);
    // float keeps its own rounding (step 2^-25 at this level, 8.6e-9 RMS), as does s32 once
    // read back as float. A 16-bit stage anywhere leaves at least 8.8e-6.
    const double residual = ResidualRms(block, frames, kLeftHz, rateHz);
    if (c.gridBits == 16 || c.gridBits == 24) {
        const double rounding = std::ldexp(1.0, 1 - c.gridBits) / std::sqrt(12.0);
        EXPECT_NEAR(residual, rounding, 0.2 * rounding);
        EXPECT_EQ(OnGrid(block, 2 * frames, c.gridBits), 2 * frames);
    } else {
        EXPECT_LT(residual, 1e-7);
    }
    // Each period's first frame was at the converter a period or more before the tap had it.
    // Over the last second the stamps advance a period at a time, give or take the server's
    // block: the latency the plugin reports moves in the server's own steps (up to 42 ms seen at
    // 192 kHz), and still settles during the first second or so, while the sink leaves the long
    // blocks it renders when idle.
    const double periodNs = 1e9 * stream->PeriodFrames() / rateHz;
    const size_t settled = capture.periods - size_t(rateHz / stream->PeriodFrames());
    for (size_t p = 0; p < capture.periods; ++p) {
        ASSERT_EQ(capture.stamps[p].clock, DeviceClock::Monotonic) << "period " << p;
        EXPECT_LE(double(capture.stamps[p].ns) + periodNs, double(capture.tapped[p]) + 1e6)
            << "period " << p;
        if (p > settled) {
            EXPECT_NEAR(double(capture.stamps[p].ns - capture.stamps[p - 1].ns), periodNs,
                        periodNs / 2)
                << "period " << p;
        }
    }
    if (c.gridBits != 16) {
        EXPECT_LT(OnGrid(block, 2 * frames, 16), frames) << "of " << 2 * frames << " samples";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Formats, StreamLoopback,
    ::testing::Values(LoopCase{"float_96k", {96000, SampleFormat::Float}, "float32le:96000", 0},
                      LoopCase{"s24_48k", {48000, SampleFormat::S24}, "s24le:48000", 24},
                      LoopCase{"s32_192k", {192000, SampleFormat::S32}, "s32le:192000", 32},
                      LoopCase{"s16_44k1", {44100, SampleFormat::S16}, "s16le:44100", 16}),
    [](const auto& info) { return std::string(info.param.name); });

// The I/O thread held up for longer than the playback buffer (three periods): the underrun is
// recovered and counted, and both directions flow again.
TEST(StreamLoopbackStall, AnUnderrunIsCountedAndTheStreamCarriesOn) {
    CLoopbackServer server;
    const auto stream = OpenOnLoopback(&server, "float32le:96000", {96000, SampleFormat::Float});
    ASSERT_NE(stream, nullptr);
    struct Counting final : IStreamSource {
        std::atomic<int> fills{0};
        void Fill(float* interleaved, int frames) override {
            std::fill(interleaved, interleaved + 2 * frames, 0.0f);
            ++fills;
        }
    } source;
    struct Stalling {
        Counting* source;
        std::atomic<int> periods{0};
        std::atomic<int> fillsAfterStall{1000}; // until the stall is over
        static void Take(const float*, int, uint64_t, ClockStamp, void* context) {
            auto* self = static_cast<Stalling*>(context);
            if (++self->periods == 3) {
                std::this_thread::sleep_for(std::chrono::seconds(1));
                self->fillsAfterStall = self->source->fills.load();
            }
        }
    } tap{&source};
    std::string error;
    ASSERT_TRUE(stream->Start(&Stalling::Take, &tap, &source, &error)) << error;
    // Ten more periods asked of the source after the stall, while capture goes on.
    EXPECT_TRUE(WaitUntil(
        [&] {
            return tap.periods.load() >= 20 &&
                   source.fills.load() >= tap.fillsAfterStall.load() + 10;
        },
        std::chrono::seconds(20)));
    stream->Stop();
    EXPECT_GE(stream->Xruns(), 1u);
}

} // namespace
