#include "audio/wave_open.h"

#include "audio/sim/simulated_bench.h"
#include "audio/wave/wave_backends.h"

#include <string>

namespace {

MMRESULT Open(WaveDirection direction, CWaveDevice** device, const WAVEFORMATEX* format,
              MessageTarget target) {
    if (device == nullptr || format == nullptr || target == nullptr) {
        return WaveFail(MMSYSERR_INVALPARAM, "invalid open request");
    }
    *device = nullptr;
    if (format->wFormatTag != kWaveFormatPcm || format->wBitsPerSample != 16 ||
        format->nChannels != kChannels || format->nSamplesPerSec != uint32_t(kSampleRate)) {
        return WaveFail(WAVERR_BADFORMAT, "only 16-bit stereo PCM at 44100 Hz is supported");
    }
    std::string name;
    if (!ResolveWaveDevice(direction, &name)) {
        return MMSYSERR_BADDEVICEID;
    }
    if (IsSimulatedDeviceName(name)) {
        return OpenSimulatedDevice(name, direction, *format, target, device);
    }
    return OpenAlsaDevice(name, direction, *format, target, device);
}

} // namespace

MMRESULT waveInOpen(HWAVEIN* device, const WAVEFORMATEX* format, MessageTarget target) {
    return Open(WaveDirection::In, device, format, target);
}

MMRESULT waveOutOpen(HWAVEOUT* device, const WAVEFORMATEX* format, MessageTarget target) {
    return Open(WaveDirection::Out, device, format, target);
}
