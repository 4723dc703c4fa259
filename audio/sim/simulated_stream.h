#pragma once
// The simulated card as a measurement stream at any rate of kStreamRates and any sample format:
// what the source plays goes through the device under test the name sets ("sim", "sim:dut=...",
// the same grammar as the panel's simulated devices, its filters worked at the stream's rate),
// then the capture converter: clipped and quantised to the format's depth, with TPDF dither of
// +-1 LSB at that depth where the chain says "dither" (float: not quantised). The 16-bit devices
// of the bench (simulated_bench.h) are untouched by it.

#include "audio/stream/measure_stream.h"

#include <memory>
#include <string>

std::unique_ptr<CMeasureStream> OpenSimulatedStream(const std::string& name, StreamFormat format,
                                                    std::string* error);
