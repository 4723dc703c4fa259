// The oscilloscope's arithmetic: slider-derived fields, grid, mapping, trigger and labels.
#include "measure/scope_math.h"

#include <gtest/gtest.h>

#include <cmath>

#include <string>
#include <vector>

namespace {

TEST(ScopeDerive, StartPositionsAndRangeEnds) {
    const ScopeDerived start = DeriveScopeFields(ScopeSliderPositions{});
    EXPECT_EQ(start.gridColumns, 10);
    EXPECT_EQ(start.gridRows, 10);
    EXPECT_EQ(start.ampScaleX1, 1.0f);
    EXPECT_EQ(start.timeScaleX2, 2.0f);
    EXPECT_EQ(start.offsetX1, 0);

    ScopeSliderPositions ends;
    ends.ampX1 = 80;
    ends.ampX2 = 30;
    ends.timeX1 = 1;
    ends.timeX2 = 40;
    ends.offsetX1 = 1;
    ends.offsetX2 = 300;
    ends.gridColumns = 40;
    ends.gridRows = 1;
    const ScopeDerived d = DeriveScopeFields(ends);
    EXPECT_EQ(d.ampScaleX1, 0.25f);
    EXPECT_EQ(d.ampScaleX2, float(20.0 / 30));
    EXPECT_EQ(d.timeScaleX1, 0.5f);
    EXPECT_EQ(d.timeScaleX2, 20.0f);
    EXPECT_EQ(d.offsetX1, -149);
    EXPECT_EQ(d.offsetX2, 150);
    EXPECT_EQ(d.gridColumns, 40);
    EXPECT_EQ(d.gridRows, 1);
}

TEST(ScopeDerive, PositionsOutsideTheRangesAreClamped) {
    ScopeSliderPositions wild;
    wild.ampX1 = 0;
    wild.timeX1 = -5;
    wild.offsetX2 = 1000;
    wild.gridColumns = 0;
    wild.gridRows = 99;
    const ScopeDerived d = DeriveScopeFields(wild);
    EXPECT_EQ(d.ampScaleX1, 1.0f);
    EXPECT_EQ(d.timeScaleX1, 0.5f);
    EXPECT_EQ(d.offsetX2, 150);
    EXPECT_EQ(d.gridColumns, 1);
    EXPECT_EQ(d.gridRows, 40);
}

struct GridCase {
    int divisions;
    int extent;
    std::vector<std::pair<int, int>> indexToPixel;
};

TEST(ScopeGrid, LinePositions) {
    const GridCase cases[] = {
        {1, 381, {{0, 0}, {1, 380}}},
        {1, 560, {{0, 0}, {1, 559}}},
        {10, 381, {{0, 0}, {1, 38}, {5, 190}, {9, 342}, {10, 380}}},
        {10, 560, {{1, 55}, {2, 111}, {9, 503}, {10, 559}}},
        {40, 381, {{1, 9}, {3, 28}, {39, 370}, {40, 380}}},
        {40, 560, {{1, 13}, {39, 545}, {40, 559}}},
    };
    for (const GridCase& c : cases) {
        for (const auto& [index, pixel] : c.indexToPixel) {
            EXPECT_EQ(GridLinePosition(index, c.divisions, c.extent), pixel)
                << c.divisions << " divisions over " << c.extent << ", line " << index;
        }
    }
}

struct TimeCase {
    float scale;
    int width;
    int points;
    std::vector<std::pair<int, int>> pointToX;
};

TEST(ScopeHorizontal, PointCountAndPositions) {
    const TimeCase cases[] = {
        {0.5f, 560, 1120, {{0, 0}, {1, 0}, {2, 1}, {3, 1}, {1119, 559}}},
        {2.0f, 560, 280, {{0, 0}, {1, 2}, {139, 278}, {279, 558}}},
        {20.0f, 560, 28, {{1, 20}, {27, 540}}},
        {20.0f, 561, 29, {{28, 560}}},
        {1.5f, 560, 374, {{1, 1}, {3, 4}, {373, 559}}},
        {2.0f, 0, 0, {}},
    };
    for (const TimeCase& c : cases) {
        EXPECT_EQ(TracePointCount(c.scale, c.width), c.points) << c.scale << " x " << c.width;
        for (const auto& [n, x] : c.pointToX) {
            EXPECT_EQ(TracePointX(n, c.scale), x) << "scale " << c.scale << " point " << n;
        }
    }
}

TEST(ScopeVertical, MappingExamples) {
    const int yc = 190;
    EXPECT_EQ(SampleY(100, 1.0f, 1, yc, 0), yc + 100);
    EXPECT_EQ(SampleY(-100, 1.0f, 1, yc, 0), yc - 100);
    EXPECT_EQ(SampleY(32767, 0.25f, 32, yc, 0), yc + 255); // 255.99 truncated
    EXPECT_EQ(SampleY(100, 1.0f, 1, yc, -40), yc + 60);
    EXPECT_EQ(SampleY(300, 0.5f, 4, yc, 0), yc + 37);
    // Truncation is toward zero, not downward, when the sum is negative.
    EXPECT_EQ(SampleY(-101, 0.25f, 2, 0, 0), -12);
    EXPECT_EQ(SampleY(-32768, 1.0f, 1, yc, -149), -32727);
}

// Interleaved sample area with X1 = x1(k) and X2 = x2(k).
template <class F1, class F2> std::vector<int16_t> Frames(F1 x1, F2 x2) {
    std::vector<int16_t> v(2 * kScopeFrames);
    for (int k = 0; k < kScopeFrames; ++k) {
        v[2 * k] = int16_t(x1(k));
        v[2 * k + 1] = int16_t(x2(k));
    }
    return v;
}

struct TriggerCase {
    const char* name;
    int (*signal)(int frame);
    int start;
};

const TriggerCase kTriggerCases[] = {
    {"silence", [](int) { return 0; }, 0},
    {"rising through half the peak", [](int k) { return k < 301 ? -100 : 60; }, 300},
    {"crossing at 999 found", [](int k) { return k == 999    ? 0
                                                 : k == 1000 ? 600
                                                             : 1000; }, 999},
    {"crossing at 1000 not found", [](int k) { return k == 1000   ? 0
                                                      : k == 1001 ? 600
                                                                  : 1000; }, 0},
    {"non-positive, frame 1000 positive", [](int k) { return k < 1000 ? -(k % 3) : 1; }, 999},
    {"non-positive, frame 1000 zero", [](int k) { return k < 1000 ? -50 : 0; }, 0},
    {"peak after frame 999 is ignored",
     [](int k) { return k < 1500 ? (k == 700 ? 40 : 0) : 30000; }, 699},
    {"first crossing wins", [](int k) { return (k / 100) % 2 ? 800 : -800; }, 99},
};

TEST(ScopeTrigger, EveryCaseOnEitherChannel) {
    for (const TriggerCase& c : kTriggerCases) {
        SCOPED_TRACE(c.name);
        // The other channel holds a crossing of its own at frame 40 that must not interfere.
        const auto other = [](int k) { return k <= 40 ? -2000 : 2000; };
        EXPECT_EQ(FindTriggerStart(Frames(c.signal, other).data(), 0), c.start);
        EXPECT_EQ(FindTriggerStart(Frames(other, c.signal).data(), 1), c.start);
    }
}

TEST(ScopeTrigger, ThresholdComesFromThePeakOfTheFirstThousandFrames) {
    // Peak 1001 -> half 500: frame 500 at 500 is not above, frame 600 at 501 is.
    const auto signal = [](int k) { return k == 0 ? 1001 : k == 500 ? 500 : k == 600 ? 501 : 0; };
    EXPECT_EQ(FindTriggerStart(Frames(signal, signal).data(), 0), 599);
}

TEST(ScopeLabels, Texts) {
    char text[64];
    EXPECT_EQ(FormatTimeBaseLabel(text, sizeof text, 280, 10),
              int(std::string("635微秒每格").size()));
    EXPECT_EQ(std::string(text), "635微秒每格");
    FormatTimeBaseLabel(text, sizeof text, 280, 1); // the whole width: 6349.2
    EXPECT_EQ(std::string(text), "6349微秒每格");
    FormatTimeBaseLabel(text, sizeof text, 1120, 40); // 634.92
    EXPECT_EQ(std::string(text), "635微秒每格");
    FormatTimeBaseLabel(text, sizeof text, 28, 3); // 211.6
    EXPECT_EQ(std::string(text), "212微秒每格");
    FormatSpectrumLabel(text, sizeof text, 10);
    EXPECT_EQ(std::string(text), "2205HZ每格");
    FormatSpectrumLabel(text, sizeof text, 40);
    EXPECT_EQ(std::string(text), "551HZ每格");
    // A translated unit follows the number as given.
    FormatTimeBaseLabel(text, sizeof text, 280, 10, " µs/div");
    EXPECT_EQ(std::string(text), "635 µs/div");
    FormatSpectrumLabel(text, sizeof text, 10, " Hz/div");
    EXPECT_EQ(std::string(text), "2205 Hz/div");
    FormatSpectrumLabel(text, sizeof text, 1);
    EXPECT_EQ(std::string(text), "22050HZ每格");
}

TEST(ScopeLabels, SpectrumBinPositions) {
    EXPECT_EQ(SpectrumBinX(0, 560), 0);
    EXPECT_EQ(SpectrumBinX(23, 560), 25); // where a 1000 Hz tone peaks
    EXPECT_EQ(SpectrumBinX(511, 560), 558);
    EXPECT_EQ(SpectrumBinX(256, 560), 280);
}

struct VoltsPerDivisionCase {
    float ampScale;
    int gainDivisor;
    int extentPx;
    int divisions;
    double vrmsAt0Dbfs;
    double voltsPerDivision; // worked out by hand
};

class ScopeVolts : public testing::TestWithParam<VoltsPerDivisionCase> {};

TEST_P(ScopeVolts, MatchesTheHandFigureAndTheDrawnTrace) {
    const VoltsPerDivisionCase c = GetParam();
    const double vdiv =
        ScopeVoltsPerDivision(c.ampScale, c.gainDivisor, c.extentPx, c.divisions, c.vrmsAt0Dbfs);
    EXPECT_NEAR(vdiv, c.voltsPerDivision, c.voltsPerDivision * 1e-6);
    // A voltage of k divisions, turned into the sample the card would deliver for it, is drawn
    // k grid rows from the centre line.
    for (int k : {1, 2, 3}) {
        const double sample = k * vdiv / (std::sqrt(2.0) * c.vrmsAt0Dbfs) * 32768.0;
        if (std::abs(sample) > 32767) {
            continue;
        }
        const int y = SampleY(int(std::lround(sample)), c.ampScale, c.gainDivisor, 0, 0);
        EXPECT_NEAR(y, k * double(c.extentPx - 1) / c.divisions, 1.0) << "k " << k;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, ScopeVolts,
    testing::Values(
        // Start-up: 1 px a sample unit, 10 rows over 381 px: 38 units, 1.64 mV a division.
        VoltsPerDivisionCase{1.0f, 1, 381, 10, 1.0, 0.0016400181692559},
        // Smallest scale, -30 dB, one row: 48640 units, past full scale.
        VoltsPerDivisionCase{0.25f, 32, 381, 1, 2.0, 4.198446513295126},
        // X1 across the X-Y figure: columns over the width.
        VoltsPerDivisionCase{float(20.0 / 30), 4, 560, 10, 0.5, 0.007237659131163577},
        VoltsPerDivisionCase{1.0f, 1, 381, 40, 1.0, 0.00041000454231397715},
        // The divisor halves the pixels per unit: twice the volts.
        VoltsPerDivisionCase{1.0f, 2, 381, 10, 1.0, 0.0032800363385118}));

TEST(ScopeVolts, DegenerateScalesGiveZero) {
    EXPECT_EQ(ScopeVoltsPerDivision(0.0f, 1, 381, 10, 1.0), 0.0);
    EXPECT_EQ(ScopeVoltsPerDivision(1.0f, 1, 1, 10, 1.0), 0.0);
    // A divisor below 1 and no divisions are taken as 1, as the drawing takes them.
    EXPECT_EQ(ScopeVoltsPerDivision(1.0f, 0, 381, 0, 1.0),
              ScopeVoltsPerDivision(1.0f, 1, 381, 1, 1.0));
}

} // namespace
