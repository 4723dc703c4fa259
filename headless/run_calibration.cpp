#include "headless/run_calibration.h"

#include "headless/headless_run.h"

#include <cmath>
#include <cstdio>

ChannelVolts LoadChannelVolts(const std::string& path, const std::string& device,
                              CalibrationSide side) {
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
