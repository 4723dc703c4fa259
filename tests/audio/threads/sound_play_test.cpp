#include "tests/audio/threads/sim_fixture.h"

#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <future>
#include <mutex>
#include <poll.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;

using SoundPlayTest = SimBenchTest;

namespace {
// Fills every buffer with its sequence number, so the order of play can be checked.
struct Numbering {
    std::atomic<int16_t> next{1};
    void operator()(SampleBuffer* b) {
        const int16_t n = next++;
        auto* s = reinterpret_cast<int16_t*>(b->m_data);
        for (int i = 0; i < b->m_length / 2; ++i) {
            s[i] = n;
        }
    }
};
} // namespace

TEST_F(SoundPlayTest, StartPrimesThreeBuffersOnTheCallingThread) {
    CallbackProbe probe;
    CSoundPlay play;
    const auto caller = std::this_thread::get_id();
    std::atomic<int> onCaller{0};
    probe.action = [&](SampleBuffer*) { onCaller += std::this_thread::get_id() == caller; };
    Wire(play, probe);
    ASSERT_TRUE(play.start());
    EXPECT_EQ(probe.calls, 3);
    EXPECT_EQ(onCaller, 3);
    EXPECT_EQ(play.m_queuedCount, 3);
    EXPECT_FALSE(play.start()); // already playing
    EXPECT_EQ(Bench().OpenCount(WaveDirection::Out), 1);
}

TEST_F(SoundPlayTest, RefillsEachPlayedBufferInOrder) {
    CallbackProbe out, captured;
    Numbering numbering;
    out.action = std::ref(numbering);
    std::vector<int16_t> seen;
    std::mutex seenMutex;
    CSoundPlay play;
    CSoundIn in;
    captured.action = [&](SampleBuffer* b) {
        std::lock_guard lock(seenMutex);
        seen.push_back(reinterpret_cast<int16_t*>(b->m_data)[0]);
    };
    Wire(play, out);
    Wire(in, captured);
    ASSERT_TRUE(in.Start());
    ASSERT_TRUE(play.start());
    for (int i = 0; i < 6; ++i) {
        Bench().Step(1);
        // Each refill happens on the worker; give it time before the next period.
        ASSERT_TRUE(WaitUntil([&] {
            return out.calls == 3 + i + 1 && play.m_queuedCount == 3 && captured.calls == i + 1;
        }));
    }
    std::lock_guard lock(seenMutex);
    EXPECT_EQ(seen, (std::vector<int16_t>{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(out.calls, 9);
}

TEST_F(SoundPlayTest, StopWhenIdleDoesNothingAndStopWhilePlayingClosesOnce) {
    CallbackProbe probe;
    CSoundPlay play;
    play.stop();
    Wire(play, probe);
    ASSERT_TRUE(play.start());
    Bench().Step(2);
    play.stop();
    ASSERT_TRUE(WaitUntil([&] { return Bench().CloseCount(WaveDirection::Out) == 1; }));
    EXPECT_EQ(play.m_queuedCount, 0);
    EXPECT_EQ(play.m_hWaveOut.load(), nullptr);
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(Bench().CloseCount(WaveDirection::Out), 1);
    EXPECT_EQ(m_alerts.Count(), 0u);
}

TEST_F(SoundPlayTest, StopCrossingARefillLeavesNothingOnTheDeviceAndCloses) {
    // The worker is filling a played buffer when stop() runs on another thread: the filled
    // buffer must not reach the device after stop's reset, or it stays there unplayed on a
    // card whose clock has stopped and the device never closes.
    CallbackProbe probe;
    CSoundPlay play;
    std::promise<void> inRefill;
    std::promise<void> stopped;
    std::shared_future<void> stopDone = stopped.get_future().share();
    probe.action = [&](SampleBuffer*) {
        if (probe.calls == 3) { // the first refill, after the three primed at start
            inRefill.set_value();
            stopDone.wait();
        }
    };
    Wire(play, probe);
    ASSERT_TRUE(play.start());
    Bench().Step(1);
    ASSERT_EQ(inRefill.get_future().wait_for(10s), std::future_status::ready);
    play.stop();
    stopped.set_value();
    ASSERT_TRUE(WaitUntil([&] { return Bench().CloseCount(WaveDirection::Out) == 1; }));
    EXPECT_EQ(play.m_queuedCount, 0);
    EXPECT_EQ(m_alerts.Count(), 0u);
}

TEST_F(SoundPlayTest, EmptiedRefillEndsPlaybackAndClosesExactlyOnce) {
    CallbackProbe probe;
    CSoundPlay play;
    probe.action = [&](SampleBuffer* b) {
        if (probe.calls >= 3) {
            b->m_length = 0; // the first refill comes back empty
        }
    };
    Wire(play, probe);
    ASSERT_TRUE(play.start());
    Bench().Step(1);
    ASSERT_TRUE(WaitUntil([&] { return Bench().CloseCount(WaveDirection::Out) == 1; }));
    EXPECT_FALSE(play.m_running);
    EXPECT_EQ(play.m_queuedCount, 0);
    Bench().Step(3);
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(Bench().CloseCount(WaveDirection::Out), 1);
    EXPECT_EQ(probe.calls, 4);
}

TEST_F(SoundPlayTest, StartWhileDrainingWaitsForTheOldDevice) {
    CallbackProbe probe;
    std::mutex gate;
    std::unique_lock hold(gate);
    std::atomic<bool> inRefill{false};
    CSoundPlay play;
    probe.action = [&](SampleBuffer*) {
        if (probe.calls >= 3 && !inRefill.exchange(true)) {
            std::lock_guard wait(gate); // the worker sits in a refill until released
        }
    };
    Wire(play, probe);
    ASSERT_TRUE(play.start());
    Bench().Step(1);
    ASSERT_TRUE(WaitUntil([&] { return inRefill.load(); }));
    play.stop(); // the two queued buffers come back behind the refill in progress
    auto restarted = std::async(std::launch::async, [&] { return play.start(); });
    EXPECT_EQ(restarted.wait_for(100ms), std::future_status::timeout);
    hold.unlock();
    // The refill in progress still re-queues its buffer; once played, the device closes.
    for (int i = 0; i < 10 && restarted.wait_for(20ms) != std::future_status::ready; ++i) {
        Bench().Step(1);
    }
    ASSERT_TRUE(restarted.get());
    EXPECT_EQ(Bench().OpenCount(WaveDirection::Out), 2);
    EXPECT_EQ(Bench().CloseCount(WaveDirection::Out), 1);
    EXPECT_EQ(m_alerts.Count(), 0u);
}

struct OutFault {
    WaveCall call;
    MMRESULT code;
    const char* text;
};

class SoundPlayFaultTest : public SimBenchTest, public ::testing::WithParamInterface<OutFault> {};

TEST_P(SoundPlayFaultTest, ReportsCodeTextAndPlace) {
    const OutFault& f = GetParam();
    CallbackProbe probe;
    CSoundPlay play;
    Wire(play, probe);
    switch (f.call) {
    case WaveCall::Open:
        Bench().InjectFault(WaveDirection::Out, f.call, f.code);
        EXPECT_FALSE(play.start());
        EXPECT_FALSE(play.m_running);
        break;
    case WaveCall::Prepare:
    case WaveCall::Add:
        Bench().InjectFault(WaveDirection::Out, f.call, f.code);
        EXPECT_TRUE(play.start());
        EXPECT_EQ(play.m_queuedCount, 2); // the refused buffer left circulation
        break;
    case WaveCall::Unprepare:
        ASSERT_TRUE(play.start());
        Bench().InjectFault(WaveDirection::Out, f.call, f.code);
        Bench().Step(1);
        break;
    case WaveCall::Reset:
        ASSERT_TRUE(play.start());
        Bench().InjectFault(WaveDirection::Out, f.call, f.code);
        play.stop();
        break;
    case WaveCall::Close:
        ASSERT_TRUE(play.start());
        Bench().InjectFault(WaveDirection::Out, f.call, f.code);
        play.stop();
        break;
    default:
        FAIL();
    }
    ASSERT_TRUE(m_alerts.WaitFor(1));
    EXPECT_EQ(m_alerts.Texts().at(0), f.text);
}

std::string OutFaultName(const ::testing::TestParamInfo<OutFault>& info) {
    static const char* names[] = {"Open", "Prepare", "Unprepare", "Add", "Start", "Reset", "Close"};
    return names[int(info.param.call)];
}

INSTANTIATE_TEST_SUITE_P(
    EveryPlace, SoundPlayFaultTest,
    ::testing::Values(
        OutFault{WaveCall::Open, 4, "WAVEOUT:4:simulated bench: injected failure in start()"},
        OutFault{WaveCall::Prepare, 7,
                 "WAVEOUT:7:simulated bench: injected failure in AddOutputBufferToQueue()"},
        OutFault{WaveCall::Add, 1,
                 "WAVEOUT:1:simulated bench: injected failure in AddOutputBufferToQueue()"},
        OutFault{WaveCall::Unprepare, 5,
                 "WAVEOUT:5:simulated bench: injected failure in OnWOM_DONE()"},
        OutFault{WaveCall::Reset, 1, "WAVEOUT:1:simulated bench: injected failure in stop()"},
        OutFault{WaveCall::Close, 33, "WAVEOUT:21:simulated bench: injected failure in stop()"}),
    OutFaultName);

// The worker closes the device as the last buffer comes back, at the very moment the GUI thread
// may be resetting it again on its way out; this once crashed one run in a few hundred.
TEST_F(SoundPlayTest, StopAndDestroyRightAwayNeverTouchesAClosedDevice) {
    CallbackProbe probe;
    for (int i = 0; i < 300; ++i) {
        {
            CSoundPlay play;
            Wire(play, probe);
            ASSERT_TRUE(play.start());
            play.stop();
        }
        ASSERT_FALSE(Bench().IsOpen(WaveDirection::Out)) << "round " << i;
    }
    EXPECT_EQ(Bench().CloseCount(WaveDirection::Out), 300);
    EXPECT_EQ(m_alerts.Count(), 0u);
}

// Every write failing leaves no buffer to come back; stop must still close the device, or the
// next start waits for it and fails with "buffers are still queued".
TEST_F(SoundPlayTest, PlaybackWhoseEveryWriteFailedClosesOnStop) {
    CallbackProbe probe;
    CSoundPlay play;
    Wire(play, probe);
    Bench().InjectFault(WaveDirection::Out, WaveCall::Add, MMSYSERR_ERROR, 3);
    ASSERT_TRUE(play.start());
    EXPECT_EQ(play.m_queuedCount, 0);
    play.stop();
    ASSERT_TRUE(WaitUntil([&] { return !Bench().IsOpen(WaveDirection::Out); }));

    // A device still open would make start wait out kDrainWait and fail.
    EXPECT_TRUE(play.start());
    EXPECT_EQ(Bench().OpenCount(WaveDirection::Out), 2);
    EXPECT_EQ(play.m_queuedCount, 3);
    EXPECT_EQ(m_alerts.Count(), 3u); // the three failed writes, nothing more
}

// Capture and playback lose the card together: that is one outage, one report.
TEST_F(SoundPlayTest, LostCardIsReportedOnceAndPlaysAgainWhenBack) {
    CallbackProbe probe, captured;
    CSoundPlay play;
    CSoundIn in;
    Wire(play, probe);
    Wire(in, captured);
    ASSERT_TRUE(in.Start());
    ASSERT_TRUE(play.start());
    Bench().SetDeviceGone(true);
    Bench().Step(30);
    ASSERT_TRUE(m_alerts.WaitFor(1));
    EXPECT_EQ(m_alerts.Texts().at(0),
              "WAVEOUT:6:simulated bench: the line output is gone; retrying in OnWOM_LOST()");
    const int64_t played = Bench().PlayedOutputBuffers();
    Bench().SetDeviceGone(false);
    Bench().Step(11 + 3);
    ASSERT_TRUE(WaitUntil([&] { return Bench().PlayedOutputBuffers() >= played + 3; }));
    EXPECT_EQ(m_alerts.Count(), 1u);
    in.Stop();
    EXPECT_TRUE(WaitUntil([&] { return play.m_queuedCount == 3; }));
}

// Stopping restarts ALSA's playback thread; the buffers handed back meanwhile are freed by the
// worker, so that thread must not find them still queued (ThreadSanitizer's catch). ALSA's null
// device takes every write at once, which keeps the thread writing right up to the stop.
TEST(SoundPlayOnAlsa, StopHandsBackBuffersThePlaybackThreadNoLongerReads) {
    CAlertRecorder alerts;
    SelectWaveBackend("alsa:null");
    CallbackProbe probe; // outlives the thread, whose stop still calls back
    for (int i = 0; i < 150; ++i) {
        CSoundPlay play;
        Wire(play, probe);
        ASSERT_TRUE(play.start()) << "round " << i;
        std::this_thread::sleep_for(5ms);
        play.stop();
    }
    SelectWaveBackend(nullptr);
    EXPECT_GT(probe.calls, 450); // refilled while playing, not only primed
    EXPECT_EQ(alerts.Count(), 0u);
}

namespace {

// The far end of ALSA's file plugin pointed at a FIFO: while this reads, the device plays;
// closing it takes the device away (the next write fails), opening it again brings it back.
class CFifoListener {
public:
    explicit CFifoListener(std::string path) : m_path(std::move(path)) {}
    ~CFifoListener() { Close(); }

    // Non-blocking, so it opens with no writer yet and the writer's own open then goes through.
    void Open() {
        m_fd = ::open(m_path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        ASSERT_GE(m_fd, 0) << std::strerror(errno);
        m_stop = false;
        m_thread = std::thread([this] {
            char chunk[65536];
            while (!m_stop) {
                pollfd fd{m_fd, POLLIN, 0};
                ::poll(&fd, 1, 10);
                const ssize_t n = ::read(m_fd, chunk, sizeof chunk);
                if (n > 0) {
                    m_bytes += uint64_t(n);
                } else {
                    std::this_thread::sleep_for(2ms); // no writer yet, or nothing written
                }
            }
        });
    }
    void Close() {
        if (m_thread.joinable()) {
            m_stop = true;
            m_thread.join();
        }
        if (m_fd >= 0) {
            ::close(m_fd);
            m_fd = -1;
        }
    }
    bool IsOpen() const { return m_fd >= 0; }
    uint64_t Bytes() const { return m_bytes; }

private:
    std::string m_path;
    int m_fd = -1;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<uint64_t> m_bytes{0};
};

} // namespace

// The device goes away, comes back, and goes away again: each outage gets its one report. A
// device that came back without saying so would keep the first outage open for good, and
// every later one would pass in silence.
TEST(SoundPlayOnAlsa, EveryOutageIsReportedNotOnlyTheFirst) {
    char folder[] = "/tmp/tavrin-fifo-XXXXXX";
    ASSERT_NE(::mkdtemp(folder), nullptr);
    const std::string fifo = std::string(folder) + "/line-out";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    // A write to a FIFO nobody reads raises SIGPIPE; here it must only fail the write.
    const auto oldPipe = ::signal(SIGPIPE, SIG_IGN);
    CAlertRecorder alerts;
    SelectWaveBackend(("alsa:file:'" + fifo + "',raw").c_str());
    CFifoListener listener(fifo);
    listener.Open();
    {
        CallbackProbe probe;
        CSoundPlay play;
        // Declared after the player, so it goes first: a lost device waits in open() for a
        // listener, and only then can the player stop it, whatever assertion ended the test.
        struct CListenAgain {
            CFifoListener& listener;
            ~CListenAgain() {
                if (!listener.IsOpen()) {
                    listener.Open();
                }
            }
        } listenAgain{listener};
        Wire(play, probe);
        ASSERT_TRUE(play.start()) << (alerts.Count() ? alerts.Texts()[0] : "");
        for (size_t outage = 1; outage <= 2; ++outage) {
            const uint64_t before = listener.Bytes();
            ASSERT_TRUE(WaitUntil([&] { return listener.Bytes() > before + 65536; }))
                << "playing before outage " << outage;
            listener.Close();
            ASSERT_TRUE(alerts.WaitFor(outage, 5s)) << "outage " << outage << " not reported";
            EXPECT_EQ(alerts.Texts().back().rfind("WAVEOUT:", 0), 0u) << alerts.Texts().back();
            listener.Open(); // back within the next retry, a second later
        }
        const uint64_t before = listener.Bytes();
        EXPECT_TRUE(WaitUntil([&] { return listener.Bytes() > before + 65536; }));
        play.stop();
    }
    listener.Close();
    SelectWaveBackend(nullptr);
    ::signal(SIGPIPE, oldPipe);
    EXPECT_EQ(alerts.Count(), 2u) << ::testing::PrintToString(alerts.Texts());
    std::filesystem::remove_all(folder);
}
