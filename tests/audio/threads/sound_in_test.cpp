#include "audio/wave_open.h"
#include "tests/audio/threads/sim_fixture.h"

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

using SoundInTest = SimBenchTest;

TEST_F(SoundInTest, StartWithoutCallbackOrContextFailsSilently) {
    CSoundIn in;
    EXPECT_FALSE(in.Start());
    CallbackProbe probe;
    in.m_callback = &CallbackProbe::Callback;
    EXPECT_FALSE(in.Start()); // still no context
    in.m_callback = nullptr;
    in.m_callbackContext = &probe;
    EXPECT_FALSE(in.Start());
    EXPECT_EQ(m_alerts.Count(), 0u);
    EXPECT_EQ(Bench().OpenCount(WaveDirection::In), 0);
}

TEST_F(SoundInTest, DeliversEveryFilledBufferAndRecyclesTheSameThree) {
    CallbackProbe probe; // outlives the thread, whose stop still calls back
    CSoundIn in;
    Wire(in, probe);
    ASSERT_TRUE(in.Start());
    EXPECT_EQ(in.m_queuedCount, 3);
    Bench().Step(7);
    ASSERT_TRUE(WaitUntil([&] { return probe.calls == 7; }));
    EXPECT_EQ(probe.lastLength, 16384);
    EXPECT_EQ(in.m_queuedCount, 3);
    EXPECT_EQ(m_alerts.Count(), 0u);
}

TEST_F(SoundInTest, SecondStartIsRefusedAndLeavesTheDeviceAlone) {
    CallbackProbe probe; // outlives the thread, whose stop still calls back
    CSoundIn in;
    Wire(in, probe);
    ASSERT_TRUE(in.Start());
    EXPECT_FALSE(in.Start());
    EXPECT_EQ(Bench().OpenCount(WaveDirection::In), 1);
    EXPECT_EQ(in.m_queuedCount, 3);
}

TEST_F(SoundInTest, StopWhenIdleDoesNothing) {
    CSoundIn in;
    in.Stop();
    EXPECT_FALSE(in.m_running);
    EXPECT_EQ(m_alerts.Count(), 0u);
}

TEST_F(SoundInTest, StopReleasesEveryBufferAndDestructionClosesTheDevice) {
    {
        CallbackProbe probe;
        CSoundIn in;
        Wire(in, probe);
        ASSERT_TRUE(in.Start());
        Bench().Step(2);
        in.Stop();
        EXPECT_FALSE(in.m_running);
        ASSERT_TRUE(WaitUntil([&] { return in.m_queuedCount == 0; }));
        EXPECT_TRUE(Bench().IsOpen(WaveDirection::In)); // Stop leaves the device open
        // Started again on the device already open, from a clean count.
        ASSERT_TRUE(in.Start());
        EXPECT_EQ(in.m_queuedCount, 3);
        EXPECT_EQ(Bench().OpenCount(WaveDirection::In), 1);
    }
    EXPECT_FALSE(Bench().IsOpen(WaveDirection::In));
    EXPECT_EQ(Bench().CloseCount(WaveDirection::In), 1);
    EXPECT_EQ(m_alerts.Count(), 0u);
}

struct InFault {
    WaveCall call;
    MMRESULT code;
    const char* text;
};

class SoundInFaultTest : public SimBenchTest, public ::testing::WithParamInterface<InFault> {};

TEST_P(SoundInFaultTest, ReportsCodeTextAndPlace) {
    const InFault& f = GetParam();
    CallbackProbe probe; // outlives the thread, whose stop still calls back
    CSoundIn in;
    Wire(in, probe);
    if (f.call == WaveCall::Open || f.call == WaveCall::Start) {
        Bench().InjectFault(WaveDirection::In, f.call, f.code);
        EXPECT_FALSE(in.Start());
        EXPECT_FALSE(in.m_running);
    } else if (f.call == WaveCall::Reset) {
        ASSERT_TRUE(in.Start());
        Bench().InjectFault(WaveDirection::In, f.call, f.code);
        in.Stop();
        EXPECT_TRUE(in.m_running); // a failed first reset leaves capture running
    } else {
        ASSERT_TRUE(in.Start());
        Bench().InjectFault(WaveDirection::In, f.call, f.code);
        Bench().Step(1);
    }
    ASSERT_TRUE(m_alerts.WaitFor(1));
    EXPECT_EQ(m_alerts.Texts().at(0), f.text);
    EXPECT_EQ(m_alerts.Alerts().at(0).icon, AlertIcon::Warning);
}

std::string InFaultName(const ::testing::TestParamInfo<InFault>& info) {
    static const char* names[] = {"Open", "Prepare", "Unprepare", "Add", "Start", "Reset", "Close"};
    return names[int(info.param.call)];
}

INSTANTIATE_TEST_SUITE_P(
    EveryPlace, SoundInFaultTest,
    ::testing::Values(
        InFault{WaveCall::Open, 2, "WAVEIN:2:simulated bench: injected failure in Start()"},
        InFault{WaveCall::Start, 1, "WAVEIN:1:simulated bench: injected failure in Start()"},
        InFault{WaveCall::Reset, 5, "WAVEIN:5:simulated bench: injected failure in Stop()"},
        InFault{WaveCall::Unprepare, 34,
                "WAVEIN:22:simulated bench: injected failure in OnWIM_DATA()"},
        InFault{WaveCall::Prepare, 11,
                "WAVEIN:b:simulated bench: injected failure in OnWIM_DATA()"}),
    InFaultName);

TEST_F(SoundInTest, FailedQueuingAtStartIsReportedWithItsPlace) {
    CallbackProbe probe; // outlives the thread, whose stop still calls back
    CSoundIn in;
    Wire(in, probe);
    Bench().InjectFault(WaveDirection::In, WaveCall::Add, MMSYSERR_NOMEM, 1);
    ASSERT_TRUE(in.Start());
    ASSERT_EQ(m_alerts.Count(), 1u);
    EXPECT_EQ(m_alerts.Texts()[0],
              "WAVEIN:7:simulated bench: injected failure in AddInputBufferToQueue()");
    EXPECT_EQ(in.m_queuedCount, 2);
}

TEST_F(SoundInTest, BufferThatCannotBeRequeuedLeavesCirculation) {
    CallbackProbe probe; // outlives the thread, whose stop still calls back
    CSoundIn in;
    Wire(in, probe);
    ASSERT_TRUE(in.Start());
    Bench().InjectFault(WaveDirection::In, WaveCall::Add, MMSYSERR_ERROR, 1);
    Bench().Step(1);
    ASSERT_TRUE(WaitUntil([&] { return in.m_queuedCount == 2; }));
    EXPECT_EQ(m_alerts.Texts().at(0), "WAVEIN:1:simulated bench: injected failure in OnWIM_DATA()");
    Bench().Step(4);
    ASSERT_TRUE(WaitUntil([&] { return probe.calls == 5; }));
    EXPECT_EQ(in.m_queuedCount, 2);
}

// The real-time clock paces the card from the wall clock: on a busy machine it may fall behind,
// but it never runs ahead, and it keeps delivering. Every buffer holds the frames right after
// the buffer before, unless the card counted the ones between as dropped.
TEST_F(SoundInTest, RealTimeClockPacesBuffersInOrderNeverAheadOfTheWallClock) {
    Bench().SetClock(BenchClock::RealTime);
    // Each frame carries its own index, so a buffer says which frames it holds.
    Bench().SetInputSignal(0, [](int64_t frame) { return int16_t(frame & 0x7fff); });
    Bench().SetInputSignal(1, [](int64_t frame) { return int16_t(frame >> 15); });
    std::mutex mutex;
    std::vector<int64_t> firstFrames;
    std::atomic<int> filled{0};
    CallbackProbe probe; // outlives the thread, whose stop still calls back
    probe.action = [&](SampleBuffer* buffer) {
        // Stop hands the queued buffers back unfilled: their bytes are old, no part of the stream.
        if (buffer->m_recordedBytes == 0) {
            return;
        }
        const auto* s = reinterpret_cast<const int16_t*>(buffer->m_data);
        std::lock_guard lock(mutex);
        firstFrames.push_back(int64_t(s[0]) | int64_t(s[1]) << 15);
        ++filled;
    };
    CSoundIn in;
    Wire(in, probe);
    const uint64_t droppedBefore = WaveDroppedInputFrames();
    const auto period = std::chrono::duration<double>(kBufferSeconds);
    const int wanted = 20; // 1.9 s of buffers
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(in.Start());
    // Five times the time they take: only a card that stops delivering misses it.
    ASSERT_TRUE(
        WaitUntil([&] { return filled >= wanted; },
                  std::chrono::duration_cast<std::chrono::milliseconds>(5 * wanted * period)))
        << filled << " buffers";
    in.Stop();
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_LE(filled, int(elapsed / period) + 1) << "ahead of the wall clock";
    EXPECT_EQ(probe.lastLength, 16384);

    std::lock_guard lock(mutex);
    ASSERT_GE(firstFrames.size(), size_t(wanted));
    int64_t skipped = 0;
    for (size_t b = 1; b < firstFrames.size(); ++b) {
        ASSERT_GE(firstFrames[b], firstFrames[b - 1] + kFramesPerBuffer) << "buffer " << b;
        ASSERT_EQ((firstFrames[b] - firstFrames[b - 1]) % kFramesPerBuffer, 0) << "buffer " << b;
        skipped += firstFrames[b] - firstFrames[b - 1] - kFramesPerBuffer;
    }
    // Counted drops may also fall after the last buffer, while Stop hands the buffers back.
    EXPECT_LE(uint64_t(skipped), WaveDroppedInputFrames() - droppedBefore) << "an uncounted gap";
}

TEST_F(SoundInTest, DestroyedWhileRunningHandlesNothingAfterwards) {
    Bench().SetClock(BenchClock::RealTime);
    CallbackProbe probe;
    for (int i = 0; i < 3; ++i) {
        auto in = std::make_unique<CSoundIn>();
        Wire(*in, probe);
        ASSERT_TRUE(in->Start());
        std::this_thread::sleep_for(120ms);
        in.reset();
        const int after = probe.calls;
        std::this_thread::sleep_for(200ms);
        EXPECT_EQ(probe.calls, after);
        EXPECT_FALSE(Bench().IsOpen(WaveDirection::In));
    }
}

TEST(SoundInWithoutDevice, StartTellsWhatFailedAndTheProcessGoesOn) {
    CAlertRecorder alerts;
    SelectWaveBackend("alsa:tavrin_no_such_device");
    CallbackProbe probe; // outlives the thread, whose stop still calls back
    CSoundIn in;
    Wire(in, probe);
    EXPECT_FALSE(in.Start());
    SelectWaveBackend(nullptr);
    ASSERT_EQ(alerts.Count(), 1u);
    const std::string text = alerts.Texts()[0];
    EXPECT_EQ(text.rfind("WAVEIN:2:cannot open audio device tavrin_no_such_device: ", 0), 0u)
        << text;
    EXPECT_NE(text.find(" in Start()"), std::string::npos) << text;
    EXPECT_FALSE(in.m_running);
}

// The card goes away for 5 s of bench time and comes back: one report that does not hold the
// worker, a retry a second in between, and capture going on by itself afterwards.
TEST_F(SoundInTest, LostDeviceIsReportedOnceRetriedEverySecondAndCaptureResumes) {
    CallbackProbe probe; // outlives the thread, whose stop still calls back
    CSoundIn in;
    Wire(in, probe);
    ASSERT_TRUE(in.Start());
    Bench().Step(2);
    ASSERT_TRUE(WaitUntil([&] { return probe.calls == 2; }));

    const int outagePeriods = int(5.0 / kBufferSeconds); // 53 periods, about 5 s
    Bench().SetDeviceGone(true);
    Bench().Step(outagePeriods);
    EXPECT_EQ(probe.calls, 2);
    EXPECT_EQ(Bench().ReopenAttempts(), outagePeriods / 11); // one every 11 periods (1.02 s)
    ASSERT_TRUE(m_alerts.WaitFor(1));
    const Alert alert = m_alerts.Alerts().at(0);
    EXPECT_EQ(alert.text, "WAVEIN:6:simulated bench: the line input is gone; retrying in "
                          "OnWIM_LOST()");
    EXPECT_FALSE(alert.waits);

    Bench().SetDeviceGone(false);
    Bench().Step(11 + 3); // the next retry opens it, then three buffers
    ASSERT_TRUE(WaitUntil([&] { return probe.calls >= 4; }));
    EXPECT_TRUE(in.m_running);
    EXPECT_EQ(in.m_queuedCount, 3);
    EXPECT_EQ(m_alerts.Count(), 1u);
    EXPECT_EQ(Bench().OpenCount(WaveDirection::In), 1); // the same device, never reopened by us
}

// A device that is not there, tried again and again (as a lost device is, once a second):
// alsa-lib's complaint about each try reaches stderr only a few times.
TEST(SoundInWithoutDevice, RepeatedFailedOpensPrintOnlyAFewLines) {
    CAlertRecorder alerts;
    SelectWaveBackend("alsa:tavrin_no_such_device");
    const WAVEFORMATEX format = CPcmFormat().m_format;
    CMessageQueue queue;
    ::testing::internal::CaptureStderr();
    for (int i = 0; i < 300; ++i) {
        HWAVEIN device = nullptr;
        EXPECT_EQ(waveInOpen(&device, &format, &queue), MMSYSERR_BADDEVICEID);
    }
    const std::string printed = ::testing::internal::GetCapturedStderr();
    SelectWaveBackend(nullptr);
    EXPECT_LT(printed.size(), 2000u) << printed;
}
