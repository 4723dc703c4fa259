#pragma once
// The simulated card's device under test: what sits in the cable from its line output to its
// line input while a device is open as "sim:dut" (every other "sim..." name is a plain cable).
// A memoryless amplifier with white noise, on each channel alone:
//     y = gain x + a2 x^2 + a3 x^3 + n        x, y: fractions of full scale (code / 32768)
// For an input tone x = A sin(wt) the trigonometric identities give exactly
//     fundamental  gain A + 3 a3 A^3 / 4     H2  a2 A^2 / 2     H3  a3 A^3 / 4     DC  a2 A^2 / 2
// (H2 as -cos 2wt, H3 as -sin 3wt, for positive a2 and a3). The card's capture converter then
// turns y into codes: clipped, rounded to the nearest, and, when converter_dither is set, with
// its own noise (TPDF, +-1 LSB) added first. Without that noise the rounding of a product of a
// code or less follows the signal and moves it: a -90 dB H3 of a -1 dBFS tone reads 0.2 to
// 0.3 dB low; with it, within 0.05 dB over 65536 frames.
//
// The built-in "sim:dut" (kSimDutModel) is a weakly non-linear amplifier behind a dithering
// converter: gain 1, a2 = 2.2e-4, a3 = 1.6e-4, noise -110 dBFS. For a -1 dBFS tone
// (A = 0.891251) that is H2 -80.17 dB and H3 -89.96 dB below the fundamental (whose amplitude
// is A + 9.46e-5), and a DC offset of 2.86 codes. Its noise is Gaussian, 0.073 codes RMS, from
// a fixed seed; with the converter's the floor is 0.505 codes RMS, -93.2 dBFS over the whole
// band (AES17).
//
// Threads: one CSimulatedDut per cable, used under the bench's lock.

#include "base/fast_random.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

struct SimulatedDut {
    double gain = 1.0;
    double a2 = 0, a3 = 0;
    // The noise's RMS on AES17's scale (0 dBFS: a full-scale sine's RMS); -200 or below: none.
    double noise_dbfs = -200;
    bool converter_dither = false; // the capture converter's own noise, TPDF +-1 LSB
};

inline constexpr const char* kSimDutDeviceName = "sim:dut";
inline constexpr SimulatedDut kSimDutModel{1.0, 2.2e-4, 1.6e-4, -110.0, true};
inline constexpr double kSimDutNoNoiseDbfs = -200.0;
inline constexpr uint64_t kSimDutNoiseSeed = 0x51'D0'7000'0000'0001ull;

// A white noise's RMS in fractions of full scale from its level on AES17's scale, where 0 dBFS
// is a full-scale sine's RMS, 1/sqrt(2) of full scale.
inline double NoiseRmsFromDbfs(double noise_dbfs) {
    return std::pow(10.0, noise_dbfs / 20.0) / std::sqrt(2.0);
}

// The capture converter's last step: a value in codes clipped to the 16-bit range and rounded
// to the nearest, never wrapped round to the other end.
inline int16_t CaptureCode(double code) {
    return int16_t(std::lround(std::clamp(code, -32768.0, 32767.0)));
}

class CSimulatedDut {
public:
    explicit CSimulatedDut(const SimulatedDut& model = kSimDutModel,
                           uint64_t seed = kSimDutNoiseSeed);

    const SimulatedDut& Model() const { return m_model; }
    // `frames` interleaved stereo frames, in place.
    void Process(int16_t* interleaved, int frames);
    // The amplifier alone on `count` samples, fractions of full scale, in place, for converters
    // of another depth: no rounding, no converter noise (the model's converter_dither says
    // whether the caller's capture converter should add it).
    void ProcessAnalog(double* samples, int count);

private:
    SimulatedDut m_model;
    double m_noiseRms = 0; // fraction of full scale
    CFastRandom m_random;
};
