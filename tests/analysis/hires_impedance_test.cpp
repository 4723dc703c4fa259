// The stepped impedance sweep at 192 kHz: a range reaching 80 kHz is planned (at 44.1 kHz it lies
// above Nyquist and is refused), and a coil's rising impedance, fed as float buffers, reads as the
// network's closed form at every step.
#include "analysis/impedance/impedance_sweep.h"

#include "tests/analysis/impedance_signals.h"
#include "tests/analysis/test_signals.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace {

std::complex<double> Coil(double f) {
    return SeriesRlc(f, 6.2, 0.4e-3, 0);
}

TEST(HiresImpedance, SweepTo80kHzAt192kReadsTheCoil) {
    constexpr double rate = 192000;
    ImpedanceSweepSettings settings;
    settings.f1_hz = 1000;
    settings.f2_hz = 80000;
    settings.per_octave = 2;
    settings.r_ref_ohm = 10;
    std::string error;
    ASSERT_FALSE(PlanImpedanceSweep(settings, &error)) << "80 kHz lies above 44.1 kHz's Nyquist";
    settings.sample_rate_hz = rate;
    const auto plan = PlanImpedanceSweep(settings, &error);
    ASSERT_TRUE(plan) << error;
    CImpedanceSweep sweep(settings, *plan);

    // The tone asked for plays from the next buffer, phase continuous, through Z and R_ref.
    constexpr int kBuffer = 4096;
    std::vector<float> pcm(2 * kBuffer);
    double tone = *sweep.ToneHz();
    double phase = 0.3;
    for (int buffer = 0; buffer < 5000 && !sweep.Finished(); ++buffer) {
        const std::complex<double> h = settings.r_ref_ohm / (Coil(tone) + settings.r_ref_ohm);
        for (int k = 0; k < kBuffer; ++k) {
            const double wt = phase + 2 * kPi * tone * k / rate;
            pcm[2 * size_t(k)] = float(0.5 * std::sin(wt));
            pcm[2 * size_t(k) + 1] = float(0.5 * std::abs(h) * std::sin(wt + std::arg(h)));
        }
        phase = std::fmod(phase + 2 * kPi * tone * kBuffer / rate, 2 * kPi);
        if (sweep.Feed(pcm.data(), kBuffer, 0) == SweepEvent::NextTone) {
            tone = *sweep.ToneHz();
        }
    }
    ASSERT_TRUE(sweep.Finished());
    ASSERT_EQ(sweep.Points().size(), plan->size());
    EXPECT_NEAR(sweep.Points().back().freq_hz, 80000, 1e-6);
    for (const ImpedanceSweepPoint& p : sweep.Points()) {
        ASSERT_EQ(p.refusal, ImpedanceRefusal::None) << p.freq_hz;
        EXPECT_NEAR(std::abs(p.z_ohm / Coil(p.freq_hz) - 1.0), 0, 1e-3) << p.freq_hz << " Hz";
    }
}

} // namespace
