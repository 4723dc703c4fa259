// The template table and the dialog-unit conversion.
#include "app/panel_layout.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <vector>

namespace {

TEST(DialogUnits, MulDivRoundsHalvesAwayFromZero) {
    EXPECT_EQ(MulDiv(7, 6, 4), 11);   // 10.5
    EXPECT_EQ(MulDiv(-7, 6, 4), -11); // -10.5
    EXPECT_EQ(MulDiv(5, 6, 4), 8);    // 7.5
    EXPECT_EQ(MulDiv(4, 6, 4), 6);
    EXPECT_EQ(MulDiv(1, 1, 3), 0); // 0.33
    EXPECT_EQ(MulDiv(2, 1, 3), 1); // 0.67
    EXPECT_EQ(MulDiv(7, 6, -4), -11);
}

TEST(DialogUnits, PanelAndScreenSizes) {
    const PixelRect client = DialogUnitsToPixels({0, 0, kPanelWidthDlu, kPanelHeightDlu});
    EXPECT_EQ(client.width, 779);
    EXPECT_EQ(client.height, 536);
    const ControlSpec* screen = FindPanelControl(ctl::kScreen);
    ASSERT_NE(screen, nullptr);
    EXPECT_EQ(DialogUnitsToPixels(screen->rect), (PixelRect{11, 20, 566, 387}));
    // The frame is drawn inside a 3-pixel border on each side.
    EXPECT_EQ(566 - 2 * kScreenBorderPx, 560);
    EXPECT_EQ(387 - 2 * kScreenBorderPx, 381);
}

TEST(DialogUnits, SystemFontDialogs) {
    const PixelRect freq = DialogUnitsToPixels({71, 15, 45, 13}, kSystemBaseUnits);
    EXPECT_EQ(freq, (PixelRect{142, 30, 90, 26}));
}

TEST(PanelTemplate, IdsAreUniqueAndEveryControlLiesInsideThePanel) {
    std::set<int> ids;
    for (const ControlSpec& c : PanelControls()) {
        if (c.id != kNoId) {
            EXPECT_TRUE(ids.insert(c.id).second) << "duplicate id " << c.id;
        }
        EXPECT_GE(c.rect.x, 0) << c.id;
        EXPECT_LE(c.rect.x + c.rect.width, kPanelWidthDlu) << c.id << " " << c.caption;
        EXPECT_LE(c.rect.y + c.rect.height, kPanelHeightDlu) << c.id << " " << c.caption;
    }
    // 84 controls: 72 with ids, and 12 unnamed group boxes and texts.
    EXPECT_EQ(PanelControls().size(), 84u);
    EXPECT_EQ(ids.size(), 72u);
}

struct GroupCase {
    int group;
    std::vector<int> ids;
};

TEST(PanelTemplate, RadioGroupsHoldExactlyTheirMembers) {
    const std::vector<GroupCase> cases = {
        {kGroupScopeMode, {1006, 1007, 1008, 1009, 1024}},
        {kGroupGainX1, {1055, 1056, 1057, 1058, 1059, 1060}},
        {kGroupGainX2, {1061, 1062, 1063, 1064, 1065, 1066}},
        {kGroupAttenL, {1067, 1068, 1069, 1070, 1071}},
        {kGroupAttenR, {1048, 1049, 1050, 1051, 1052}},
        {kGroupWaveL, {1072, 1073, 1074}},
        {kGroupWaveR, {1075, 1076, 1077}},
        {kGroupMeterMode, {1037, 1038, 1039, 1040}},
    };
    for (const GroupCase& g : cases) {
        std::set<int> members;
        for (const ControlSpec& c : PanelControls()) {
            if (c.radioGroup == g.group) {
                EXPECT_EQ(c.kind, ControlKind::Radio);
                members.insert(c.id);
            }
        }
        EXPECT_EQ(members, std::set<int>(g.ids.begin(), g.ids.end())) << "group " << g.group;
    }
}

TEST(PanelTemplate, StartUpPositionsAreClampedIntoTheRange) {
    struct Case {
        int id;
        int minimum, maximum, start;
    };
    const Case cases[] = {
        {ctl::kAmpX1, 20, 80, 20},        {ctl::kAmpX2, 20, 80, 20},
        {ctl::kTimeX1, 1, 40, 4},         {ctl::kTimeX2, 1, 40, 4},
        {ctl::kOffsetX1, 1, 300, 150},    {ctl::kOffsetX2, 1, 300, 150},
        {ctl::kGridColumns, 1, 40, 10},   {ctl::kGridRows, 1, 40, 10},
        {ctl::kSliderFreqL, 0, 20000, 0}, {ctl::kSliderFreqR, 0, 20000, 0},
    };
    for (const Case& c : cases) {
        const ControlSpec* control = FindPanelControl(c.id);
        ASSERT_NE(control, nullptr);
        ASSERT_EQ(control->kind, ControlKind::Slider);
        EXPECT_EQ(control->slider.minimum, c.minimum);
        EXPECT_EQ(control->slider.maximum, c.maximum);
        EXPECT_EQ(std::clamp(control->slider.requestedPosition, c.minimum, c.maximum), c.start)
            << c.id;
    }
}

} // namespace
