#include "headless/impedance_calibrate.h"

#include "analysis/calibration/impedance_calibration.h"
#include "audio/wave/wave_api.h"
#include "headless/impedance_session.h"

#include <cstdio>

namespace {

const char* CalName(ImpedanceCalKind kind) {
    return kind == ImpedanceCalKind::Match  ? "channel-match"
           : kind == ImpedanceCalKind::Open ? "open"
                                            : "short";
}

// The card's corrections with `change` made to them, saved; false when they cannot be.
template <typename Change> bool StoreFor(const std::string& device, Change change) {
    CImpedanceCalibrationStore store;
    const std::string path = CImpedanceCalibrationStore::DefaultPath();
    std::string message;
    if (!store.Load(path, &message)) {
        // Saving over a damaged file would lose the other cards' entries with it.
        std::fprintf(stderr, "%s: %s; nothing stored\n", kTool, message.c_str());
        return false;
    }
    const ImpedanceCorrections* stored = store.Find(device);
    ImpedanceCorrections corrections = stored != nullptr ? *stored : ImpedanceCorrections{};
    change(corrections);
    store.Set(device, corrections);
    if (!store.Save(path, &message)) {
        std::fprintf(stderr, "%s: %s; nothing stored\n", kTool, message.c_str());
        return false;
    }
    return true;
}

} // namespace

void SayShortAlone() {
    std::fprintf(stderr, "%s: the short alone corrects the leads of a small part\n", kTool);
}

int ClearImpedanceCalibration(const ImpedanceOptions& options) {
    if (!BeginRun(options.device)) {
        return kExitDeviceFailed;
    }
    const std::string device = WaveDeviceName(WaveDirection::In);
    const bool cleared = StoreFor(device, [](ImpedanceCorrections& c) {
        c.match.Clear();
        c.open.Clear();
        c.shorted.Clear();
    });
    if (!cleared) {
        return kExitBadArguments;
    }
    std::fprintf(stderr, "%s: cleared the match, open and short stored for '%s'\n", kTool,
                 device.c_str());
    return kExitDone;
}

int StoreImpedanceCalibration(const ImpedanceOptions& options, const std::string& device,
                              const ImpedanceCorrections& used,
                              const std::optional<ImpedanceLiveReading>& reading,
                              const CImpedanceSweep* sweep) {
    const ImpedanceCalKind kind = *options.calibrate;
    ImpedanceCorrections measured = used;
    SweepCalibration result;
    if (sweep != nullptr) {
        result = CalibrateFromSweep(measured, kind, sweep->Points(), options.r_ref_ohm);
        for (const ImpedanceSweepPoint& point : result.refused) {
            std::fprintf(stderr, "%s: %.2f Hz not calibrated: %s\n", kTool, point.freq_hz,
                         ImpedanceRefusalText(point.refusal));
        }
    } else if (reading) {
        SetCalPoint(measured, kind, reading->freq_hz, reading->v1, reading->v2, options.r_ref_ohm);
        result.stored = 1;
        result.lo_hz = result.hi_hz = reading->freq_hz;
    }
    if (result.stored == 0) {
        std::fprintf(stderr, "%s: nothing measured: no %s calibration stored\n", kTool,
                     CalName(kind));
        if (kind == ImpedanceCalKind::Open) {
            SayShortAlone();
        }
        return kExitRefused;
    }
    // Only this correction's table: the file may have changed since the run read it.
    const bool saved = StoreFor(
        device, [&](ImpedanceCorrections& c) { CalTable(c, kind) = CalTable(measured, kind); });
    if (!saved) {
        return kExitBadArguments;
    }
    if (result.stored == 1) {
        std::fprintf(stderr, "%s: stored the %s point at %.2f Hz for '%s'\n", kTool, CalName(kind),
                     result.lo_hz, device.c_str());
    } else {
        std::fprintf(stderr, "%s: stored %d %s points from %.2f to %.2f Hz for '%s'\n", kTool,
                     result.stored, CalName(kind), result.lo_hz, result.hi_hz, device.c_str());
    }
    return kExitDone;
}
