#include "simulated_dut.h"

#include "pcm_format.h"

#include <algorithm>
#include <cmath>

CSimulatedDut::CSimulatedDut(const SimulatedDut& model, uint64_t seed)
    : m_model(model), m_random(seed) {
    // AES17 puts 0 dBFS at a full-scale sine's RMS, 1/sqrt(2) of full scale.
    if (model.noise_dbfs > kSimDutNoNoiseDbfs) {
        m_noiseRms = std::pow(10.0, model.noise_dbfs / 20.0) / std::sqrt(2.0);
    }
}

void CSimulatedDut::Process(int16_t* interleaved, int frames) {
    const SimulatedDut& m = m_model;
    for (int i = 0; i < frames * kChannels; ++i) {
        const double x = interleaved[i] / 32768.0;
        double y = x * (m.gain + x * (m.a2 + x * m.a3));
        if (m_noiseRms > 0) {
            y += m_noiseRms * m_random.Gaussian();
        }
        double code = y * 32768.0;
        if (m.converter_dither) {
            code += m_random.Triangular();
        }
        interleaved[i] = int16_t(std::lround(std::clamp(code, -32768.0, 32767.0)));
    }
}
