// What the capture path costs per buffer besides the user's callback: the wave layer, the
// message dispatch to the worker and the re-queuing, on the simulated bench's stepped clock.
// Reported as a share of the 92.9 ms one buffer lasts.

#include "audio/sim/simulated_bench.h"
#include "audio/sound_in.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {
std::atomic<int64_t> g_delivered{0};
void Count(SampleBuffer*, void*) { g_delivered.fetch_add(1, std::memory_order_release); }
} // namespace

static void BM_CapturePathPerBuffer(benchmark::State& state) {
    SelectWaveBackend("sim");
    CSimulatedBench& bench = CSimulatedBench::Instance();
    bench.Reset();
    bench.SetClock(BenchClock::Stepped);
    int context = 0;
    CSoundIn in;
    in.m_callback = &Count;
    in.m_callbackContext = &context;
    in.Start();
    int64_t expected = g_delivered.load();
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        bench.Step(1);
        ++expected;
        while (g_delivered.load(std::memory_order_acquire) < expected) {
            std::this_thread::yield();
        }
    }
    const double perBuffer =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() /
        double(state.iterations());
    in.Stop();
    SelectWaveBackend(nullptr);
    // Wall time from "buffer filled" to "callback returned", so thread hand-over is included.
    state.counters["pct_of_buffer_period"] = 100.0 * perBuffer / kBufferSeconds;
}
BENCHMARK(BM_CapturePathPerBuffer)->UseRealTime();
