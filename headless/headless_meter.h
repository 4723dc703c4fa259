#pragma once
// CHeadlessMeter: the engine as `tavrin measure` drives it. It is a CSoundDevice like the
// panel, so capture, playback, the generator and the WAV recorder are the panel's own; its
// OnCaptureBuffer runs the panel's frequency meter and multimeter on the block and the tone
// estimator on the whole buffer, and queues one row per buffer for the main thread to print.
//
// Threads: construction, the starts and stops, TakeRows and destruction on the main thread;
// OnCaptureBuffer on the capture worker. The worker never blocks on the output: rows wait in a
// fixed ring, and a main thread that falls a whole ring behind loses the oldest (counted).

#include "engine/sound_device.h"
#include "headless/measure_rows.h"
#include "headless/row_ring.h"
#include "measure/tone_estimator.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

class CHeadlessMeter : public CSoundDevice {
public:
    // meterMode: nothing leaves the meter column out. bufferLimit: rows to make, 0 for no limit;
    // buffers after the last row are neither measured nor recorded.
    CHeadlessMeter(std::optional<int> meterMode, double refValue, int64_t bufferLimit);
    // Stops capture and playback before the estimator and the ring go.
    ~CHeadlessMeter() override;

    void OnCaptureBuffer(const uint8_t* samples) override;

    // Main thread. Appends the rows made since the last call, oldest first.
    void TakeRows(std::vector<MeasureRow>& rows);
    // True once bufferLimit rows were made.
    bool Finished() const { return m_finished.load(); }
    int64_t DroppedRows();

private:
    static constexpr int kRingRows = 256; // 23.8 s of rows

    MeasureRow MakeRow(const int16_t* buffer);

    const std::optional<int> m_meterMode;
    const double m_refValue;
    const int64_t m_bufferLimit;

    // Capture worker only.
    CToneEstimator m_estimator;
    int16_t m_frames[kFramesPerBuffer * kChannels] = {};
    int64_t m_rowsMade = 0;
    uint64_t m_gaps = 0; // xruns and dropped input seen so far

    std::mutex m_ringMutex; // also held for a whole OnCaptureBuffer, which stopping waits out
    CRowRing<MeasureRow, kRingRows> m_ring;
    std::atomic<bool> m_finished{false};
};
