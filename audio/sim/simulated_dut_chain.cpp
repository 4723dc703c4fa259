#include "audio/sim/simulated_dut_chain.h"

#include "audio/sim/simulated_fir.h"
#include "audio/sim/simulated_poly.h"
#include "base/full_scale.h"
#include "base/pcm_format.h"

#include <cmath>
#include <numbers>

namespace {

using Complex = std::complex<double>;
using Kind = DutStage::Kind;

// Audio-EQ-cookbook biquad, direct form I, one state per channel.
class CBiquadStage final : public IDutStage {
public:
    CBiquadStage(const DutStage& s, bool x1_only, int rate_hz) : m_x1Only(x1_only) {
        const double w0 = 2.0 * std::numbers::pi * s.args[0] / rate_hz;
        const double c = std::cos(w0);
        const double alpha = std::sin(w0) / (2.0 * s.args[1]);
        double b[3], a[3];
        if (s.kind == Kind::Lowpass || s.kind == Kind::Highpass) {
            const double sign = s.kind == Kind::Lowpass ? 1.0 : -1.0;
            b[0] = b[2] = (1.0 - sign * c) / 2.0;
            b[1] = sign * (1.0 - sign * c);
            a[0] = 1.0 + alpha;
            a[2] = 1.0 - alpha;
        } else {
            const double amplitude = std::pow(10.0, s.args[2] / 40.0);
            b[0] = 1.0 + alpha * amplitude;
            b[1] = -2.0 * c;
            b[2] = 1.0 - alpha * amplitude;
            a[0] = 1.0 + alpha / amplitude;
            a[2] = 1.0 - alpha / amplitude;
        }
        a[1] = -2.0 * c;
        for (int i = 0; i < 3; ++i) {
            m_b[i] = b[i] / a[0];
        }
        m_a[0] = a[1] / a[0];
        m_a[1] = a[2] / a[0];
    }

    void Process(double* x1, double* x2, int frames) override {
        double* channels[2] = {x1, x2};
        for (int c = 0; c < (m_x1Only ? 1 : 2); ++c) {
            double* s = m_state[c]; // x[n-1], x[n-2], y[n-1], y[n-2]
            for (int n = 0; n < frames; ++n) {
                const double x = channels[c][n];
                const double y =
                    m_b[0] * x + m_b[1] * s[0] + m_b[2] * s[1] - m_a[0] * s[2] - m_a[1] * s[3];
                s[1] = s[0];
                s[0] = x;
                s[3] = s[2];
                s[2] = y;
                channels[c][n] = y;
            }
        }
    }

private:
    bool m_x1Only;
    double m_b[3];
    double m_a[2];
    double m_state[2][4] = {};
};

// Each channel gains the other's signal as it was before the stage.
class CCrosstalkStage final : public IDutStage {
public:
    explicit CCrosstalkStage(const DutStage& s)
        : m_toX2(std::pow(10.0, s.args[0] / 20.0)), m_toX1(std::pow(10.0, s.args[1] / 20.0)) {}

    void Process(double* x1, double* x2, int frames) override {
        for (int n = 0; n < frames; ++n) {
            const double left = x1[n];
            x1[n] += m_toX1 * x2[n];
            x2[n] += m_toX2 * left;
        }
    }

private:
    double m_toX2;
    double m_toX1;
};

// gain, noise and another source's tone: sample by sample, each channel on its own.
class CMemorylessStage final : public IDutStage {
public:
    CMemorylessStage(const DutStage& s, uint64_t seed, int rate_hz) : m_stage(s), m_random(seed) {
        if (s.kind == Kind::Gain) {
            m_gain = std::pow(10.0, s.args[0] / 20.0);
        } else if (s.kind == Kind::Noise) {
            m_noiseRms = NoiseRmsFromDbfs(s.args[0]);
        } else if (s.kind == Kind::Tone) {
            m_cyclesPerFrame = s.args[0] / rate_hz;
            m_amplitude = std::pow(10.0, s.args[1] / 20.0); // AES17: a sine of peak 1 is 0 dBFS
        }
    }

    void Process(double* x1, double* x2, int frames) override {
        double* channels[2] = {x1, x2};
        const int64_t first = m_frame;
        for (int c = 0; c < (m_stage.x1_only ? 1 : 2); ++c) {
            for (int n = 0; n < frames; ++n) {
                double& x = channels[c][n];
                if (m_stage.kind == Kind::Gain) {
                    x *= m_gain;
                } else if (m_stage.kind == Kind::Noise) {
                    x += m_noiseRms * m_random.Gaussian();
                } else {
                    // The phase from the frame count, its whole cycles dropped first: exact
                    // however long the run.
                    const double cycles = m_cyclesPerFrame * double(first + n);
                    x += m_amplitude *
                         std::sin(2.0 * std::numbers::pi * (cycles - std::floor(cycles)));
                }
            }
        }
        m_frame += frames;
    }

private:
    DutStage m_stage;
    double m_gain = 1.0;
    double m_noiseRms = 0;
    double m_cyclesPerFrame = 0;
    double m_amplitude = 0;
    int64_t m_frame = 0;
    CFastRandom m_random;
};

class CPolyStage final : public IDutStage {
public:
    explicit CPolyStage(const DutStage& s) : m_poly(s.args[0], s.args[1], s.x1_only) {}
    void Process(double* x1, double* x2, int frames) override { m_poly.Process(x1, x2, frames); }

private:
    CSimulatedPoly m_poly;
};

// A reflection: the signal plus g times itself n frames later, on a plain delay line per
// channel, made when the chain is built.
class CEchoStage final : public IDutStage {
public:
    explicit CEchoStage(const DutStage& s) : m_gain(s.args[1]), m_x1Only(s.x1_only) {
        for (auto& line : m_lines) {
            line.assign(size_t(s.args[0]), 0.0);
        }
    }

    void Process(double* x1, double* x2, int frames) override {
        double* channels[2] = {x1, x2};
        for (int c = 0; c < (m_x1Only ? 1 : 2); ++c) {
            std::vector<double>& line = m_lines[c];
            size_t& at = m_at[c];
            for (int n = 0; n < frames; ++n) {
                const double now = channels[c][n];
                channels[c][n] += m_gain * line[at];
                line[at] = now;
                at = at + 1 == line.size() ? 0 : at + 1;
            }
        }
    }

private:
    double m_gain;
    bool m_x1Only;
    std::vector<double> m_lines[2];
    size_t m_at[2] = {0, 0};
};

// An FIR stage, and for a delay its whole frames after it on a plain delay line, so that the
// FIR's impulse response stays centred in its window whatever the delay.
class CFirStage final : public IDutStage {
public:
    CFirStage(const std::function<CSimulatedFir::Matrix(double)>& response, int rate_hz,
              int whole_frames, bool x1_only)
        : m_fir(response, rate_hz), m_x1Only(x1_only) {
        for (auto& line : m_lines) {
            line.assign(size_t(whole_frames), 0.0);
        }
    }

    void Process(double* x1, double* x2, int frames) override {
        m_fir.Process(x1, x2, frames);
        double* channels[2] = {x1, x2};
        for (int c = 0; c < (m_x1Only ? 1 : 2) && !m_lines[c].empty(); ++c) {
            std::vector<double>& line = m_lines[c];
            size_t& at = m_at[c];
            for (int n = 0; n < frames; ++n) {
                std::swap(channels[c][n], line[at]);
                at = at + 1 == line.size() ? 0 : at + 1;
            }
        }
    }

private:
    CSimulatedFir m_fir;
    bool m_x1Only;
    std::vector<double> m_lines[2];
    size_t m_at[2] = {0, 0};
};

std::unique_ptr<IDutStage> MakeFirStage(const DutStage& s, double zin_ohm, int rate_hz) {
    using Matrix = CSimulatedFir::Matrix;
    switch (s.kind) {
    case Kind::Delay: {
        const double whole = std::floor(s.args[0]);
        const double fraction = s.args[0] - whole;
        const bool x1Only = s.x1_only;
        const auto response = [fraction, x1Only, rate_hz](double hz) {
            const Complex shift =
                std::polar(1.0, -2.0 * std::numbers::pi * hz / rate_hz * fraction);
            return Matrix{shift, 0.0, 0.0, x1Only ? 1.0 : shift};
        };
        return std::make_unique<CFirStage>(response, rate_hz, int(whole), x1Only);
    }
    case Kind::Divider: {
        const auto response = [&network = s.network, ref = s.args[0], zin_ohm](double hz) {
            return Matrix{1.0, 0.0, DividerResponse(network, ref, zin_ohm, hz), 0.0};
        };
        return std::make_unique<CFirStage>(response, rate_hz, 0, false);
    }
    default: {
        const Complex factor =
            std::polar(std::pow(10.0, s.args[0] / 20.0), s.args[1] * std::numbers::pi / 180.0);
        return std::make_unique<CFirStage>(
            [factor](double) {
                return Matrix{1.0, 0.0, 0.0, factor};
            },
            rate_hz, 0, false);
    }
    }
}

} // namespace

Complex DividerResponse(const SimulatedNetwork& network, double ref_ohm, double zin_ohm,
                        double hz) {
    const double reff = zin_ohm > 0 ? ref_ohm * zin_ohm / (ref_ohm + zin_ohm) : ref_ohm;
    return reff / (NetworkImpedance(network, hz) + reff);
}

CSimulatedDutChain::CSimulatedDutChain(const std::vector<DutStage>& stages, uint64_t seed,
                                       int rate_hz)
    : m_rateHz(rate_hz), m_random(seed) {
    double zin = 0;
    for (const DutStage& s : stages) {
        if (s.kind == Kind::Zin) {
            zin = s.args[0];
        }
    }
    uint64_t stageSeed = seed;
    for (const DutStage& s : stages) {
        switch (s.kind) {
        case Kind::Lowpass:
        case Kind::Highpass:
        case Kind::Peak:
            m_stages.push_back(std::make_unique<CBiquadStage>(s, s.x1_only, rate_hz));
            break;
        case Kind::Echo:
            m_stages.push_back(std::make_unique<CEchoStage>(s));
            break;
        case Kind::Poly:
            m_stages.push_back(std::make_unique<CPolyStage>(s));
            m_latencyFrames += kSimPolyLatencyFrames;
            break;
        case Kind::Gain:
        case Kind::Noise:
        case Kind::Tone:
            m_stages.push_back(std::make_unique<CMemorylessStage>(s, ++stageSeed, rate_hz));
            break;
        case Kind::Delay:
        case Kind::Divider:
        case Kind::Mismatch:
            m_stages.push_back(MakeFirStage(s, zin, rate_hz));
            m_latencyFrames += kSimFirLatencyFrames;
            break;
        case Kind::Crosstalk:
            m_stages.push_back(std::make_unique<CCrosstalkStage>(s));
            break;
        case Kind::Zin:
            break;
        case Kind::Dither:
            m_dither = true;
            break;
        }
    }
    for (auto& channel : m_channels) {
        channel.resize(kFramesPerBuffer);
    }
}

void CSimulatedDutChain::Process(int16_t* interleaved, int frames) {
    for (int done = 0; done < frames;) {
        const int chunk = std::min(kFramesPerBuffer, frames - done);
        int16_t* samples = interleaved + size_t(done) * kChannels;
        for (int n = 0; n < chunk; ++n) {
            m_channels[0][size_t(n)] = samples[2 * n] / kFullScale;
            m_channels[1][size_t(n)] = samples[2 * n + 1] / kFullScale;
        }
        for (auto& stage : m_stages) {
            stage->Process(m_channels[0].data(), m_channels[1].data(), chunk);
        }
        for (int n = 0; n < 2 * chunk; ++n) {
            double code = m_channels[n % 2][size_t(n / 2)] * kFullScale;
            if (m_dither) {
                code += m_random.Triangular();
            }
            samples[n] = CaptureCode(code);
        }
        done += chunk;
    }
}

void CSimulatedDutChain::ProcessAnalog(double* x1, double* x2, int frames) {
    for (auto& stage : m_stages) {
        stage->Process(x1, x2, frames);
    }
}

std::optional<CSimulatedDutChain> ParseSimulatedDut(std::string_view stages, std::string& error,
                                                    int rate_hz) {
    auto parsed = ParseDutStages(stages, error, rate_hz);
    if (!parsed) {
        return std::nullopt;
    }
    return CSimulatedDutChain(*parsed, kSimDutNoiseSeed, rate_hz);
}
