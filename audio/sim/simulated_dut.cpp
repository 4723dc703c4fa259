#include "audio/sim/simulated_dut.h"

#include "base/full_scale.h"
#include "base/pcm_format.h"

CSimulatedDut::CSimulatedDut(const SimulatedDut& model, uint64_t seed)
    : m_model(model), m_random(seed) {
    if (model.noise_dbfs > kSimDutNoNoiseDbfs) {
        m_noiseRms = NoiseRmsFromDbfs(model.noise_dbfs);
    }
}

void CSimulatedDut::Process(int16_t* interleaved, int frames) {
    const SimulatedDut& m = m_model;
    for (int i = 0; i < frames * kChannels; ++i) {
        const double x = interleaved[i] / kFullScale;
        double y = x * (m.gain + x * (m.a2 + x * m.a3));
        if (m_noiseRms > 0) {
            y += m_noiseRms * m_random.Gaussian();
        }
        double code = y * kFullScale;
        if (m.converter_dither) {
            code += m_random.Triangular();
        }
        interleaved[i] = CaptureCode(code);
    }
}

void CSimulatedDut::ProcessAnalog(double* samples, int count) {
    const SimulatedDut& m = m_model;
    for (int i = 0; i < count; ++i) {
        const double x = samples[i];
        samples[i] = x * (m.gain + x * (m.a2 + x * m.a3));
        if (m_noiseRms > 0) {
            samples[i] += m_noiseRms * m_random.Gaussian();
        }
    }
}
