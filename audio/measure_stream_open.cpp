#include "audio/measure_stream_open.h"

#include "audio/sim/simulated_stream.h"
#include "audio/stream/alsa_stream.h"
#include "audio/wave/wave_api.h"

std::unique_ptr<CMeasureStream> OpenMeasureStream(const std::string& device, StreamFormat format,
                                                  std::string* error) {
    // The same names as the panel's devices: "sim" and "sim:..." are the simulated card.
    if (IsSimulatedDeviceName(device)) {
        return OpenSimulatedStream(device, format, error);
    }
    return OpenAlsaStream(device, format, error);
}
