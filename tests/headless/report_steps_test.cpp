// The report's steps on a card in software: a wire that carries each tone exactly, and drops
// frames (a gap) when told to. A gap fails a step's first try; the second try is what counts.
#include "headless/report_steps.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <utility>

namespace {

class CToneWire final : public ICardCapture {
public:
    explicit CToneWire(int gaps) : m_gaps(gaps) {}
    double RateHz() const override { return 44100.0; }
    // Tones come back as played (AES17: amplitude 1 is 0 dBFS); anything else as silence.
    std::optional<CardCapture> Capture(const TestSignal& signal, int, int frames) override {
        CardCapture capture;
        capture.frames = frames;
        capture.rate_hz = RateHz();
        capture.interleaved.assign(size_t(frames) * 2, 0.0f);
        if (signal.kind == TestSignalKind::Tone) {
            const double amplitude = std::pow(10.0, signal.level_dbfs / 20);
            for (int n = 0; n < frames; ++n) {
                const auto x =
                    float(amplitude * std::sin(2 * std::numbers::pi * signal.freq_hz * n / 44100));
                capture.interleaved[2 * size_t(n)] =
                    signal.channels == TestSignalChannels::Right ? 0.0f : x;
                capture.interleaved[2 * size_t(n) + 1] =
                    signal.channels == TestSignalChannels::Left ? 0.0f : x;
            }
        }
        capture.gap = m_gaps-- > 0;
        return capture;
    }
    ClockStamp SamplesDeparture() const override { return {}; }

private:
    int m_gaps;
};

TEST(ReportSteps, AGapFailsOnlyTheFirstTryOfAStep) {
    CToneWire wire(1);
    Report report;
    ASSERT_TRUE(RunReportSteps(wire, ReportSettings{}, report));
    ASSERT_FALSE(report.steps.empty());
    EXPECT_EQ(report.steps[0].name, "output level");
    EXPECT_FALSE(report.steps[0].failed) << report.steps[0].note;
    const ReportFigure* gain = report.Figure("gain_db_l");
    ASSERT_TRUE(gain && gain->value);
    EXPECT_NEAR(*gain->value, 0.0, 1e-6) << "a wire has no gain";
}

TEST(ReportSteps, AGapOnBothTriesFailsTheStepAndTheNextStillRuns) {
    CToneWire wire(2);
    Report report;
    ASSERT_TRUE(RunReportSteps(wire, ReportSettings{}, report));
    ASSERT_GE(report.steps.size(), 6u);
    EXPECT_TRUE(report.steps[0].failed);
    EXPECT_EQ(report.steps[0].note, "the capture has a gap (an xrun or dropped frames)");
    EXPECT_FALSE(report.Figure("gain_db_l")->value.has_value());
    EXPECT_EQ(report.steps[4].name, "THD at -1 dBFS");
    EXPECT_FALSE(report.steps[4].failed) << report.steps[4].note;
    EXPECT_LT(*report.Figure("thd_m1dbfs_db_r")->value, -120) << "a float wire";
}

class ReportSettingsRate : public testing::TestWithParam<int> {};

// At any rate each length lasts what it lasts at 44100 Hz: exactly (to a frame) where any length
// serves, within a factor of the square root of 2 where a power of two is needed, and within the
// distortion analyser's 8192..262144 frames.
TEST_P(ReportSettingsRate, LengthsKeepTheirSecondsAndTheAnalysersLimits) {
    const double rate = GetParam();
    const ReportSettings base;
    const ReportSettings at = ReportSettingsAt(rate);
    const auto seconds = [](int frames, double hz) { return frames / hz; };
    for (const auto& [got, was] : {std::pair{at.settle_frames, base.settle_frames},
                                   std::pair{at.buffer_frames, base.buffer_frames},
                                   std::pair{at.tone_frames, base.tone_frames},
                                   std::pair{at.level_frames, base.level_frames}}) {
        EXPECT_NEAR(seconds(got, rate), seconds(was, 44100), 1 / rate) << was;
    }
    for (const auto& [got, was] : {std::pair{at.sweep_frames, base.sweep_frames},
                                   std::pair{at.noise_frames, base.noise_frames},
                                   std::pair{at.short_frames, base.short_frames}}) {
        EXPECT_EQ(got & (got - 1), 0) << got << " is not a power of two";
        const double ratio = seconds(got, rate) / seconds(was, 44100);
        EXPECT_TRUE(ratio <= std::sqrt(2.0) && ratio >= 1 / std::sqrt(2.0))
            << was << " frames at 44100 Hz became " << got;
    }
    for (const int block : {at.tone_frames, at.noise_frames, at.level_frames}) {
        EXPECT_GE(block, 8192);
        EXPECT_LE(block, 262144);
    }
}

INSTANTIATE_TEST_SUITE_P(Rates, ReportSettingsRate, testing::ValuesIn(kStreamRates));

} // namespace
