#pragma once
// Test blocks for the analysers, made from their parts so each reading has a known answer.

#include <cstdint>
#include <vector>

inline constexpr double kRate = 44100.0;
inline constexpr double kPi = 3.141592653589793;

struct Partial {
    double amplitude; // fraction of full scale
    double freq_hz;
    double phase = 0; // radians at the block's first sample
};

std::vector<double> Synthesise(int frames, const std::vector<Partial>& partials,
                               double rateHz = kRate);

// To 16 bits (x 32768, rounded, held to the int16 range, / 32768), optionally with TPDF dither of
// +-1 LSB peak; seed picks the dither.
std::vector<double> Quantise16(const std::vector<double>& x, bool dither, uint32_t seed = 1);
// The same at any depth: x 2^(bits-1), rounded, held to the signed range of that depth.
std::vector<double> QuantiseBits(const std::vector<double>& x, int bits, bool dither,
                                 uint32_t seed = 1);

// Mean square of x's content between loHz and hiHz: a rectangular periodogram, no window and no
// fit, split over bins by Parseval.
double BandMeanSquare(const std::vector<double>& x, double loHz, double hiHz,
                      double rateHz = kRate);

// Every other sample x1, x2 interleaved, for readings at stride 2.
std::vector<double> Interleave(const std::vector<double>& x1, const std::vector<double>& x2);

double Db(double ratio); // 20 log10
