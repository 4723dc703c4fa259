#pragma once
// The simulated card's device under test built from stages (simulated_dut_stages.h), applied in
// order to the signal in the cable, then the capture converter: clipped, rounded to the nearest
// code, with TPDF dither first when the chain says "dither".
// The biquads are exact IIR filters with their state kept from one call to the next. Delay,
// divider and mismatch stages are FIRs (simulated_fir.h): each adds kSimFirLatencyFrames to
// both channels, so a chain with two of them is 2 x 16384 frames late; "delay:0" is exactly
// that latency, and "delay:0.5" half a frame more. A poly stage is worked band-limited
// (simulated_poly.h) and adds kSimPolyLatencyFrames (184) to both channels.
// The chain works at the rate it is built for: the panel's card at 44.1 kHz, a measurement
// stream at its own. Its filters, tones and delay limits follow that rate; FIR and poly
// latencies stay counted in frames. ProcessAnalog is the cable alone, for a caller whose
// converters have another depth: it neither rounds nor dithers, and Dithers says whether the
// capture converter should.
// Threads: build on any thread, then Process on one thread at a time (the bench's lock);
// nothing is allocated after building.

#include "audio/sim/simulated_dut.h"
#include "audio/sim/simulated_dut_stages.h"
#include "base/fast_random.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// One stage over a period's samples of both channels, fractions of full scale, in place.
class IDutStage {
public:
    virtual ~IDutStage() = default;
    virtual void Process(double* x1, double* x2, int frames) = 0;
};

class CSimulatedDutChain {
public:
    explicit CSimulatedDutChain(const std::vector<DutStage>& stages,
                                uint64_t seed = kSimDutNoiseSeed, int rate_hz = 44100);

    // `frames` interleaved stereo frames, in place.
    void Process(int16_t* interleaved, int frames);
    // `frames` samples of each channel, fractions of full scale, in place: the stages alone.
    void ProcessAnalog(double* x1, double* x2, int frames);
    // Whether the chain's capture converter adds TPDF dither of +-1 LSB before rounding.
    bool Dithers() const { return m_dither; }
    int RateHz() const { return m_rateHz; }
    // Frames by which the chain's FIR and poly stages delay both channels.
    int LatencyFrames() const { return m_latencyFrames; }

private:
    std::vector<std::unique_ptr<IDutStage>> m_stages;
    bool m_dither = false;
    int m_latencyFrames = 0;
    int m_rateHz;
    CFastRandom m_random;
    std::vector<double> m_channels[2];
};

// The chain written in `stages` (the text after "sim:dut="), working at `rate_hz`, or nullopt
// with `error` naming the fault.
std::optional<CSimulatedDutChain> ParseSimulatedDut(std::string_view stages, std::string& error,
                                                    int rate_hz = 44100);

// The exact response of a divider stage's X2 / X1 at `hz`: Reff / (Z + Reff), Reff = ref || zin
// (zin_ohm 0: no input impedance).
std::complex<double> DividerResponse(const SimulatedNetwork& network, double ref_ohm,
                                     double zin_ohm, double hz);
