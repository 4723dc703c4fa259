// The whole engine on a real sound path: ALSA through a private sound server (PulseAudio or
// PipeWire) whose null sink's monitor is the capture source. The generator plays, capture records,
// and the recording must hold the generator's samples without a gap.
#include "audio/sim/simulated_bench.h"
#include "engine/sound_device.h"
#include "tests/engine/engine_test_support.h"
#include "tests/support/loopback_server.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

using namespace enginetest;

namespace {

constexpr int kMatchWindow = 2000; // frames compared to lock onto the generator's position
constexpr int kTolerance = 1;      // LSB a sample may differ after the trip through the server
constexpr double kRecordSeconds = 3.6;

std::vector<int16_t> Samples(const std::vector<uint8_t>& wav) {
    std::vector<int16_t> samples((wav.size() - 46) / 2);
    std::memcpy(samples.data(), wav.data() + 46, samples.size() * 2);
    return samples;
}

bool Near(int16_t a, int16_t b) {
    return std::abs(int(a) - int(b)) <= kTolerance;
}

// Frames of `expected` (interleaved) from `from` on that equal the recording from `at` on.
int64_t MatchingRun(const std::vector<int16_t>& recorded, int64_t at,
                    const std::vector<int16_t>& expected, int64_t from, int64_t limit) {
    int64_t n = 0;
    while (n < limit && size_t(2 * (at + n) + 1) < recorded.size() &&
           size_t(2 * (from + n) + 1) < expected.size() &&
           Near(recorded[size_t(2 * (at + n))], expected[size_t(2 * (from + n))]) &&
           Near(recorded[size_t(2 * (at + n) + 1)], expected[size_t(2 * (from + n) + 1)])) {
        ++n;
    }
    return n;
}

TEST(SoundDeviceEndToEnd, RecordingThroughASoundServerHoldsTheGeneratorWithoutAGap) {
    CLoopbackServer server;
    std::string why;
    ASSERT_TRUE(server.Start(&why)) << why;
    SelectWaveBackend(server.AudioChoice().c_str());
    CAlertRecorder alerts;
    const std::string dir = ScratchDir();
    const std::string path = dir + "/loop.wav";
    const GeneratorChannel left{kWaveSine, 1000, 1};
    const GeneratorChannel right{kWaveTriangle, 441, 1};
    const uint64_t xrunsBefore = WaveXrunCount();
    const uint64_t droppedBefore = WaveDroppedInputFrames();
    int64_t first = 0;
    {
        CSoundDevice device;
        device.m_recording = 1;
        device.StartRecording(path.c_str());
        device.StartCapture();
        SetGenerator(device, left, right);
        device.m_generatorOn = true;
        first = g_generatorSampleCount;
        device.StartPlayback();
        // The server takes its time to start delivering input; wait for the audio, not the clock.
        const uintmax_t wanted = 46 + uintmax_t(kRecordSeconds * 176400);
        EXPECT_TRUE(WaitUntil([&] { return std::filesystem::file_size(path) >= wanted; },
                              std::chrono::seconds(30)));
        device.m_recording = 0;
        device.StopRecording();
        device.StopCapture();
        device.StopPlayback();
        device.m_generatorOn = false;
    }
    SelectWaveBackend(nullptr);
    ASSERT_TRUE(alerts.Alerts().empty()) << alerts.Alerts().front().text;

    const auto recorded = Samples(ReadAll(path));
    const int64_t frames = int64_t(recorded.size() / 2);
    int64_t onset = 0;
    while (onset < frames && recorded[size_t(2 * onset)] == 0 &&
           recorded[size_t(2 * onset + 1)] == 0) {
        ++onset;
    }
    ASSERT_LT(onset, frames) << "the recording is silent";

    // The generator's output from its first played frame on, longer than the recording.
    const int64_t span = frames + 2 * kSampleRate;
    std::vector<int16_t> expected(size_t(2 * span));
    SynthesizeChannel(left, first, expected.data(), 2, int(span));
    SynthesizeChannel(right, first, expected.data() + 1, 2, int(span));

    int64_t lock = -1;
    for (int64_t e = 0; e < 2 * kSampleRate && lock < 0; ++e) {
        if (MatchingRun(recorded, onset, expected, e, kMatchWindow) == kMatchWindow) {
            lock = e;
        }
    }
    ASSERT_GE(lock, 0) << "no stretch of the recording after frame " << onset
                       << " matches the generator";
    const int64_t run = MatchingRun(recorded, onset, expected, lock, frames);
    EXPECT_EQ(onset + run, frames)
        << "the recording leaves the generator at frame " << onset + run << " of " << frames
        << " (xruns " << WaveXrunCount() - xrunsBefore << ", dropped input frames "
        << WaveDroppedInputFrames() - droppedBefore << ")";
    EXPECT_GE(run, 3 * kSampleRate) << "less than 3 s of generator output recorded: " << frames
                                    << " frames, signal from frame " << onset;
    std::filesystem::remove_all(dir);
}

} // namespace
