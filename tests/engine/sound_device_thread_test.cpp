// The engine with its real worker threads on the simulated bench (line out wired to line in),
// the clock stepped buffer by buffer from the test thread.
#include "audio/sim/simulated_bench.h"
#include "engine/sound_device.h"
#include "tests/engine/engine_test_support.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace enginetest;

namespace {

struct CCountingDevice : CSoundDevice {
    void OnCaptureBuffer(const uint8_t*) override { ++captured; }
    std::atomic<int> captured{0};
};

class SoundDeviceThreads : public ::testing::Test {
protected:
    SoundDeviceThreads() {
        SelectWaveBackend("sim");
        CSimulatedBench::Instance().Reset();
        CSimulatedBench::Instance().SetClock(BenchClock::Stepped);
    }
    ~SoundDeviceThreads() override {
        CSimulatedBench::Instance().Reset();
        SelectWaveBackend(nullptr);
        std::filesystem::remove_all(m_dir);
    }

    CAlertRecorder m_alerts;
    std::string m_dir = ScratchDir();
    std::string m_path = m_dir + "/take.wav";
};

TEST_F(SoundDeviceThreads, LoopbackRecordingHoldsExactlyTheGeneratorOutput) {
    const GeneratorChannel left{kWaveSine, 1000, 1};
    const GeneratorChannel right{kWaveTriangle, 441, 2};
    const int buffers = 12;
    CCountingDevice device;
    device.m_recording = 1;
    device.StartRecording(m_path.c_str());
    device.StartCapture();
    SetGenerator(device, left, right);
    device.m_generatorOn = true;
    const int64_t first = g_generatorSampleCount;
    device.StartPlayback();
    ASSERT_EQ(g_generatorSampleCount, first + 3 * kFramesPerBuffer) << "priming";

    for (int b = 1; b <= buffers; ++b) {
        CSimulatedBench::Instance().Step(1);
        // Step again only once this buffer is recorded and its output slot refilled and
        // queued, so neither side ever runs dry.
        ASSERT_TRUE(WaitUntil([&] {
            return device.captured == b &&
                   g_generatorSampleCount == first + (3 + b) * kFramesPerBuffer &&
                   device.m_soundPlay.m_queuedCount == 3 &&
                   std::filesystem::file_size(m_path) == 46u + uintmax_t(b) * kBufferBytes;
        })) << "buffer "
            << b;
    }
    device.m_recording = 0;
    device.StopRecording();
    device.StopCapture();
    device.StopPlayback();
    device.m_generatorOn = false;
    EXPECT_TRUE(WaitUntil([] { return !CSimulatedBench::Instance().IsOpen(WaveDirection::Out); }));

    const auto bytes = ReadAll(m_path);
    ASSERT_EQ(bytes.size(), 46u + size_t(buffers) * kBufferBytes);
    const auto expected = GeneratorBytes(left, right, first, buffers);
    for (int b = 0; b < buffers; ++b) {
        EXPECT_EQ(std::memcmp(bytes.data() + 46 + size_t(b) * kBufferBytes,
                              expected.data() + size_t(b) * kBufferBytes, kBufferBytes),
                  0)
            << "buffer " << b;
    }
    EXPECT_TRUE(m_alerts.Alerts().empty());
}

TEST_F(SoundDeviceThreads, UnwritableRecordingShowsABoxPerCapturedBufferUntilStopped) {
    CCountingDevice device;
    device.m_recording = 1;
    device.StartRecording("/dev/full");
    device.StartCapture();
    for (int b = 1; b <= 4; ++b) {
        CSimulatedBench::Instance().Step(1);
        ASSERT_TRUE(m_alerts.WaitFor(size_t(b), std::chrono::seconds(10))) << b;
    }
    EXPECT_EQ(device.m_recording, 1);
    device.m_recording = 0;
    device.StopRecording();
    EXPECT_EQ(device.m_recorder, nullptr);
    CSimulatedBench::Instance().Step(1);
    ASSERT_TRUE(WaitUntil([&] { return device.captured == 5; }));
    device.StopCapture();
    const auto alerts = m_alerts.Alerts();
    ASSERT_EQ(alerts.size(), 4u);
    for (const auto& alert : alerts) {
        EXPECT_EQ(alert.text, "Unable to write to file");
        EXPECT_EQ(alert.icon, AlertIcon::None);
    }
}

// The capture worker waits on the user in its box; stopping the recording from the GUI thread
// must not wait for the user too.
TEST_F(SoundDeviceThreads, StopRecordingDoesNotWaitForAnOpenBox) {
    CCountingDevice device;
    m_alerts.HoldBoxes();
    device.m_recording = 1;
    device.StartRecording("/dev/full");
    device.StartCapture();
    CSimulatedBench::Instance().Step(1);
    ASSERT_TRUE(m_alerts.WaitFor(1, std::chrono::seconds(10)));
    device.m_recording = 0;
    device.StopRecording(); // would hang here if the box were shown under the recorder lock
    EXPECT_EQ(device.m_recorder, nullptr);
    m_alerts.Release();
    device.StopCapture();
}

// Another input chosen while the capture worker waits on the user in its box: nothing is
// stopped or closed, the card in use goes on capturing, and the caller hears that it stayed.
TEST_F(SoundDeviceThreads, ReopenWhileTheWorkerWaitsOnTheUserKeepsTheDeviceInUse) {
    auto& bench = CSimulatedBench::Instance();
    CCountingDevice device;
    m_alerts.HoldBoxes();
    device.m_recording = 1;
    device.StartRecording("/dev/full");
    device.StartCapture();
    bench.Step(1);
    ASSERT_TRUE(m_alerts.WaitFor(1, std::chrono::seconds(10)));
    const std::string inUse = WaveDeviceName(WaveDirection::In);

    SetWaveDevice(WaveDirection::In, "sim:card2");
    EXPECT_EQ(device.ReopenCapture(), CaptureReopen::KeptOld);
    SetWaveDevice(WaveDirection::In, inUse);
    EXPECT_EQ(bench.OpenDeviceName(WaveDirection::In), inUse);
    EXPECT_EQ(bench.OpenCount(WaveDirection::In), 1);
    EXPECT_EQ(bench.CloseCount(WaveDirection::In), 0);
    EXPECT_TRUE(device.m_soundIn.m_running);
    // Never stopped: a stop and start would have put three fresh buffers beside the three.
    EXPECT_EQ(device.m_soundIn.m_queuedCount, 3);

    device.m_recording = 0;
    device.StopRecording();
    m_alerts.Release();
    bench.Step(2);
    EXPECT_TRUE(WaitUntil([&] { return device.captured == 3; }));
    device.StopCapture();
    EXPECT_EQ(m_alerts.Count(), 1u);
}

// A worker that does not hand its buffers back in time for any other reason: the device they
// name cannot close, so it starts again and the caller hears so.
TEST_F(SoundDeviceThreads, ReopenWhoseWorkerKeepsItsBuffersKeepsTheDeviceInUse) {
    struct CGatedDevice : CSoundDevice {
        void OnCaptureBuffer(const uint8_t*) override {
            ++captured;
            std::lock_guard wait(gate);
        }
        std::mutex gate;
        std::atomic<int> captured{0};
    };
    auto& bench = CSimulatedBench::Instance();
    CGatedDevice device;
    std::unique_lock hold(device.gate);
    device.StartCapture();
    bench.Step(1);
    ASSERT_TRUE(WaitUntil([&] { return device.captured == 1; }));
    const std::string inUse = WaveDeviceName(WaveDirection::In);

    SetWaveDevice(WaveDirection::In, "sim:card2");
    EXPECT_EQ(device.ReopenCapture(), CaptureReopen::KeptOld);
    SetWaveDevice(WaveDirection::In, inUse);
    EXPECT_EQ(bench.OpenDeviceName(WaveDirection::In), inUse);
    EXPECT_EQ(bench.CloseCount(WaveDirection::In), 0);
    EXPECT_TRUE(device.m_soundIn.m_running);
    hold.unlock();
    const int before = device.captured;
    bench.Step(1);
    EXPECT_TRUE(WaitUntil([&] { return device.captured > before; }));
    device.StopCapture();
    EXPECT_TRUE(m_alerts.Alerts().empty());
}

// Recordings started and stopped on this thread while another thread keeps recording
// buffers: every buffer lands in a live recorder, and each file holds whole buffers.
TEST_F(SoundDeviceThreads, RecordingsStoppedUnderAWritingThreadHoldWholeBuffers) {
    CSoundDevice device;
    device.m_recording = 1;
    std::atomic<bool> done{false};
    std::thread worker([&] {
        std::vector<uint8_t> data(kBufferBytes, 0x11);
        while (!done) {
            SampleBuffer buffer(data.data(), kBufferBytes);
            buffer.m_recordedBytes = kBufferBytes;
            device.RecordBuffer(&buffer);
        }
    });
    std::vector<std::string> paths;
    for (int i = 0; i < 20; ++i) {
        paths.push_back(m_dir + "/take" + std::to_string(i) + ".wav");
        device.StartRecording(paths.back().c_str());
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        device.StopRecording();
    }
    done = true;
    worker.join();
    for (const auto& path : paths) {
        const auto bytes = ReadAll(path);
        ASSERT_GE(bytes.size(), 46u) << path;
        EXPECT_EQ((bytes.size() - 46) % kBufferBytes, 0u) << path;
        EXPECT_EQ(bytes.size() - 46,
                  size_t(bytes[42] | bytes[43] << 8 | bytes[44] << 16 | size_t(bytes[45]) << 24))
            << path;
    }
    EXPECT_TRUE(m_alerts.Alerts().empty());
}

uint32_t Le32(const std::vector<uint8_t>& b, size_t at) {
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 |
           uint32_t(b[at + 3]) << 24;
}

// The file is a whole WAV of whole buffers whatever moment it is read at.
void ExpectValidWav(const std::vector<uint8_t>& bytes, size_t buffers) {
    ASSERT_EQ(bytes.size(), 46u + buffers * kBufferBytes);
    EXPECT_EQ(Le32(bytes, 4), bytes.size() - 8);
    EXPECT_EQ(Le32(bytes, 42), buffers * kBufferBytes);
}

// Frame number of a recorded frame whose input carried its own capture index.
int64_t FrameAt(const std::vector<uint8_t>& bytes, size_t frame) {
    const auto* s = reinterpret_cast<const int16_t*>(bytes.data() + 46) + 2 * frame;
    return int64_t(s[0]) | int64_t(s[1]) << 15;
}

struct CGatedRecorder : CSoundDevice {
    void OnCaptureBuffer(const uint8_t*) override { std::lock_guard wait(gate); }
    void OnRecordingEndedAtGap() override { ++ended; }
    std::mutex gate; // held by the test: the worker keeps the buffer it is on
    std::atomic<int> ended{0};
};

struct InputGap {
    const char* name;
    // Makes the gap with the recording running, then captures a buffer after it; the bench's
    // clock is stepped from here only.
    void (*make)(CSimulatedBench& bench, CGatedRecorder& device);
    size_t buffersBeforeGap;
    std::vector<std::string> reports; // besides kRecordingGapText, which comes last
};

void PrintTo(const InputGap& gap, std::ostream* os) {
    *os << gap.name;
}

class SoundDeviceGapThreads : public SoundDeviceThreads,
                              public ::testing::WithParamInterface<InputGap> {};

// Input lost in the middle of a recording ends it at the last buffer before the gap, with
// every frame captured up to there, and says so.
TEST_P(SoundDeviceGapThreads, EndsTheRecordingAtTheGap) {
    auto& bench = CSimulatedBench::Instance();
    bench.SetInputSignal(0, [](int64_t frame) { return int16_t(frame & 0x7fff); });
    bench.SetInputSignal(1, [](int64_t frame) { return int16_t(frame >> 15); });
    CGatedRecorder device;
    device.m_recording = 1;
    device.StartRecording(m_path.c_str());
    device.StartCapture();
    bench.Step(4);
    ASSERT_TRUE(
        WaitUntil([&] { return std::filesystem::file_size(m_path) == 46u + 4u * kBufferBytes; }));

    GetParam().make(bench, device);
    ASSERT_TRUE(WaitUntil([&] { return device.ended == 1; }));
    ASSERT_TRUE(m_alerts.WaitFor(GetParam().reports.size() + 1));
    device.StopCapture();

    EXPECT_EQ(device.m_recording, 0);
    EXPECT_EQ(device.m_recorder, nullptr);
    const auto bytes = ReadAll(m_path);
    const size_t buffers = GetParam().buffersBeforeGap;
    ASSERT_NO_FATAL_FAILURE(ExpectValidWav(bytes, buffers));
    for (size_t f = 0; f < buffers * size_t(kFramesPerBuffer); ++f) {
        ASSERT_EQ(FrameAt(bytes, f), int64_t(f)) << "frame " << f;
    }
    std::vector<std::string> texts = m_alerts.Texts();
    ASSERT_FALSE(texts.empty());
    EXPECT_EQ(texts.back(), kRecordingGapText);
    texts.pop_back();
    EXPECT_EQ(texts, GetParam().reports);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, SoundDeviceGapThreads,
    ::testing::Values(
        // The worker is held on a buffer (as by a box) while the card fills the other two and
        // then has nowhere to put the next: those frames are dropped.
        InputGap{"DroppedInput",
                 [](CSimulatedBench& bench, CGatedRecorder& device) {
                     const uint64_t dropped = WaveDroppedInputFrames();
                     {
                         std::lock_guard hold(device.gate);
                         bench.Step(4);
                         EXPECT_GT(WaveDroppedInputFrames(), dropped);
                     }
                     bench.Step(1);
                 },
                 7, // the buffer held, the two after it, and the four before
                 {}},
        // The card goes away and comes back: it was lost at period 4 and is retried every 11
        // periods, so the third retry (period 37) finds it.
        InputGap{"CardGoneAndBack",
                 [](CSimulatedBench& bench, CGatedRecorder&) {
                     bench.SetDeviceGone(true);
                     bench.Step(30);
                     bench.SetDeviceGone(false);
                     bench.Step(3 + 2);
                 },
                 4,
                 {"WAVEIN:6:simulated bench: the line input is gone; retrying in "
                  "OnWIM_LOST()"}},
        // Another input chosen: capture stopped, its device closed, the next one started.
        InputGap{"CaptureReopened",
                 [](CSimulatedBench& bench, CGatedRecorder& device) {
                     EXPECT_EQ(device.ReopenCapture(), CaptureReopen::Reopened);
                     bench.Step(1);
                 },
                 4,
                 {}}),
    [](const ::testing::TestParamInfo<InputGap>& info) { return std::string(info.param.name); });

} // namespace
