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

// The card goes away in the middle of a recording and comes back: one report that holds
// nothing up (even with the box left open), and the same file goes on after the gap with every
// buffer captured before and after it.
TEST_F(SoundDeviceThreads, RecordingGoesOnIntoTheSameFileAfterTheDeviceIsBack) {
    auto& bench = CSimulatedBench::Instance();
    bench.SetInputSignal(0, [](int64_t frame) { return int16_t(frame & 0x7fff); });
    bench.SetInputSignal(1, [](int64_t frame) { return int16_t(frame >> 15); });
    m_alerts.HoldBoxes(); // the user leaves every box open
    CCountingDevice device;
    device.m_recording = 1;
    device.StartRecording(m_path.c_str());
    device.StartCapture();
    const auto stepAndRecord = [&](int periods, int capturedAfter) {
        bench.Step(periods);
        return WaitUntil([&] {
            return device.captured == capturedAfter &&
                   std::filesystem::file_size(m_path) ==
                       46u + uintmax_t(capturedAfter) * kBufferBytes;
        });
    };
    ASSERT_TRUE(stepAndRecord(4, 4));
    bench.SetDeviceGone(true);
    ASSERT_TRUE(stepAndRecord(30, 4));
    ASSERT_TRUE(m_alerts.WaitFor(1, std::chrono::seconds(5)));
    ExpectValidWav(ReadAll(m_path), 4);
    bench.SetDeviceGone(false);
    // Lost at period 4, retried every 11 periods: the third retry (period 37) finds it back.
    ASSERT_TRUE(stepAndRecord(3 + 5, 9));
    device.m_recording = 0;
    device.StopRecording();
    device.StopCapture();

    const auto bytes = ReadAll(m_path);
    ExpectValidWav(bytes, 9);
    const size_t frames = 9 * size_t(kFramesPerBuffer);
    const size_t gapAt = 4 * size_t(kFramesPerBuffer);
    for (size_t f = 1; f < frames; ++f) {
        if (f != gapAt) {
            ASSERT_EQ(FrameAt(bytes, f), FrameAt(bytes, f - 1) + 1) << "frame " << f;
        }
    }
    EXPECT_EQ(FrameAt(bytes, 0), 0);
    EXPECT_EQ(FrameAt(bytes, gapAt), 37 * int64_t(kFramesPerBuffer));
    ASSERT_EQ(m_alerts.Alerts().size(), 1u);
    EXPECT_EQ(m_alerts.Alerts()[0].text.rfind("WAVEIN:6:", 0), 0u);
}

} // namespace
