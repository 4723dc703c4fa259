#pragma once
// The device under test named in a device name "sim:dut=STAGE+STAGE+...": its stages in order,
// checked, as plain data for CSimulatedDutChain. Stages (numbers as 1000, 0.707, -3, 1e-6):
//     lowpass:F:Q  highpass:F:Q  peak:F:Q:DB     audio-EQ-cookbook biquads
//     delay:N        N frames, whole or fractional (0 to one second's frames: 44100 at 44.1 kHz)
//     echo:N:G       adds G times the signal N whole frames later (1 to one second's frames;
//                    G within +-1):
//                    a reflection, h = d(t) + G d(t - N)
//     poly:A2:A3     y = x + A2 x^2 + A3 x^3, x in fractions of full scale, its harmonics
//                    above Nyquist removed as the card's anti-alias filter would remove them
//     noise:DBFS     white Gaussian noise, RMS on AES17's scale
//     tone:HZ:DBFS   a sine of another source added in the cable (RMS on AES17's scale)
//     gain:DB
//     x1:STAGE       one of the above on X1 only; X2 passes straight
//     divider:REF:NETWORK  X1 = the L output, X2 = L Reff / (Z + Reff): the network Z (see
//                    simulated_network.h) in series with REF ohms to ground, Reff = REF || zin
//     zin:OHMS       the card's input impedance across X2, for the dividers of the chain
//     mismatch:DB:DEG  X2's path differs from X1's by that gain and constant phase
//     dither         the capture converter adds TPDF dither of +-1 LSB before rounding
//     crosstalk:LR:RL  X2 gains X1 at LR dB and X1 gains X2 at RL dB (each 0 dB or below), as
//                    a card's channels leak into each other
// A chain '+' is followed by a stage keyword (lowercase); a network's '+' by R, L, C or '('.
// Frequencies must lie below the Nyquist frequency of the rate the chain works at (22050 Hz on
// the panel's 44.1 kHz card).
// Plain data, any thread.

#include "audio/sim/simulated_network.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

inline constexpr const char* kSimDutChainPrefix = "sim:dut=";

struct DutStage {
    enum class Kind {
        Lowpass,
        Highpass,
        Peak,
        Delay,
        Echo,
        Poly,
        Noise,
        Tone,
        Gain,
        Divider,
        Zin,
        Mismatch,
        Dither,
        Crosstalk
    };
    Kind kind = Kind::Gain;
    bool x1_only = false;
    double args[3] = {0, 0, 0}; // in the order written; a divider's REF in args[0]
    SimulatedNetwork network;   // a divider's
};

// The stages written in `stages` (the text after "sim:dut="), for a chain working at `rate_hz`,
// or nullopt with `error` naming the fault, e.g. "sim:dut: unknown stage 'lopass'".
std::optional<std::vector<DutStage>> ParseDutStages(std::string_view stages, std::string& error,
                                                    int rate_hz = 44100);
