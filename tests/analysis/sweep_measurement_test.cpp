// The measurement run fed as the capture worker would feed it, from a card whose response is
// known: a delay of whole frames (a cable), a gain, noise of a known level, a hole in the stream.
#include "analysis/sweep/sweep_measurement.h"

#include "tests/analysis/test_signals.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <ostream>
#include <random>
#include <stdexcept>

namespace {

constexpr int kBufferFrames = 4096;

SweepMeasurementSettings Settings(int frames, int averages = 1) {
    SweepMeasurementSettings s;
    s.sweep.frames = frames;
    s.averages = averages;
    return s;
}

// The card: the playback delayed by delayFrames on both channels (L to X1, R to X2), times gain,
// plus whatever `extra` adds to each value at each frame; fed in capture buffers until the
// measurement is complete. gapAtFrame: the gap count goes up from the buffer holding it.
struct Card {
    int delayFrames = 0;
    double gain = 1.0;
    std::function<double(int64_t frame, int channel)> extra = nullptr;
    int64_t gapAtFrame = -1;
    // When each buffer's first frame (the capture's frame `at`) was captured; none when unset.
    std::function<ClockStamp(int64_t at)> stamp = nullptr;
};

SweepOutcome PlayThrough(CSweepMeasurement& m, const Card& card) {
    const std::vector<int16_t>& play = *m.Playback();
    const int64_t playFrames = int64_t(play.size() / 2);
    std::vector<int16_t> buffer(2 * kBufferFrames);
    uint64_t gaps = 7; // any count to start from: only a change means a hole
    for (int64_t at = 0; !m.Complete(); at += kBufferFrames) {
        for (int f = 0; f < kBufferFrames; ++f) {
            const int64_t source = at + f - card.delayFrames;
            for (int c = 0; c < 2; ++c) {
                double v = source >= 0 && source < playFrames
                               ? card.gain * play[size_t(2 * source + c)]
                               : 0.0;
                if (card.extra) {
                    v += card.extra(at + f, c);
                }
                buffer[size_t(2 * f + c)] = int16_t(std::lround(std::clamp(v, -32768.0, 32767.0)));
            }
        }
        if (card.gapAtFrame >= at && card.gapAtFrame < at + kBufferFrames) {
            ++gaps;
        }
        if (card.stamp) {
            m.Feed(buffer.data(), kBufferFrames, gaps, card.stamp(at));
        } else {
            CSweepMeasurement::Tap(buffer.data(), kBufferFrames, gaps, &m);
        }
    }
    return m.Analyse();
}

// A cable: 0 dB and 0 degrees within 0.01 dB and 0.1 degree from 20 Hz to 20 kHz, and the
// latency the delay that was planted, to the sample by cross-correlation and finely by the
// analyser.
TEST(SweepMeasurement, CableIsFlatAndItsDelayIsTheLatency) {
    CSweepMeasurement m(Settings(1 << 18));
    const SweepOutcome out = PlayThrough(m, {1234});
    ASSERT_EQ(out.failure, SweepFailure::None);
    EXPECT_EQ(out.input, 0);
    EXPECT_EQ(out.coarse_latency_samples, 1234);
    EXPECT_NEAR(out.latency_samples, 1234, 0.01);
    EXPECT_NEAR(out.latency_ms, 1234 / kRate * 1e3, 1e-3);
    ASSERT_FALSE(out.result.freq_hz.empty());
    EXPECT_DOUBLE_EQ(out.result.freq_hz.front(), 20.0);
    EXPECT_GT(out.result.freq_hz.back(), 20000.0 * std::pow(2.0, -1.0 / 48));
    for (size_t i = 0; i < out.result.freq_hz.size(); ++i) {
        EXPECT_NEAR(out.result.mag_db[i], 0, 0.01) << out.result.freq_hz[i] << " Hz";
        EXPECT_NEAR(out.result.phase_deg[i], 0, 0.1) << out.result.freq_hz[i] << " Hz";
    }
    ASSERT_LT(size_t(out.impulse_peak), out.impulse.size());
    EXPECT_NEAR(out.impulse[size_t(out.impulse_peak)], 1.0, 2e-3);
}

// Which input is measured follows which output plays; with the reference, X1 over X2 cancels
// what both share (here the delay) and leaves X1's own gain.
struct RoutingCase {
    const char* name;
    SweepOutput output;
    SweepReference reference;
    double gainX1, gainX2;
    int input;
    double mag_db; // expected flat level
};

void PrintTo(const RoutingCase& c, std::ostream* os) {
    *os << c.name;
}

class SweepRouting : public testing::TestWithParam<RoutingCase> {};

TEST_P(SweepRouting, MeasuresTheRightInput) {
    const RoutingCase c = GetParam();
    SweepMeasurementSettings s = Settings(1 << 16);
    s.output = c.output;
    s.reference = c.reference;
    s.analysis.harmonics = false;
    CSweepMeasurement m(s);
    const std::vector<int16_t>& play = *m.Playback();
    // The gains differ per channel: played through a card that scales X1 and X2 apart.
    Card card{300};
    card.gain = 0;
    card.extra = [&](int64_t frame, int channel) {
        const int64_t source = frame - 300;
        if (source < 0 || source >= int64_t(play.size() / 2)) {
            return 0.0;
        }
        return (channel == 0 ? c.gainX1 : c.gainX2) * play[size_t(2 * source + channel)];
    };
    const SweepOutcome out = PlayThrough(m, card);
    ASSERT_EQ(out.failure, SweepFailure::None) << SweepFailureText(out.failure);
    EXPECT_EQ(out.input, c.input);
    EXPECT_NEAR(out.latency_samples, c.reference == SweepReference::X2 ? 0.0 : 300.0, 0.01);
    for (size_t i = 0; i < out.result.freq_hz.size(); ++i) {
        EXPECT_NEAR(out.result.mag_db[i], c.mag_db, 0.01) << out.result.freq_hz[i] << " Hz";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Outputs, SweepRouting,
    testing::Values(
        RoutingCase{"Left", SweepOutput::Left, SweepReference::None, 0.5, 1, 0, Db(0.5)},
        RoutingCase{"Right", SweepOutput::Right, SweepReference::None, 1, 0.5, 1, Db(0.5)},
        RoutingCase{"Both", SweepOutput::Both, SweepReference::None, 0.25, 1, 0, Db(0.25)},
        RoutingCase{"ReferenceX2", SweepOutput::Left, SweepReference::X2, 0.25, 0.5, 0, Db(0.5)}),
    [](const auto& info) { return std::string(info.param.name); });

// The refusals, each from the fault that causes it.
struct RefusalCase {
    const char* name;
    Card card;
    SweepFailure failure;
};

void PrintTo(const RefusalCase& c, std::ostream* os) {
    *os << c.name;
}

class SweepMeasurementRefuses : public testing::TestWithParam<RefusalCase> {};

TEST_P(SweepMeasurementRefuses, NamesWhy) {
    CSweepMeasurement m(Settings(1 << 16));
    const SweepOutcome out = PlayThrough(m, GetParam().card);
    EXPECT_EQ(out.failure, GetParam().failure);
    EXPECT_TRUE(out.result.freq_hz.empty());
    EXPECT_STRNE(SweepFailureText(out.failure), "");
}

INSTANTIATE_TEST_SUITE_P(
    Faults, SweepMeasurementRefuses,
    testing::Values(RefusalCase{"XrunMidSweep", {200, 1.0, {}, 30000}, SweepFailure::Gap},
                    // -12 dBFS on AES17 is a peak of 0.25: 5x passes full scale.
                    RefusalCase{"Clipped", {200, 5.0, {}, -1}, SweepFailure::Clipped},
                    RefusalCase{"Silence", {200, 0.0, {}, -1}, SweepFailure::NoSignal},
                    // The card started capturing 2000 frames into the sweep.
                    RefusalCase{"StartMissed", {-2000, 1.0, {}, -1}, SweepFailure::NoSignal},
                    RefusalCase{"OnlyNoise",
                                {200, 0.0,
                                 [](int64_t frame, int) {
                                     return 3000.0 * std::sin(double(frame * frame % 1000003));
                                 },
                                 -1},
                                SweepFailure::NoSignal}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SweepMeasurement, StoppedBeforeCompleteIsStopped) {
    CSweepMeasurement m(Settings(1 << 16));
    const std::vector<int16_t> buffer(2 * kBufferFrames, 0);
    CSweepMeasurement::Tap(buffer.data(), kBufferFrames, 0, &m);
    EXPECT_GT(m.Progress(), 0.0);
    EXPECT_LT(m.Progress(), 1.0);
    EXPECT_FALSE(m.Complete());
    EXPECT_EQ(m.Analyse().failure, SweepFailure::Stopped);
}

// Noise uncorrelated with the sweep: four sweeps averaged leave about half the deviation one
// does, as sqrt(4) says.
TEST(SweepMeasurement, FourAveragesHalveTheNoisesDeviation) {
    auto deviation = [](int averages) {
        CSweepMeasurement m(Settings(1 << 16, averages));
        std::mt19937 random(5);
        std::normal_distribution<double> noise(0.0, 300.0); // about -41 dBFS
        Card card{500};
        card.extra = [&](int64_t, int) { return noise(random); };
        const SweepOutcome out = PlayThrough(m, card);
        EXPECT_EQ(out.failure, SweepFailure::None);
        double sum = 0;
        for (double db : out.result.mag_db) {
            sum += db * db;
        }
        return std::sqrt(sum / double(std::max<size_t>(1, out.result.mag_db.size())));
    };
    const double one = deviation(1);
    const double four = deviation(4);
    RecordProperty("deviation_db_1", std::to_string(one));
    RecordProperty("deviation_db_4", std::to_string(four));
    EXPECT_GT(one, 0.01); // the noise shows in one sweep
    EXPECT_NEAR(four / one, 0.5, 0.15);
}

TEST(SweepMeasurement, RefusesAveragesOutOfRange) {
    EXPECT_THROW(CSweepMeasurement(Settings(1 << 16, 0)), std::invalid_argument);
    EXPECT_THROW(CSweepMeasurement(Settings(1 << 16, 65)), std::invalid_argument);
    EXPECT_THROW(CSweepMeasurement(Settings(1000)), std::invalid_argument);
}

// The whole run, from capture start to analysis, fits in the sweeps plus the budget, and the
// budget holds the card's round trip.
TEST(SweepMeasurement, LastsTheSweepsPlusTheBudget) {
    const SweepMeasurementSettings s = Settings(1 << 17, 3);
    CSweepMeasurement m(s);
    EXPECT_EQ(m.Playback()->size(), size_t(2) * 3 * (1 << 17));
    const double budget_s = kSweepLatencyBudgetSeconds;
    EXPECT_LE(budget_s, 0.7);
    EXPECT_GE(budget_s, 0.4);
    const SweepOutcome out = PlayThrough(m, {int(0.35 * kRate)});
    ASSERT_EQ(out.failure, SweepFailure::None);
    EXPECT_NEAR(out.latency_samples, int(0.35 * kRate), 0.01);
}

} // namespace

namespace {

// The round trip from the devices' positions. The card's clock runs in frames from the capture's
// first (0 ns); the sweep leaves for the line kQueued frames later (the output queued ahead of
// it), and the cable takes kTrip more, so the capture holds it kQueued + kTrip frames in. The
// round trip is kTrip; wherever a position is missing or cannot be believed, the latency falls
// back to the capture-relative kQueued + kTrip and says so.
constexpr int kQueued = 16384;
constexpr double kTrip = 37;

ClockStamp CardClock(double frames, DeviceClock clock = DeviceClock::Bench) {
    return StampAfterFrames({0, clock}, frames, kRate);
}

struct TripCase {
    const char* name;
    std::function<ClockStamp(int64_t at)> stamp;
    ClockStamp departure;
    bool round_trip;
};

void PrintTo(const TripCase& c, std::ostream* os) {
    *os << c.name;
}

class SweepRoundTrip : public testing::TestWithParam<TripCase> {};

TEST_P(SweepRoundTrip, IsTheDevicesOrNamedRelative) {
    const TripCase& c = GetParam();
    SweepMeasurementSettings s = Settings(1 << 16);
    s.analysis.harmonics = false;
    CSweepMeasurement m(s);
    m.SetDeparture(c.departure);
    Card card{kQueued + int(kTrip)};
    card.stamp = c.stamp;
    const SweepOutcome out = PlayThrough(m, card);
    ASSERT_EQ(out.failure, SweepFailure::None);
    EXPECT_EQ(out.round_trip, c.round_trip);
    EXPECT_EQ(out.relative_latency, !c.round_trip);
    EXPECT_NEAR(out.latency_samples, c.round_trip ? kTrip : kQueued + kTrip, 0.01);
    EXPECT_NEAR(out.latency_ms, out.latency_samples / kRate * 1e3, 1e-9);
    const std::string text = SweepLatencyText(out);
    EXPECT_NE(text.find(c.round_trip ? "round trip" : "relative"), std::string::npos) << text;
}

const auto kEveryBuffer = [](int64_t at) { return CardClock(double(at)); };

INSTANTIATE_TEST_SUITE_P(
    Positions, SweepRoundTrip,
    testing::Values(
        TripCase{"BothKnown", kEveryBuffer, CardClock(kQueued), true},
        // A sound server's position report a millisecond off, once: the median holds.
        TripCase{"OneLateReport",
                 [](int64_t at) { return CardClock(double(at) + (at == 8 * 4096 ? 44.1 : 0)); },
                 CardClock(kQueued), true},
        TripCase{"NoDeparture", kEveryBuffer, ClockStamp{}, false},
        TripCase{"NoCaptureStamps", nullptr, CardClock(kQueued), false},
        TripCase{"OneBufferUnstamped",
                 [](int64_t at) { return at == 4096 ? ClockStamp{} : CardClock(double(at)); },
                 CardClock(kQueued), false},
        TripCase{"OtherClocks", kEveryBuffer, CardClock(kQueued, DeviceClock::Monotonic), false},
        // Left after the sweep came back: positions that cannot both be right.
        TripCase{"DepartedAfterArrival", kEveryBuffer, CardClock(kQueued + 2 * kTrip), false}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
