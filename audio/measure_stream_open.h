#pragma once
// Opening a measurement stream: "sim" and "sim:..." on the simulated card (audio/sim), any other
// name on that ALSA device (audio/stream), as audio/wave_open.h does for the panel's devices.
// Any thread.

#include "audio/stream/measure_stream.h"

#include <memory>
#include <string>

// nullptr with one line in *error (a refusal names what the device offers).
std::unique_ptr<CMeasureStream> OpenMeasureStream(const std::string& device, StreamFormat format,
                                                  std::string* error);
