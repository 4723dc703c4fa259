#include "headless/run_calibration.h"

#include "headless/headless_run.h"

#include <cmath>
#include <cstdio>

StreamFormat CalibrationFormat(const CalibrationEntry& entry) {
    const auto format = ParseSampleFormat(entry.taken_format);
    if (entry.taken_rate_hz <= 0 || !format) {
        return StreamFormat{};
    }
    return StreamFormat{entry.taken_rate_hz, *format};
}

void SayCalibratedElsewhere(const CalibrationEntry& entry, const StreamFormat& run) {
    const StreamFormat taken = CalibrationFormat(entry);
    if (taken == run) {
        return;
    }
    const bool input = entry.side == CalibrationSide::Input;
    const char* names[2][2] = {{"output L", "output R"}, {"input X1", "input X2"}};
    std::fprintf(stderr, "%s: %s of '%s' calibrated at %s\n", kTool,
                 names[input ? 1 : 0][entry.channel == 0 ? 0 : 1], entry.device.c_str(),
                 DescribeStreamFormat(taken, false).c_str());
}

void NoteCalibrationFormat(CalibrationEntry* entry, const StreamFormat& format) {
    entry->taken_rate_hz = format.rate_hz;
    entry->taken_format = SampleFormatName(format.format);
}

ChannelVolts LoadChannelVolts(const std::string& path, const std::string& device,
                              CalibrationSide side, const StreamFormat& run) {
    CCalibrationStore store;
    std::string message;
    if (!store.Load(path, &message)) {
        std::fprintf(stderr, "%s: %s; measuring without volts\n", kTool, message.c_str());
        return {};
    }
    ChannelVolts volts;
    for (int channel = 0; channel < 2; ++channel) {
        if (const auto entry = store.Find(device, side, channel)) {
            volts[channel] = entry->vrms_at_0dbfs;
            SayCalibratedElsewhere(*entry, run);
        }
    }
    return volts;
}

std::optional<double> ChannelVrms(const std::optional<double>& vrms_at_0dbfs, double dbfs) {
    if (!vrms_at_0dbfs || !std::isfinite(dbfs)) {
        return std::nullopt;
    }
    return DbfsToVrms(dbfs, *vrms_at_0dbfs);
}
