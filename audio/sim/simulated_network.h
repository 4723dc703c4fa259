#pragma once
// A two-terminal network of ideal resistors, inductors and capacitors: the unknown impedance in
// the simulated card's voltage divider. Written as
//     R<ohms>  L<henries>  C<farads>     elements (numbers as 0.2, 1e-6, 0.5e-3)
//     a+b      in series                 a|b   in parallel (binds tighter than +)
//     (...)    grouping
// e.g. "R6.3+(L0.5e-3|C2e-4)". Plain data, any thread.

#include <complex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct SimulatedNetwork {
    enum class Kind { Resistor, Inductor, Capacitor, Series, Parallel };
    Kind kind = Kind::Resistor;
    double value = 0;                    // ohms, henries or farads; unused for Series and Parallel
    std::vector<SimulatedNetwork> parts; // Series and Parallel only, two or more
};

// The network written in `text`, or nullopt with `error` saying what is wrong and where.
std::optional<SimulatedNetwork> ParseSimulatedNetwork(std::string_view text, std::string& error);

// The exact complex impedance in ohms at `hz` (> 0). A capacitor at 0 Hz is an open circuit:
// callers wanting DC ask at a frequency far below the band instead.
std::complex<double> NetworkImpedance(const SimulatedNetwork& network, double hz);
