// The synchronized sweep: its level, its frequency against time, its ends, its int16 form.
#include "analysis/sweep/sweep_signal.h"

#include "tests/analysis/test_signals.h"

#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>

namespace {

// The RMS over whole frames [begin, end), as dBFS in AES17 terms (a full-scale sine is 0).
double LevelDbfs(const std::vector<double>& x, int begin, int end) {
    double sum = 0;
    for (int n = begin; n < end; ++n) {
        sum += x[size_t(n)] * x[size_t(n)];
    }
    return Db(std::sqrt(2 * sum / (end - begin)));
}

class SweepLevel : public testing::TestWithParam<double> {};

TEST_P(SweepLevel, RmsAwayFromTheFadesIsTheLevelAsked) {
    SweepSettings s;
    s.level_dbfs = GetParam();
    const std::vector<double> x = GenerateSweep(s);
    const SweepShape shape = MakeSweepShape(s);
    EXPECT_NEAR(LevelDbfs(x, shape.sweep_frames / 4, shape.sweep_frames * 3 / 4), GetParam(), 0.01);
}

INSTANTIATE_TEST_SUITE_P(Levels, SweepLevel, testing::Values(-1.0, -12.0, -60.0));

struct FrequencyCase {
    double f1_hz, f2_hz;
    int frames;
};

class SweepFrequency : public testing::TestWithParam<FrequencyCase> {};

// The frequency from the spacing of upward zero crossings, against the mean of f1 e^{t/L} over
// that cycle, f1 L (e^{b/L} - e^{a/L}) / (b - a); and
// f1 L whole, which puts every harmonic's sin(N phase) exactly L ln N ahead.
TEST_P(SweepFrequency, RisesAsF1TimesExpTOverL) {
    const FrequencyCase c = GetParam();
    SweepSettings s;
    s.f1_hz = c.f1_hz;
    s.f2_hz = c.f2_hz;
    s.frames = c.frames;
    const SweepShape shape = MakeSweepShape(s);
    EXPECT_NEAR(s.f1_hz * shape.l_s, std::round(s.f1_hz * shape.l_s), 1e-9);
    EXPECT_NEAR(shape.sweep_frames, shape.l_s * std::log(c.f2_hz / c.f1_hz) * kRate, 1.0);
    EXPECT_LE(shape.sweep_frames, c.frames * (1 - kSweepTailFraction));

    const std::vector<double> x = GenerateSweep(s);
    double last = -1;
    int checked = 0;
    for (int n = shape.fade_in_frames; n + 1 < shape.sweep_frames - shape.fade_out_frames; ++n) {
        if (x[size_t(n)] < 0 && x[size_t(n) + 1] >= 0) {
            const double at = n + x[size_t(n)] / (x[size_t(n)] - x[size_t(n) + 1]);
            if (last >= 0) {
                const double a = last / kRate;
                const double b = at / kRate;
                const double period = b - a;
                const double mid = (a + b) / 2;
                const double expected = c.f1_hz * shape.l_s *
                                        (std::exp(b / shape.l_s) - std::exp(a / shape.l_s)) /
                                        period;
                if (expected < 2000) { // where a period spans enough samples to time it
                    EXPECT_NEAR(1 / period, expected, expected * 2e-3) << "at " << mid << " s";
                    ++checked;
                }
            }
            last = at;
        }
    }
    EXPECT_GT(checked, 10);
    EXPECT_EQ(x[0], 0.0);
    EXPECT_LT(std::fabs(x[size_t(shape.sweep_frames) - 1]), 1e-3 * shape.amplitude);
    for (size_t n = size_t(shape.sweep_frames); n < x.size(); ++n) {
        ASSERT_EQ(x[n], 0.0);
    }
}

INSTANTIATE_TEST_SUITE_P(Bands, SweepFrequency,
                         testing::Values(FrequencyCase{10, 22050, 1 << 18},
                                         FrequencyCase{20, 20000, 1 << 16},
                                         FrequencyCase{100, 1000, 1 << 17},
                                         FrequencyCase{1, 22050, 1 << 20}));

struct BadSettings {
    const char* name;
    SweepSettings settings;
};

class SweepRefusesSettings : public testing::TestWithParam<BadSettings> {};

TEST_P(SweepRefusesSettings, Throws) {
    EXPECT_THROW(MakeSweepShape(GetParam().settings), std::invalid_argument);
    EXPECT_THROW(GenerateSweep(GetParam().settings), std::invalid_argument);
}

SweepSettings With(void (*change)(SweepSettings&)) {
    SweepSettings s;
    change(s);
    return s;
}

INSTANTIATE_TEST_SUITE_P(
    Settings, SweepRefusesSettings,
    testing::Values(
        BadSettings{"f1_below_1hz", With([](SweepSettings& s) { s.f1_hz = 0.5; })},
        BadSettings{"f2_above_nyquist", With([](SweepSettings& s) { s.f2_hz = 22051; })},
        BadSettings{"f1_above_f2", With([](SweepSettings& s) { s.f1_hz = 30000; })},
        BadSettings{"too_short", With([](SweepSettings& s) { s.frames = 1 << 15; })},
        BadSettings{"too_long", With([](SweepSettings& s) { s.frames = 1 << 21; })},
        BadSettings{"not_power_of_two", With([](SweepSettings& s) { s.frames = 100000; })},
        BadSettings{"too_loud", With([](SweepSettings& s) { s.level_dbfs = -0.5; })},
        BadSettings{"too_quiet", With([](SweepSettings& s) { s.level_dbfs = -61; })},
        BadSettings{"no_whole_cycle", With([](SweepSettings& s) {
                        s.f1_hz = 1;
                        s.frames = 1 << 16;
                    })}),
    [](const auto& info) { return std::string(info.param.name); });

struct Int16Case {
    double in;
    int16_t out;
};

class SweepInt16 : public testing::TestWithParam<Int16Case> {};

TEST_P(SweepInt16, RoundsToNearestAndHoldsTheRange) {
    EXPECT_EQ(ToInt16({GetParam().in})[0], GetParam().out);
}

INSTANTIATE_TEST_SUITE_P(Samples, SweepInt16,
                         testing::Values(Int16Case{0.0, 0}, Int16Case{1.4 / 32768, 1},
                                         Int16Case{1.6 / 32768, 2}, Int16Case{-1.6 / 32768, -2},
                                         Int16Case{1.0, 32767}, Int16Case{-1.0, -32768},
                                         Int16Case{-1.5, -32768}, Int16Case{0.25, 8192}));

} // namespace
