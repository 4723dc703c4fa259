#pragma once
// The simulated card as a measurement stream at any rate of kStreamRates and any sample format:
// what the source plays goes through the device under test the name sets ("sim", "sim:dut=...",
// the same grammar as the panel's simulated devices, its filters worked at the stream's rate),
// then the capture converter: clipped and quantised to the format's depth, with TPDF dither of
// +-1 LSB at that depth where the chain says "dither" (float: not quantised). The 16-bit devices
// of the bench (simulated_bench.h) are untouched by it.
//
// On the way out the source's floats reach the cable as a real card's DAC gets them: rounded to
// the format's integer codes, undithered (float: as they are). "sim:dut" is the bench's built-in
// amplifier (simulated_dut.h, as SetDeviceUnderTest last set it), its converter dither at the
// stream's depth; every other "sim..." name a plain cable. The bench's input signals and
// injected faults are the 16-bit devices' alone; an unplugged card (SetDeviceGone) refuses to
// open or start a stream.
//
// One card: a stream does not open (one line: the card is in use) while the bench's 16-bit
// input or output is open, nor while another stream is; and the 16-bit devices do not open
// while a stream exists. The panel lets go before an analyser takes the card.
//
// Periods are as long as the ALSA stream's (AlsaStreamPeriodFrames), so an analyser's taps come
// the same on either.
// Pace: the bench's clock when Start is called. BenchClock::RealTime runs a period per period's
// duration; BenchClock::Stepped runs the next period as soon as the tap returns, so a test
// measures as fast as the machine goes (no Step calls: the stream does not wait for them).
// Stamps are on DeviceClock::Bench, the first period's at the bench's time at Start, each
// later one its frames further on: played and captured frames share them, so a plain cable's
// round trip is none at all.

#include "audio/stream/measure_stream.h"

#include <memory>
#include <string>

// nullptr with one line in *error: a rate outside kStreamRates (RefusalLine), a chain that does
// not parse at that rate, a card in use or gone.
std::unique_ptr<CMeasureStream> OpenSimulatedStream(const std::string& name, StreamFormat format,
                                                    std::string* error);
