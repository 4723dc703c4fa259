#include "headless/measure_session.h"

#include "audio/wave/wave_api.h"
#include "files/wav_file.h"
#include "headless/headless_meter.h"
#include "headless/headless_run.h"
#include "headless/measure_rows.h"
#include "headless/run_calibration.h"

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

namespace {

void SetGenerator(CSoundDevice& engine, const GenerateOption& option) {
    const bool left = option.channel == 0;
    (left ? engine.m_waveL : engine.m_waveR) = option.waveform;
    (left ? engine.m_freqL : engine.m_freqR) = option.hertz;
    (left ? engine.m_attenL : engine.m_attenR) = option.divisor;
}

} // namespace

int RunMeasure(const MeasureOptions& options) {
    CAlertLines alerts;
    if (!BeginRun(options.device)) {
        return kExitDeviceFailed;
    }

    const int64_t bufferLimit =
        options.seconds ? int64_t(std::ceil(*options.seconds / kBufferSeconds)) : 0;
    CHeadlessMeter engine(options.meterMode, options.refValue, bufferLimit);

    if (options.recordPath) {
        engine.StartRecording(options.recordPath->c_str());
        if (engine.m_recorder == nullptr || engine.m_recorder->m_mode == 0) {
            std::fprintf(stderr, "%s: cannot create '%s' for recording\n", kTool,
                         options.recordPath->c_str());
            return kExitBadArguments;
        }
        engine.m_recording = 1;
    }
    if (!options.generate.empty()) {
        for (const GenerateOption& option : options.generate) {
            SetGenerator(engine, option);
        }
        // Set first, as the panel's source switch does: the primed buffers carry the signal.
        engine.m_generatorOn = true;
        engine.StartPlayback();
        if (!engine.m_soundPlay.m_running) {
            return DeviceFailed("output", WaveDeviceName(WaveDirection::Out), alerts.Last());
        }
    }
    const std::optional<std::string> opened = StartCaptureOrSay(engine, alerts);
    if (!opened) {
        return kExitDeviceFailed;
    }
    const std::string& device = *opened;
    alerts.Echo();
    AnnounceRun(device, options.seconds);
    const ChannelVolts volts =
        LoadChannelVolts(CCalibrationStore::DefaultPath(), device, CalibrationSide::Input);

    const bool withMeter = options.meterMode.has_value();
    bool writing = Print(FormatHeader(options.format, withMeter, device));
    std::vector<MeasureRow> rows;
    rows.reserve(64);
    int64_t printed = 0;
    CRunWatch watch(device);
    auto printRows = [&] {
        rows.clear();
        engine.TakeRows(rows);
        for (MeasureRow& row : rows) {
            row.x1.vrms = ChannelVrms(volts[0], row.x1.rmsDbfs);
            row.x2.vrms = ChannelVrms(volts[1], row.x2.rmsDbfs);
            writing = writing && Print(FormatRow(options.format, withMeter, row));
            ++printed;
        }
        if (!rows.empty()) {
            watch.InputArrived();
        }
    };
    while (writing && !engine.Finished() && watch.Wait()) {
        printRows();
        watch.NoteXruns(printed);
    }
    engine.StopCapture();
    engine.StopPlayback();
    printRows();
    engine.m_recording = 0;
    engine.StopRecording();

    SayDroppedRows(engine.DroppedRows());
    return watch.Finish(printed);
}
