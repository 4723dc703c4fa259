// The test signal on the engine's line output and the capture tap, with the real workers on
// the simulated card, its clock stepped buffer by buffer from the test thread.
#include "audio/sim/simulated_bench.h"
#include "audio/test_signal.h"
#include "engine/sound_device.h"
#include "tests/engine/engine_test_support.h"
#include "tests/support/tone_fit.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

using namespace enginetest;

namespace {

using Block = std::vector<int16_t>; // one buffer, interleaved

// Counts the fills of the line output and keeps every buffer the tap hands over.
struct CTappedDevice : CSoundDevice {
    CTappedDevice() { m_soundPlay.m_callback = &CountedFill; }

    static void CountedFill(SampleBuffer* buffer, void* context) {
        auto* self = static_cast<CTappedDevice*>(static_cast<CSoundDevice*>(context));
        self->FillOutputBuffer(buffer);
        ++self->fills;
    }
    void OnCaptureBuffer(const uint8_t*) override { ++captured; }

    static void Tap(const int16_t* interleaved, int frames, uint64_t gapCount, void* context) {
        auto* self = static_cast<CTappedDevice*>(context);
        std::lock_guard lock(self->mutex);
        self->blocks.emplace_back(interleaved, interleaved + size_t(frames) * kChannels);
        self->gaps.push_back(gapCount);
        self->capturedAtTap.push_back(self->captured.load());
    }
    std::vector<Block> Blocks() {
        std::lock_guard lock(mutex);
        return blocks;
    }

    std::atomic<int> fills{0};
    std::atomic<int> captured{0};
    std::mutex mutex;
    std::vector<Block> blocks;
    std::vector<uint64_t> gaps;
    std::vector<int> capturedAtTap;
};

class TestSignalThreads : public ::testing::Test {
protected:
    void Open(const char* device) {
        SelectWaveBackend(device);
        Bench().Reset();
        Bench().SetClock(BenchClock::Stepped);
    }
    ~TestSignalThreads() override {
        Bench().Reset();
        SelectWaveBackend(nullptr);
    }
    static CSimulatedBench& Bench() { return CSimulatedBench::Instance(); }

    // One period; returns once its buffer is tapped and, while playing, the played one refilled,
    // so the output never runs dry.
    ::testing::AssertionResult Step(CTappedDevice& device) {
        const int captured = device.captured + 1;
        const int fills = device.fills + (device.m_soundPlay.m_running ? 1 : 0);
        Bench().Step(1);
        if (WaitUntil([&] {
                return device.Blocks().size() == size_t(captured) && device.fills == fills;
            })) {
            return ::testing::AssertionSuccess();
        }
        return ::testing::AssertionFailure() << "period " << captured << " did not complete";
    }

    CAlertRecorder m_alerts;
};

Block GeneratorBlock(const GeneratorChannel& left, const GeneratorChannel& right, int64_t first) {
    int16_t block[kFramesPerBuffer * kChannels];
    SynthesizeBuffer(left, right, first, block);
    return Block(block, block + kFramesPerBuffer * kChannels);
}

Block NextBlock(CTestSignalSource& source) {
    Block block(size_t(kFramesPerBuffer) * kChannels);
    source.Fill(block.data(), kFramesPerBuffer);
    return block;
}

const TestSignal kTone{TestSignalKind::Tone, 997.0, -1.0, false};

// The three buffers queued when the test signal starts still carry the generator; from then on
// the line carries the test signal, and after it the generator picks up exactly where its
// frame position stood, as if the test signal had never played.
TEST_F(TestSignalThreads, ReplacesTheGeneratorWhichResumesWhereItStood) {
    Open("sim");
    const GeneratorChannel left{kWaveSine, 1000, 1};
    const GeneratorChannel right{kWaveTriangle, 441, 2};
    CTappedDevice device;
    device.SetCaptureTap(&CTappedDevice::Tap, &device);
    device.StartCapture();
    SetGenerator(device, left, right);
    device.m_generatorOn = true;
    const int64_t first = g_generatorSampleCount;
    device.StartPlayback();
    for (int b = 0; b < 2; ++b) {
        ASSERT_TRUE(Step(device));
    }
    const int64_t stood = g_generatorSampleCount;
    ASSERT_EQ(stood, first + 5 * kFramesPerBuffer);
    EXPECT_TRUE(device.StartTestSignal(kTone));
    EXPECT_TRUE(device.TestSignalOn());
    for (int b = 0; b < 6; ++b) {
        ASSERT_TRUE(Step(device));
    }
    EXPECT_EQ(g_generatorSampleCount, stood) << "the generator moved under the test signal";
    device.StopTestSignal();
    EXPECT_FALSE(device.TestSignalOn());
    EXPECT_TRUE(device.m_soundPlay.m_running);
    for (int b = 0; b < 6; ++b) {
        ASSERT_TRUE(Step(device));
    }
    device.StopCapture();
    device.StopPlayback();

    CTestSignalSource reference;
    reference.Set(kTone);
    std::vector<Block> expected;
    for (int b = 0; b < 5; ++b) {
        expected.push_back(GeneratorBlock(left, right, first + int64_t(b) * kFramesPerBuffer));
    }
    for (int b = 0; b < 6; ++b) {
        expected.push_back(NextBlock(reference));
    }
    for (int b = 0; b < 3; ++b) {
        expected.push_back(GeneratorBlock(left, right, stood + int64_t(b) * kFramesPerBuffer));
    }
    const auto blocks = device.Blocks();
    ASSERT_EQ(blocks.size(), expected.size());
    for (size_t b = 0; b < blocks.size(); ++b) {
        EXPECT_TRUE(blocks[b] == expected[b]) << "buffer " << b;
    }
    EXPECT_TRUE(m_alerts.Alerts().empty());
}

// The panel's source switch, on and then off, while the test signal plays: the line never
// leaves the test signal and the generator never moves; stopping the test signal with the
// generator off then stops playback and closes the device.
TEST_F(TestSignalThreads, SourceSwitchDoesNotCutItAndItsStopEndsPlayback) {
    Open("sim");
    CTappedDevice device;
    device.SetCaptureTap(&CTappedDevice::Tap, &device);
    device.StartCapture();
    SetGenerator(device, {kWaveSquare, 500, 1}, {kWaveSquare, 500, 1});
    const int64_t stood = g_generatorSampleCount;
    ASSERT_TRUE(device.StartTestSignal(kTone));
    ASSERT_TRUE(device.m_soundPlay.m_running);
    ASSERT_TRUE(Step(device));
    ASSERT_TRUE(Step(device));
    // Switched on, as the panel does it.
    device.m_generatorOn = true;
    device.StartPlayback();
    ASSERT_TRUE(Step(device));
    ASSERT_TRUE(Step(device));
    // Switched off, as the panel does it.
    device.StopPlayback();
    device.m_generatorOn = false;
    EXPECT_TRUE(device.m_soundPlay.m_running);
    ASSERT_TRUE(Step(device));
    ASSERT_TRUE(Step(device));
    device.StopTestSignal();
    EXPECT_FALSE(device.m_soundPlay.m_running);
    EXPECT_TRUE(WaitUntil([] { return !Bench().IsOpen(WaveDirection::Out); }));
    device.StopCapture();

    EXPECT_EQ(g_generatorSampleCount, stood);
    CTestSignalSource reference;
    reference.Set(kTone);
    const auto blocks = device.Blocks();
    ASSERT_EQ(blocks.size(), 6u);
    for (size_t b = 0; b < blocks.size(); ++b) {
        EXPECT_TRUE(blocks[b] == NextBlock(reference)) << "buffer " << b;
    }
    EXPECT_TRUE(m_alerts.Alerts().empty());
}

// The capture index of a frame whose input carried it (see the input signals below).
int64_t FrameAt(const Block& block, size_t frame) {
    return int64_t(block[2 * frame]) | int64_t(block[2 * frame + 1]) << 15;
}

// Every buffer reaches the tap in order, after OnCaptureBuffer; a hole made by a worker that
// held every buffer shows as a change of the gap count at the first buffer after the hole and
// not before; once the tap is cleared nothing more reaches it.
TEST_F(TestSignalThreads, TapSeesEveryBufferInOrderWithItsGap) {
    Open("sim");
    Bench().SetInputSignal(0, [](int64_t frame) { return int16_t(frame & 0x7fff); });
    Bench().SetInputSignal(1, [](int64_t frame) { return int16_t(frame >> 15); });
    struct Held {
        CTappedDevice* device;
        std::atomic<bool> hold{false};
        std::atomic<bool> inside{false};
    };
    CTappedDevice device;
    Held held{&device};
    device.SetCaptureTap(
        [](const int16_t* samples, int frames, uint64_t gaps, void* context) {
            auto* h = static_cast<Held*>(context);
            while (h->hold) {
                h->inside = true;
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            CTappedDevice::Tap(samples, frames, gaps, h->device);
        },
        &held);
    device.StartCapture();
    for (int b = 0; b < 4; ++b) {
        ASSERT_TRUE(Step(device));
    }
    held.hold = true;
    Bench().Step(1);
    ASSERT_TRUE(WaitUntil([&] { return held.inside.load(); }));
    Bench().Step(2); // the two buffers still queued on the device
    Bench().Step(1); // none left: the card throws this period away
    held.hold = false;
    ASSERT_TRUE(WaitUntil([&] { return device.Blocks().size() == 7; }));
    ASSERT_TRUE(Step(device));
    device.SetCaptureTap(nullptr, nullptr);
    Bench().Step(1);
    ASSERT_TRUE(WaitUntil([&] { return device.captured == 9; }));
    device.StopCapture();

    const auto blocks = device.Blocks();
    ASSERT_EQ(blocks.size(), 8u) << "a buffer reached the tap after it was cleared";
    const int64_t starts[] = {0, 1, 2, 3, 4, 5, 6, 8};
    for (size_t b = 0; b < blocks.size(); ++b) {
        ASSERT_EQ(blocks[b].size(), size_t(kFramesPerBuffer) * kChannels);
        EXPECT_EQ(FrameAt(blocks[b], 0), starts[b] * kFramesPerBuffer) << "buffer " << b;
        EXPECT_EQ(FrameAt(blocks[b], kFramesPerBuffer - 1),
                  starts[b] * kFramesPerBuffer + kFramesPerBuffer - 1)
            << "buffer " << b;
        EXPECT_EQ(device.capturedAtTap[b], int(b) + 1) << "the tap came before OnCaptureBuffer";
        const uint64_t expectedGap = device.gaps[0] + (b < 7 ? 0 : uint64_t(kFramesPerBuffer));
        EXPECT_EQ(device.gaps[b], expectedGap) << "buffer " << b;
    }
}

// A capture device lost and found again leaves a hole in the stream however long it was away:
// the first buffer after it carries a new gap count, so no analyser block spans the hole.
TEST_F(TestSignalThreads, TapSeesANewGapCountAfterTheCaptureDeviceWasLost) {
    Open("sim");
    CTappedDevice device;
    device.SetCaptureTap(&CTappedDevice::Tap, &device);
    device.StartCapture();
    for (int b = 0; b < 2; ++b) {
        ASSERT_TRUE(Step(device));
    }
    Bench().SetDeviceGone(true);
    Bench().Step(3);
    Bench().SetDeviceGone(false);
    // The card comes back at the device's next try, a second of bench time later.
    for (int period = 0; period < 30 && device.Blocks().size() < 3; ++period) {
        Bench().Step(1);
        WaitUntil([&] { return device.Blocks().size() >= 3; }, std::chrono::milliseconds(50));
    }
    device.SetCaptureTap(nullptr, nullptr);
    device.StopCapture();
    ASSERT_GE(device.Blocks().size(), 3u) << "capture never came back";
    EXPECT_EQ(device.gaps[1], device.gaps[0]);
    EXPECT_NE(device.gaps[2], device.gaps[1]) << "the outage left no mark";
}

// Clearing the tap from another thread while a call is in progress waits for that call, so
// the context can be freed at once (TSan and a use-after-free would both see it otherwise).
TEST_F(TestSignalThreads, ClearingTheTapWaitsForTheCallInProgress) {
    Open("sim");
    struct Context {
        std::atomic<bool> entered{false};
        std::atomic<bool> returned{false};
        int calls = 0; // the tap's own, read after clearing
    };
    const auto tap = [](const int16_t*, int, uint64_t, void* raw) {
        auto* context = static_cast<Context*>(raw);
        ++context->calls;
        context->entered = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        context->returned = true;
    };
    CSoundDevice device;
    device.StartCapture();
    std::atomic<bool> done{false};
    std::thread clock([&] {
        while (!done) {
            Bench().Step(1);
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    });
    for (int round = 0; round < 8; ++round) {
        auto* context = new Context;
        device.SetCaptureTap(tap, context);
        ASSERT_TRUE(WaitUntil([&] { return context->entered.load(); })) << round;
        device.SetCaptureTap(nullptr, nullptr);
        EXPECT_TRUE(context->returned) << "round " << round;
        EXPECT_GE(context->calls, 1);
        delete context;
    }
    done = true;
    clock.join();
    device.StopCapture();
}

struct CableCase {
    const char* device;
    bool dut;             // the built-in device under test in the cable, else a plain cable
    double x1_gain = 1.0; // a chain named in the device: X1 through this gain, X2 straight
};

class TestSignalThroughTheCable : public TestSignalThreads,
                                  public ::testing::WithParamInterface<CableCase> {};

// 16 buffers of the default test tone through the simulated card. "sim:dut" shows the
// analytic response of its polynomial (fundamental g A + 3 a3 A^3/4, H2 a2 A^2/2,
// H3 a3 A^3/4); a chain named in the device applies its stages; any other simulated name
// returns every sample as played.
TEST_P(TestSignalThroughTheCable, CapturedBlockMatchesTheCable) {
    Open(GetParam().device);
    CTappedDevice device;
    device.SetCaptureTap(&CTappedDevice::Tap, &device);
    device.StartCapture();
    ASSERT_TRUE(device.StartTestSignal(TestSignal{}));
    const int buffers = 16;
    for (int b = 0; b < buffers; ++b) {
        ASSERT_TRUE(Step(device));
    }
    device.StopTestSignal();
    device.StopCapture();
    const auto blocks = device.Blocks();
    Block captured;
    for (const Block& block : blocks) {
        captured.insert(captured.end(), block.begin(), block.end());
    }
    const int frames = buffers * kFramesPerBuffer;
    ASSERT_EQ(captured.size(), size_t(frames) * kChannels);

    if (!GetParam().dut) {
        CTestSignalSource reference;
        Block played(captured.size());
        reference.Fill(played.data(), frames);
        for (size_t i = 0; i < played.size(); i += kChannels) {
            played[i] = int16_t(std::lround(played[i] * GetParam().x1_gain));
        }
        EXPECT_TRUE(captured == played);
        return;
    }
    const SimulatedDut& m = kSimDutModel;
    const double a = std::pow(10.0, -1.0 / 20.0);
    const double fundamental = m.gain * a + 0.75 * m.a3 * a * a * a;
    const double h2Db = 20 * std::log10(m.a2 * a * a / 2 / fundamental);
    const double h3Db = 20 * std::log10(m.a3 * a * a * a / 4 / fundamental);
    for (int channel = 0; channel < kChannels; ++channel) {
        const ToneFit fit =
            FitTones(captured.data() + channel, kChannels, frames, {997.0, 1994.0, 2991.0});
        const double f = fit.amplitudes[0];
        EXPECT_NEAR(20 * std::log10(f / 32768.0 / fundamental), 0.0, 0.001) << channel;
        EXPECT_NEAR(20 * std::log10(fit.amplitudes[1] / f), h2Db, 0.1) << channel;
        EXPECT_NEAR(20 * std::log10(fit.amplitudes[2] / f), h3Db, 0.1) << channel;
    }
}

INSTANTIATE_TEST_SUITE_P(Devices, TestSignalThroughTheCable,
                         ::testing::Values(CableCase{"sim:dut", true}, CableCase{"sim", false},
                                           CableCase{"sim:2", false},
                                           CableCase{"sim:dut=x1:gain:-20", false, 0.1}),
                         [](const auto& info) {
                             return std::string(info.param.dut ? "Dut" : "Plain") +
                                    std::to_string(info.index);
                         });

} // namespace
