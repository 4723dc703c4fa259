#pragma once
// The simulated bench: a sound card in memory whose line output is wired to its line input.
// It answers to the device names "sim" and "sim:ANYTHING", all one card; while either end is
// open as "sim:dut" the cable runs through a device under test (simulated_dut.h), and while
// one is open as "sim:dut=STAGE+..." through the chain that names (simulated_dut_stages.h); the
// latest such name opened wins, and a name that does not parse fails the open, saying why.
// Tests drive each input channel with a signal of their own, run the clock in real time or
// step it buffer by buffer, and make any device call fail once or several times.
// Every member may be called from any thread.

#include "audio/sim/simulated_dut.h"
#include "audio/wave/wave_api.h"
#include "audio/wave/wave_types.h"

#include <cstdint>
#include <functional>
#include <string>

enum class BenchClock { RealTime, Stepped };

// Sample of one input channel at an absolute capture frame index.
using ChannelSignal = std::function<int16_t(int64_t frame)>;

class CSimulatedBench {
public:
    static CSimulatedBench& Instance();

    // Back to a fresh bench: real-time clock, loopback inputs, the built-in device under test,
    // no faults, counters at 0, and
    // no device open: one left open by an owner that no longer exists is discarded.
    void Reset();

    void SetClock(BenchClock clock);
    // Stepped clock: runs `buffers` buffer periods now, on the calling thread. Each period
    // plays the oldest queued output header and fills the oldest queued input header; before
    // it, waits up to 200 ms for an open device that has no header queued to get one.
    void Step(int buffers = 1);

    // channel 0 = left (X1), 1 = right (X2); an empty signal returns the channel to loopback.
    void SetInputSignal(int channel, ChannelSignal signal);

    // The device under test that "sim:dut" puts in the cable, from the next period on, its
    // noise started again from its seed. Reset goes back to kSimDutModel.
    void SetDeviceUnderTest(const SimulatedDut& model);
    // The chain an open "sim:dut=..." runs, from the next period on, built from `stages` (the
    // grammar after "sim:dut="), while the device stays open under the name it was opened by:
    // a short put in place of a part, then the part, on one card. False with the fault in
    // *error for stages that do not parse, or when no chain is open; the old chain runs on.
    bool SetDutChain(const std::string& stages, std::string* error);

    // The next `times` calls of `call` in `direction` fail with `code`.
    void InjectFault(WaveDirection direction, WaveCall call, MMRESULT code, int times = 1);

    // Unplugs the card (gone) or plugs it back. From the next period on, each open device of a
    // gone card stops moving data, tells its owner once, and tries to open again every
    // kReopenInterval of bench time; the first try after the card is back succeeds. A new open
    // fails while the card is gone.
    void SetDeviceGone(bool gone);
    // Tries to open again, both directions, since Reset.
    int ReopenAttempts() const;

    int OpenCount(WaveDirection direction) const;
    int CloseCount(WaveDirection direction) const;
    bool IsOpen(WaveDirection direction) const;
    // The name the open device in `direction` was opened by ("sim", "sim:2"...), or empty.
    std::string OpenDeviceName(WaveDirection direction) const;
    // Input buffers delivered, output buffers played, since Reset.
    int64_t FilledInputBuffers() const;
    int64_t PlayedOutputBuffers() const;
};

// The simulated bench's device for `direction`, known by `name` while it is open.
MMRESULT OpenSimulatedDevice(const std::string& name, WaveDirection direction,
                             const WAVEFORMATEX& format, MessageTarget target,
                             CWaveDevice** device);

// Stands in for the TAVRIN_AUDIO environment variable for devices opened from now on: "sim",
// "alsa", "alsa:NAME"; nullptr goes back to the variable. Devices set by name come first.
void SelectWaveBackend(const char* choice);
