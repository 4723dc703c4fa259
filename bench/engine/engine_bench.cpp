// Per-buffer cost of the generator (playback worker) and of the recorder's write (capture
// worker), reported as pct_of_buffer_period: 100 would use a whole 4096-frame buffer period.
#include "audio/generator.h"
#include "engine/sound_device.h"
#include "files/wav_file.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

// Inverted rate: seconds per iteration, divided by the period and scaled to percent.
void ReportShareOfPeriod(benchmark::State& state) {
    state.counters["pct_of_buffer_period"] = benchmark::Counter(
        double(state.iterations()) * kBufferSeconds / 100.0,
        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// The whole fill as the playback callback runs it, both channels with the same waveform.
void BM_FillOutputBuffer(benchmark::State& state) {
    CSoundDevice device;
    device.m_waveL = device.m_waveR = int32_t(state.range(0));
    device.m_freqL = 1000;
    device.m_freqR = 19999;
    device.m_generatorOn = true;
    std::vector<uint8_t> data(kBufferBytes);
    for (auto _ : state) {
        SampleBuffer buffer(data.data(), kBufferBytes);
        device.FillOutputBuffer(&buffer);
        benchmark::DoNotOptimize(data.data());
        benchmark::ClobberMemory();
    }
    ReportShareOfPeriod(state);
}
BENCHMARK(BM_FillOutputBuffer)
    ->ArgName("waveform")
    ->Arg(kWaveSine)
    ->Arg(kWaveTriangle)
    ->Arg(kWaveSquare)
    ->Unit(benchmark::kMicrosecond);

// One captured buffer appended to a recording in the temporary folder, sizes rewritten.
void BM_WavFileWrite(benchmark::State& state) {
    const char* tmp = std::getenv("TMPDIR");
    const std::string path = std::string(tmp != nullptr ? tmp : "/tmp") + "/tavrin-bench-" +
                             std::to_string(::getpid()) + ".wav";
    const CPcmFormat pcm;
    std::vector<uint8_t> data(kBufferBytes, 0x33);
    int64_t written = 0;
    auto* file = new CWavFile(path, &pcm.m_format);
    for (auto _ : state) {
        SampleBuffer buffer(data.data(), kBufferBytes);
        if (!file->Write(buffer)) {
            state.SkipWithError("write failed");
            break;
        }
        // Start over now and then so the benchmark does not fill the disk.
        if (++written % 4096 == 0) {
            state.PauseTiming();
            delete file;
            file = new CWavFile(path, &pcm.m_format);
            state.ResumeTiming();
        }
    }
    delete file;
    std::filesystem::remove(path);
    ReportShareOfPeriod(state);
}
BENCHMARK(BM_WavFileWrite)->Unit(benchmark::kMicrosecond);

} // namespace
