#include "headless/headless_meter.h"

#include "audio/wave/wave_api.h"
#include "headless/stop_signal.h"
#include "measure/frequency_meter.h"
#include "measure/multimeter.h"
#include "measure/readout.h"

#include <cstring>

namespace {

// A readout that keeps the value the panel's digit readout would show.
class CHeldReadout : public IReadout {
public:
    void SetValue(int value) override { m_value = value; }
    int m_value = -1;
};

ChannelRow ToChannelRow(const ChannelReading& reading, int readoutHertz) {
    // The one-second average: per buffer the estimate wanders by a few hundredths of a hertz,
    // and a log read to a hundredth wants the steadier figure; it follows a new tone at once.
    return {readoutHertz, reading.averageHertz, reading.rmsDbfs, reading.peakDbfs, std::nullopt};
}

} // namespace

CHeadlessMeter::CHeadlessMeter(std::optional<int> meterMode, double refValue, int64_t bufferLimit)
    : m_meterMode(meterMode), m_refValue(refValue), m_bufferLimit(bufferLimit) {}

CHeadlessMeter::~CHeadlessMeter() {
    StopCapture();
    StopPlayback();
    std::lock_guard wait(m_ringMutex);
}

void CHeadlessMeter::OnCaptureBuffer(const uint8_t* samples) {
    std::lock_guard lock(m_ringMutex);
    if (m_bufferLimit > 0 && m_rowsMade >= m_bufferLimit) {
        // Cleared before the engine's RecordBuffer for this buffer: the file ends with the
        // last buffer that has a row.
        m_recording = 0;
        return;
    }
    std::memcpy(m_frames, samples, sizeof m_frames);
    // Input lost in a gap must not be averaged over as if the buffers were consecutive.
    if (const uint64_t gaps = WaveXrunCount() + WaveDroppedInputFrames(); gaps != m_gaps) {
        m_estimator.Reset();
        m_gaps = gaps;
    }
    const MeasureRow row = MakeRow(m_frames);
    m_ring.Push(row);
    ++m_rowsMade;
    if (m_bufferLimit > 0 && m_rowsMade >= m_bufferLimit) {
        m_finished = true;
    }
    WakeMainThread();
}

MeasureRow CHeadlessMeter::MakeRow(const int16_t* buffer) {
    // The panel's meters see the block, the buffer's first 2048 frames; the estimator all of it.
    CHeldReadout x1Hertz, x2Hertz, meter;
    MeasureFrequencies(buffer, x1Hertz, x2Hertz);
    const auto readings = m_estimator.Measure(buffer);

    MeasureRow row;
    row.seconds = double(m_rowsMade) * kBufferSeconds;
    row.x1 = ToChannelRow(readings[0], x1Hertz.m_value);
    row.x2 = ToChannelRow(readings[1], x2Hertz.m_value);
    if (m_meterMode) {
        MeasureMeter(buffer, *m_meterMode, m_refValue, meter);
        if (!ReadoutShowsBlank(meter.m_value)) {
            row.meter = meter.m_value;
        }
    }
    return row;
}

void CHeadlessMeter::TakeRows(std::vector<MeasureRow>& rows) {
    std::lock_guard lock(m_ringMutex);
    m_ring.TakeAll(rows);
}

int64_t CHeadlessMeter::DroppedRows() {
    std::lock_guard lock(m_ringMutex);
    return m_ring.Dropped();
}
