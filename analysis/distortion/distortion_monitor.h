#pragma once
// CDistortionMonitor: the distortion analyser run on the captured stream, block after block, for
// both channels. The analyser window and `tavrin thd` drive it the same way: a capture tap hands
// it every captured buffer, and each full block becomes one DistortionRow for the sink.
//
// Threads: construction and destruction on the owner's thread, with no tap calling; SetSettings
// on any thread; Append (and Tap) on the capture worker, which also calls the sink. Analysers are
// made by SetSettings (or the constructor) when the block size changes, so the capture worker
// never plans a transform; per block nothing is allocated.
//
// Samples come as the card gives them: int16 (the panel's stream, / 32768) or float scaled to
// +-1.0 full scale (a measurement stream at any depth), at the rate the settings name.

#include "analysis/distortion/distortion.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

inline constexpr int kMinDistortionBlockFrames = 8192;
inline constexpr int kMaxDistortionBlockFrames = 262144;

struct DistortionMonitorSettings {
    int block_frames = 65536; // kMinDistortionBlockFrames..kMaxDistortionBlockFrames
    DistortionSettings analysis;
    std::optional<ImdTones> imd;   // also the two-tone figures
    double sample_rate_hz = 44100; // the captured stream's; positive
};

struct DistortionRow {
    double time_s = 0; // the block's start: frames captured since the monitor's first / rate
    bool gap = false;  // input was lost in the block (xrun, dropped buffer): readings refused
    std::array<DistortionReading, 2> channels{};    // X1, X2
    std::array<std::optional<ImdReading>, 2> imd{}; // when the settings ask for it
    double bin_hz = 0;
    std::array<std::vector<double>, 2> residual_dbfs{}; // only for a monitor made withSpectra
};

// A block's length in seconds at the settings' rate.
inline double DistortionBlockSeconds(const DistortionMonitorSettings& settings) {
    return settings.block_frames / settings.sample_rate_hz;
}

// A row with room for the residual spectra of the largest block: a row copied into it (or into a
// copy of it) allocates nothing.
DistortionRow DistortionRowWithRoom();

class CDistortionMonitor {
public:
    // sink: called on the capture worker with each finished block's row, which lives only for
    // the call. withSpectra: also copy each channel's residual spectrum into the row (into room
    // made here, so that no block allocates).
    CDistortionMonitor(std::function<void(const DistortionRow&)> sink, bool withSpectra);
    ~CDistortionMonitor();
    CDistortionMonitor(const CDistortionMonitor&) = delete;
    CDistortionMonitor& operator=(const CDistortionMonitor&) = delete;

    // Any thread. Takes effect at the next Append: the block being filled is thrown away and the
    // next one starts there. Block sizes outside the range are clamped into it; a rate that is
    // not positive throws std::invalid_argument here, never on the capture worker.
    void SetSettings(const DistortionMonitorSettings& settings);

    // Capture worker. `frames` interleaved stereo frames; gapCount: the input lost so far (xruns
    // plus dropped buffers, any running count). A count that moved since the last call refuses
    // the block that receives this call's first frame: the loss came before these frames.
    void Append(const int16_t* interleaved, int frames, uint64_t gapCount);
    void Append(const float* interleaved, int frames, uint64_t gapCount);
    // Append through a capture tap: `self` is the monitor.
    static void Tap(const int16_t* interleaved, int frames, uint64_t gapCount, void* self);
    static void TapFloat(const float* interleaved, int frames, uint64_t gapCount, void* self);

private:
    struct Analysers {
        int frames = 0;
        double rate_hz = 0;
        std::array<std::unique_ptr<CDistortionAnalyser>, 2> channel;
    };
    static std::shared_ptr<Analysers> MakeAnalysers(int frames, double rateHz);
    void TakeSettings();
    template <class Sample>
    void AppendSamples(const Sample* interleaved, int frames, uint64_t gapCount);
    void FinishBlock();

    const std::function<void(const DistortionRow&)> m_sink;
    const bool m_withSpectra;

    // SetSettings hands over through these; the capture worker takes them at its next Append.
    std::mutex m_pendingMutex; // never held while a transform is planned
    DistortionMonitorSettings m_pending;
    std::shared_ptr<Analysers> m_pendingAnalysers;
    bool m_changed = false;
    std::shared_ptr<Analysers> m_retired; // given up by the worker, freed by the next SetSettings

    // Capture worker only.
    DistortionMonitorSettings m_settings;
    std::shared_ptr<Analysers> m_analysers;
    std::vector<double> m_block; // interleaved, fractions of full scale
    int m_filled = 0;            // frames in m_block
    int64_t m_blockStartFrame = 0;
    int64_t m_framesSeen = 0;
    uint64_t m_gapCount = 0;
    bool m_sawAny = false;
    bool m_blockGap = false;
    DistortionRow m_row; // reused, so a spectrum's copy allocates nothing after the first block
};
