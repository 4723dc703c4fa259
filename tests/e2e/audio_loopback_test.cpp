// Plays a known signal through CSoundPlay and captures it with CSoundIn, on the ALSA device of a
// private sound server whose null sink's monitor is the capture source: a real loopback.

#include "audio/sim/simulated_bench.h"
#include "audio/sound_in.h"
#include "audio/sound_play.h"
#include "tests/support/alert_recorder.h"
#include "tests/support/loopback_server.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

using namespace std::chrono_literals;

namespace {

// Frames in a row that identify a stretch of the pattern beyond doubt.
constexpr int64_t kShortestRun = 64;

// A pseudo-random, never-repeating stereo pattern: any stretch of it identifies its position.
int16_t Pattern(int64_t frame, int channel) {
    uint64_t x = uint64_t(frame) * 2 + uint64_t(channel) + 0x9E3779B97F4A7C15ull;
    x ^= x >> 33;
    x *= 0xff51afd7ed558ccdull;
    x ^= x >> 33;
    return int16_t(int(x % 40001) - 20000);
}

struct Player {
    std::atomic<int64_t> nextFrame{0};
    static void Fill(SampleBuffer* buffer, void* context) {
        auto* self = static_cast<Player*>(context);
        auto* s = reinterpret_cast<int16_t*>(buffer->m_data);
        const int frames = buffer->m_length / kBytesPerFrame;
        const int64_t first = self->nextFrame.fetch_add(frames);
        for (int f = 0; f < frames; ++f) {
            s[2 * f] = Pattern(first + f, 0);
            s[2 * f + 1] = Pattern(first + f, 1);
        }
    }
};

struct Recorder {
    std::mutex mutex;
    std::vector<int16_t> samples;
    static void Take(SampleBuffer* buffer, void* context) {
        auto* self = static_cast<Recorder*>(context);
        const auto* s = reinterpret_cast<const int16_t*>(buffer->m_data);
        std::lock_guard lock(self->mutex);
        self->samples.insert(self->samples.end(), s, s + buffer->m_length / 2);
    }
};

} // namespace

TEST(AudioLoopback, CapturedStreamHoldsThePlayedSamplesWithoutAGap) {
    CLoopbackServer server;
    std::string why;
    ASSERT_TRUE(server.Start(&why)) << why;
    CAlertRecorder alerts;
    SelectWaveBackend(server.AudioChoice().c_str());
    const uint64_t xrunsBefore = WaveXrunCount();
    const uint64_t droppedBefore = WaveDroppedInputFrames();

    Recorder recorder;
    Player player;
    {
        CSoundIn in;
        CSoundPlay play;
        in.m_callback = &Recorder::Take;
        in.m_callbackContext = &recorder;
        play.m_callback = &Player::Fill;
        play.m_callbackContext = &player;
        ASSERT_TRUE(in.Start()) << (alerts.Count() ? alerts.Texts()[0] : "");
        std::this_thread::sleep_for(300ms);
        ASSERT_TRUE(play.start()) << (alerts.Count() ? alerts.Texts()[0] : "");
        std::this_thread::sleep_for(8500ms);
        play.stop();
        std::this_thread::sleep_for(600ms);
        in.Stop();
    }
    const uint64_t xruns = WaveXrunCount() - xrunsBefore;
    const uint64_t dropped = WaveDroppedInputFrames() - droppedBefore;
    SelectWaveBackend(nullptr);
    EXPECT_EQ(alerts.Count(), 0u) << alerts.Texts()[0];

    std::lock_guard lock(recorder.mutex);
    const std::vector<int16_t>& got = recorder.samples;
    const int64_t capturedFrames = int64_t(got.size() / 2);
    const int64_t playedFrames = player.nextFrame.load();
    // Every played frame by its value (the pattern's pairs do not repeat within a run).
    std::unordered_map<uint32_t, int64_t> where;
    const auto key = [](int16_t l, int16_t r) {
        return (uint32_t(uint16_t(l)) << 16) | uint16_t(r);
    };
    for (int64_t k = 0; k < playedFrames; ++k) {
        where.emplace(key(Pattern(k, 0), Pattern(k, 1)), k);
    }
    // The captured stream as runs of consecutive played frames, bit for bit, in capture order.
    struct Run {
        int64_t capturedAt, playedFrom, frames;
    };
    std::vector<Run> runs;
    for (int64_t c = 0; c < capturedFrames;) {
        const auto it = where.find(key(got[2 * c], got[2 * c + 1]));
        if (it == where.end()) {
            ++c;
            continue;
        }
        int64_t run = 0;
        while (c + run < capturedFrames && it->second + run < playedFrames &&
               got[2 * (c + run)] == Pattern(it->second + run, 0) &&
               got[2 * (c + run) + 1] == Pattern(it->second + run, 1)) {
            ++run;
        }
        // A stray frame that happens to equal a played one is no run.
        if (run >= kShortestRun) {
            runs.push_back({c, it->second, run});
        }
        c += std::max<int64_t>(run, 1);
    }
    int64_t matched = 0, longest = 0, lossyGaps = 0;
    for (size_t i = 0; i < runs.size(); ++i) {
        matched += runs[i].frames;
        longest = std::max(longest, runs[i].frames);
        if (i == 0) {
            continue;
        }
        const int64_t end = runs[i - 1].playedFrom + runs[i - 1].frames;
        // In order: no played frame comes back, none comes before one already captured.
        EXPECT_GE(runs[i].playedFrom, end)
            << "run " << i << " at captured frame " << runs[i].capturedAt << " goes back";
        lossyGaps += runs[i].playedFrom > end ? 1 : 0;
    }
    std::printf("captured %lld frames in %zu runs (%lld with played frames missing between), "
                "longest %.2f s; %lld of %lld played frames; %llu xruns, %llu input frames "
                "dropped\n",
                (long long)capturedFrames, runs.size(), (long long)lossyGaps,
                double(longest) / kSampleRate, (long long)matched, (long long)playedFrames,
                (unsigned long long)xruns, (unsigned long long)dropped);
    // A busy machine may miss a deadline; the stream then says so by an xrun or dropped input.
    // Played frames that vanish without either are lost by the program.
    if (xruns == 0 && dropped == 0) {
        EXPECT_EQ(lossyGaps, 0);
    }
    // Buffers kept coming: most of the 8.5 s played is in the capture, exact.
    EXPECT_GE(double(matched) / kSampleRate, 5.0);
}
