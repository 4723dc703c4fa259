#include "sim_fixture.h"

#include <chrono>
#include <thread>

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

TEST_F(SoundInTest, RealTimeClockDeliversAboutElevenBuffersASecond) {
    Bench().SetClock(BenchClock::RealTime);
    CallbackProbe probe; // outlives the thread, whose stop still calls back
    CSoundIn in;
    Wire(in, probe);
    ASSERT_TRUE(in.Start());
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(WaitUntil([&] { return probe.calls >= 1; }, 2s));
    const int first = probe.calls;
    const auto t0 = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(2s);
    const int delivered = probe.calls - first;
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    in.Stop();
    const double rate = delivered / seconds;
    EXPECT_NEAR(rate, 44100.0 / 4096.0, 1.0) << "over " << seconds << " s";
    EXPECT_EQ(probe.lastLength, 16384);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
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
