// Whole oscilloscope frames at the panel's size, read back pixel by pixel.
#include "scope/scope.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <vector>

namespace {

constexpr int kW = 560;
constexpr int kH = 381;
constexpr int kYc = kH / 2;
constexpr ColorRef kGreen = 0x0000FF00;
constexpr ColorRef kRed = 0x000000FF;
constexpr ColorRef kGrey = 0x00808080;
constexpr ColorRef kBlack = 0x00000000;

std::vector<int16_t> Frames(const std::function<int(int)>& x1, const std::function<int(int)>& x2) {
    std::vector<int16_t> v(2 * kScopeFrames);
    for (int k = 0; k < kScopeFrames; ++k) {
        v[2 * k] = int16_t(x1(k));
        v[2 * k + 1] = int16_t(x2(k));
    }
    return v;
}

std::vector<int16_t> Silence() {
    return std::vector<int16_t>(2 * kScopeFrames, 0);
}

ScopeSettings WithMode(int mode) {
    ScopeSettings s;
    s.scopeMode = mode;
    return s;
}

// Pixels of one colour in row y, from x = 0 up to the first pixel of another colour.
int RunFromLeft(const CCanvas& c, int y, ColorRef color) {
    int x = 0;
    while (x < c.Width() && c.GetPixel(x, y) == color) {
        ++x;
    }
    return x;
}

int CountColour(const CCanvas& c, ColorRef color) {
    int n = 0;
    for (int y = 0; y < c.Height(); ++y) {
        for (int x = 0; x < c.Width(); ++x) {
            n += c.GetPixel(x, y) == color;
        }
    }
    return n;
}

// A label's box starts at (x, y) and is wider than 50 and taller than 16 pixels; inside it every
// pixel is the white box or black ink, and there is some of each.
bool HasLabelBox(const CCanvas& c, int x, int y) {
    if (c.GetPixel(x, y) != kColorWhite) {
        return false;
    }
    int white = 0, ink = 0;
    for (int py = y; py < y + 16; ++py) {
        for (int px = x; px < x + 50; ++px) {
            const ColorRef p = c.GetPixel(px, py);
            white += p == kColorWhite;
            ink += p == kColorBlack;
        }
    }
    return white + ink == 50 * 16 && white > 400 && ink > 20;
}

TEST(ScopeFrame, BackgroundGridAndOutlineCorner) {
    CCanvas canvas;
    ScopeSettings s = WithMode(0);
    s.colorBack = 0x00203040;
    s.sliders.gridColumns = 4; // lines at x = 0, 139, 279, 419, 559
    s.sliders.gridRows = 2;    // lines at y = 0, 190, 380
    const auto loud =
        Frames([](int k) { return k % 2 ? 30000 : -30000; }, [](int) { return 9000; });
    const ScopeDerived d = ComposeScopeFrame(canvas, kW, kH, loud.data(), s, nullptr);
    EXPECT_EQ(d.gridColumns, 4);
    EXPECT_EQ(d.gridRows, 2);
    int grid = 0;
    for (int y = 0; y < kH; ++y) {
        for (int x = 0; x < kW; ++x) {
            const bool onGrid = y == 0 || y == 190 || y == 380 || x == 0 || x == 139 || x == 279 ||
                                x == 419 || x == 559;
            const ColorRef want = (x == kW - 1 && y == kH - 1) ? kBlack // no line ends reach it
                                  : onGrid                     ? kGrey
                                                               : 0x00203040;
            grid += onGrid;
            ASSERT_EQ(canvas.GetPixel(x, y), want) << x << "," << y;
        }
    }
    EXPECT_GT(grid, 0);
}

TEST(ScopeFrame, ModesOutsideOneToFiveDrawGridOnly) {
    const auto loud = Frames([](int k) { return (k * 7919) % 20000 - 10000; },
                             [](int k) { return (k * 104729) % 20000 - 10000; });
    CCanvas gridOnly;
    ComposeScopeFrame(gridOnly, kW, kH, loud.data(), WithMode(0), nullptr);
    for (int mode : {-1, 6, 42}) {
        CCanvas canvas;
        ComposeScopeFrame(canvas, kW, kH, loud.data(), WithMode(mode), nullptr);
        EXPECT_EQ(canvas.Image(), gridOnly.Image()) << "mode " << mode;
    }
    EXPECT_EQ(CountColour(gridOnly, kGreen), 0);
    EXPECT_FALSE(HasLabelBox(gridOnly, 10, 10));
}

TEST(ScopeFrame, SilenceInTimeModes) {
    const auto silent = Silence();
    struct Case {
        int mode;
        ColorRef lastOnCentre;
    } cases[] = {{kScopeModeX, kGreen}, {kScopeModeX1X2, kRed}, {kScopeModeSum, kGreen}};
    for (const Case& c : cases) {
        for (bool sync : {false, true}) {
            SCOPED_TRACE(testing::Message() << "mode " << c.mode << " sync " << sync);
            CCanvas canvas;
            ScopeSettings s = WithMode(c.mode);
            s.syncX1 = s.syncX2 = sync;
            ComposeScopeFrame(canvas, kW, kH, silent.data(), s, nullptr);
            // 280 points at x = 0 .. 558; the last line leaves out x = 558.
            EXPECT_EQ(RunFromLeft(canvas, kYc, c.lastOnCentre), 558);
            EXPECT_TRUE(HasLabelBox(canvas, 10, 10));
            EXPECT_EQ(HasLabelBox(canvas, 150, 10), c.mode == kScopeModeX1X2);
        }
    }
}

TEST(ScopeFrame, SilenceInXYModeIsOnePixelAtTheCentre) {
    const auto silent = Silence();
    CCanvas canvas;
    ScopeSettings s = WithMode(kScopeModeXY);
    s.sliders.offsetX1 = 250; // baselines play no part here
    ComposeScopeFrame(canvas, kW, kH, silent.data(), s, nullptr);
    EXPECT_EQ(canvas.GetPixel(kW / 2, kYc), kGreen);
    EXPECT_EQ(CountColour(canvas, kGreen), 1);
    EXPECT_FALSE(HasLabelBox(canvas, 10, 10));
}

TEST(ScopeFrame, XYModePlotsX1AcrossAndX2Down) {
    // Four corners of a square, scaled by the gains; time base and baselines are ignored.
    const auto square = Frames([](int k) { return k % 2 ? 200 : -200; },
                               [](int k) { return (k / 2) % 2 ? 120 : -120; });
    CCanvas canvas;
    ScopeSettings s = WithMode(kScopeModeXY);
    s.gainDivX1 = 2;
    s.sliders.ampX2 = 40; // 0.5
    s.sliders.timeX1 = 1;
    s.sliders.offsetX2 = 10;
    ComposeScopeFrame(canvas, kW, kH, square.data(), s, nullptr);
    for (int dx : {-100, 100}) {
        for (int dy : {-60, 60}) {
            EXPECT_EQ(canvas.GetPixel(kW / 2 + dx, kYc + dy), kGreen) << dx << "," << dy;
        }
    }
    EXPECT_EQ(CountColour(canvas, kGreen), 4);
}

TEST(ScopeFrame, SilenceInSpectrumModeIsTwoBaselines) {
    const auto silent = Silence();
    CCanvas canvas;
    ScopeSettings s = WithMode(kScopeModeSpectrum);
    s.sliders.offsetX1 = 160; // +10
    s.sliders.offsetX2 = 140; // -10
    s.sliders.timeX1 = 40;    // no effect on spectra
    ComposeScopeFrame(canvas, kW, kH, silent.data(), s, nullptr);
    // Bin 511 sits at x = 558, which the last line leaves out.
    EXPECT_EQ(RunFromLeft(canvas, kYc + 10, kGreen), 558);
    EXPECT_EQ(RunFromLeft(canvas, kH - 10 - 5, kRed), 558);
    EXPECT_EQ(CountColour(canvas, kGreen) + CountColour(canvas, kRed), 2 * 558);
    EXPECT_TRUE(HasLabelBox(canvas, 10, 10));
}

TEST(ScopeFrame, SpectrumOfA1000HzToneOnX1PeaksAtBin23) {
    const auto tone =
        Frames([](int k) { return int(std::lround(60 * std::sin(2 * M_PI * 1000 * k / 44100.0))); },
               [](int) { return 0; });
    CCanvas canvas;
    ComposeScopeFrame(canvas, kW, kH, tone.data(), WithMode(kScopeModeSpectrum), nullptr);
    int topY = kH, topX = -1;
    for (int y = 0; y < kH && topX < 0; ++y) {
        for (int x = 0; x < kW; ++x) {
            if (canvas.GetPixel(x, y) == kGreen) {
                topY = y;
                topX = x;
                break;
            }
        }
    }
    EXPECT_EQ(topX, SpectrumBinX(23, kW));
    EXPECT_LT(topY, kYc - 60); // about 2.56 x 60 high, less the leakage of an off-bin tone
    EXPECT_EQ(RunFromLeft(canvas, kH - 5, kRed), 558); // X2 stays flat
}

TEST(ScopeFrame, SamplePositionsFollowScaleDivisorAndOffset) {
    const auto constant = Frames([](int) { return 100; }, [](int) { return -300; });
    CCanvas canvas;
    ScopeSettings s = WithMode(kScopeModeX1X2);
    s.sliders.offsetX2 = 130; // -20
    s.gainDivX2 = 4;          // -300 / 4 = -75
    ComposeScopeFrame(canvas, kW, kH, constant.data(), s, nullptr);
    EXPECT_EQ(RunFromLeft(canvas, kYc + 100, kGreen), 558);
    EXPECT_EQ(RunFromLeft(canvas, kYc - 75 - 20, kRed), 558);
}

TEST(ScopeFrame, SumModeMixesEachChannelsScaleWithX1sBaselineAndTimeBase) {
    const auto mixed = Frames([](int) { return 100; }, [](int) { return -60; });
    CCanvas canvas;
    ScopeSettings s = WithMode(kScopeModeSum);
    s.gainDivX1 = 2;          // X1: 100 / 2 = 50
    s.sliders.ampX2 = 40;     // X2: -60 x 0.5 = -30
    s.sliders.offsetX1 = 160; // +10
    s.sliders.offsetX2 = 100; // ignored
    s.sliders.timeX1 = 40;    // 28 points, x = 0 .. 540
    s.sliders.timeX2 = 1;     // ignored
    s.syncX1 = true;          // ignored: a constant has no crossing anyway
    ComposeScopeFrame(canvas, kW, kH, mixed.data(), s, nullptr);
    const int row = kYc + 50 - 30 + 10;
    EXPECT_EQ(RunFromLeft(canvas, row, kGreen), 540);
    EXPECT_EQ(CountColour(canvas, kGreen), 540);
    EXPECT_EQ(CountColour(canvas, kRed), 0);
}

TEST(ScopeFrame, EachTraceStartsAtItsOwnTrigger) {
    // X1 rises through its half peak between frames 100 and 101, X2 between 300 and 301.
    const auto steps = Frames([](int k) { return k <= 100 ? 0 : 150; },
                              [](int k) { return k <= 300 ? -100 : 60; });
    CCanvas canvas;
    ScopeSettings s = WithMode(kScopeModeX1X2);
    s.syncX1 = s.syncX2 = true;
    ComposeScopeFrame(canvas, kW, kH, steps.data(), s, nullptr);
    // Each trace shows its step right at the left edge, then its high level across the width.
    EXPECT_EQ(canvas.GetPixel(0, kYc), kGreen);
    EXPECT_EQ(canvas.GetPixel(100, kYc), kGrey); // without the trigger X1 would still be here
    EXPECT_EQ(canvas.GetPixel(2, kYc + 150), kGreen);
    EXPECT_EQ(canvas.GetPixel(557, kYc + 150), kGreen);
    EXPECT_EQ(canvas.GetPixel(0, kYc - 100), kRed);
    EXPECT_EQ(canvas.GetPixel(300, kYc - 100), kBlack);
    EXPECT_EQ(canvas.GetPixel(2, kYc + 60), kRed);
    EXPECT_EQ(canvas.GetPixel(557, kYc + 60), kRed);

    s.syncX2 = false; // X2 alone goes back to frame 0
    ComposeScopeFrame(canvas, kW, kH, steps.data(), s, nullptr);
    EXPECT_EQ(RunFromLeft(canvas, kYc - 100, kRed), 558);
    EXPECT_EQ(canvas.GetPixel(2, kYc + 150), kGreen);
}

TEST(ScopeFrame, TraceStopsAtTheLastFrame) {
    // Trigger at 999 and the finest time base: 1120 points wanted, 1049 frames left.
    const auto late = Frames([](int k) { return k < 1000 ? 0 : 50; }, [](int) { return 0; });
    CCanvas canvas;
    ScopeSettings s = WithMode(kScopeModeX);
    s.syncX1 = true;
    s.sliders.timeX1 = 1;
    ComposeScopeFrame(canvas, kW, kH, late.data(), s, nullptr);
    // Point 1048 (frame 2047) is at x = 524 and ends the trace.
    EXPECT_EQ(canvas.GetPixel(523, kYc + 50), kGreen);
    EXPECT_EQ(canvas.GetPixel(524, kYc + 50), kBlack);
}

TEST(ScopeFrame, HookSeesTheFinishedFrameOnce) {
    const auto silent = Silence();
    CCanvas canvas;
    int calls = 0;
    ColorRef seen = kColorInvalid;
    const ScopeFrameHook hook = [&](const CCanvas& frame) {
        ++calls;
        EXPECT_EQ(&frame, &canvas);
        seen = frame.GetPixel(5, kYc);
    };
    ScopeSettings s = WithMode(kScopeModeX);
    s.sliders.timeX1 = 8;
    const ScopeDerived d = ComposeScopeFrame(canvas, kW, kH, silent.data(), s, hook);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(seen, kGreen);
    EXPECT_EQ(d.timeScaleX1, 4.0f);
}

TEST(ScopeFrame, OtherSizesAndAReusedCanvas) {
    const auto silent = Silence();
    CCanvas canvas;
    ComposeScopeFrame(canvas, kW, kH, silent.data(), WithMode(kScopeModeX), nullptr);
    ComposeScopeFrame(canvas, 100, 120, silent.data(), WithMode(kScopeModeX), nullptr);
    EXPECT_EQ(canvas.Width(), 100);
    EXPECT_EQ(canvas.Height(), 120);
    EXPECT_EQ(canvas.GetPixel(97, 60), kGreen); // 50 points up to x = 98, which is left out
    EXPECT_EQ(canvas.GetPixel(98, 60), kBlack);
    EXPECT_EQ(canvas.GetPixel(99, 60), kGrey);

    bool called = false;
    ComposeScopeFrame(canvas, 0, 0, silent.data(), WithMode(kScopeModeX),
                      [&](const CCanvas&) { called = true; });
    EXPECT_FALSE(called);
}

} // namespace

namespace {

// Frame after frame on one canvas, as the panel composes them: every frame must be the one a
// fresh canvas composes, whatever the frame before it drew and whichever settings changed.
TEST(ScopeFrame, ReusedCanvasComposesWhatAFreshOneDoes) {
    const auto loud = Frames([](int k) { return (k * 7919) % 60000 - 30000; },
                             [](int k) { return k * 13 % 9000; });
    const auto tone = Frames([](int k) { return int(16384 * std::sin(k * 0.1425)); },
                             [](int k) { return int(8000 * std::cos(k * 0.05)); });
    const auto silent = Silence();
    ScopeSettings x1x2 = WithMode(kScopeModeX1X2);
    x1x2.syncX1 = true;
    ScopeSettings finer = WithMode(kScopeModeX);
    finer.sliders.gridRows = 7;
    finer.sliders.timeX1 = 1;
    ScopeSettings coloured = WithMode(kScopeModeSum);
    coloured.colorBack = 0x00203040;
    const struct {
        const std::vector<int16_t>* samples;
        ScopeSettings settings;
        int width;
    } frames[] = {
        {&tone, WithMode(kScopeModeX), kW},
        {&loud, WithMode(kScopeModeX), kW},
        {&silent, WithMode(kScopeModeX), kW},
        {&tone, x1x2, kW},
        {&loud, WithMode(kScopeModeXY), kW},
        {&tone, WithMode(kScopeModeSpectrum), kW},
        {&tone, finer, kW},
        {&loud, finer, kW},
        {&tone, coloured, kW},
        {&tone, WithMode(kScopeModeX), 300},
        {&loud, WithMode(kScopeModeX), 300},
        {&tone, WithMode(kScopeModeX), kW},
    };
    CCanvas reused;
    int index = 0;
    for (const auto& f : frames) {
        CCanvas fresh;
        ComposeScopeFrame(reused, f.width, kH, f.samples->data(), f.settings, nullptr);
        ComposeScopeFrame(fresh, f.width, kH, f.samples->data(), f.settings, nullptr);
        EXPECT_EQ(reused.Image(), fresh.Image()) << "frame " << index;
        ++index;
    }
}

} // namespace
