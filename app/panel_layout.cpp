#include "app/panel_layout.h"

#include <QtGlobal>

#include <algorithm>
#include <array>

namespace {

using K = ControlKind;

constexpr ControlSpec Make(int id, K kind, const char* caption, DluRect r) {
    return ControlSpec{id, kind, caption, r, 0, 0, {}};
}

constexpr ControlSpec Slider(int id, DluRect r, SliderSpec s) {
    return ControlSpec{id, K::Slider, "", r, 0, 0, s};
}

// value: what checking the radio stores into the field its group stands for.
constexpr ControlSpec Radio(int id, const char* caption, DluRect r, int group, int32_t value) {
    return ControlSpec{id, K::Radio, caption, r, group, value, {}};
}

// Vertical sliders show their minimum at the top; horizontal ones at the left.
constexpr SliderSpec Vertical(SliderTicks ticks, int lo, int hi, int tick, int pos) {
    return {true, ticks, lo, hi, tick, pos};
}
constexpr SliderSpec FreqSlider() {
    return {false, SliderTicks::Below, 0, 20000, 2000, 0};
}

constexpr auto L = SliderTicks::Left;
constexpr auto R = SliderTicks::Right;

// Captions with words are marked for translation, the group boxes' under their own context, as
// they have room for longer words than the buttons of the same name; numbers, units and
// channel names read the same in every language.
const auto kControls = std::to_array<ControlSpec>({
    Make(ctl::kScreen, K::Screen, "", {7, 13, 377, 258}),
    // Gain. Every 6 dB step halves the amplitude, so the radios' values are power-of-two
    // divisors; the output attenuators below follow the same rule.
    Make(kNoId, K::GroupBox, QT_TRANSLATE_NOOP("PanelGroupBox", "增益"), {390, 0, 126, 75}),
    // The set-up asks the vertical-scale sliders for 10; they clamp it to their minimum 20.
    Slider(ctl::kAmpX1, {395, 13, 15, 55}, Vertical(L, 20, 80, 10, 10)),
    Slider(ctl::kAmpX2, {415, 13, 15, 55}, Vertical(R, 20, 80, 10, 10)),
    Radio(1055, "0dB", {445, 8, 21, 14}, kGroupGainX1, 1),
    Radio(1056, "-6dB", {467, 8, 21, 14}, kGroupGainX1, 2),
    Radio(1057, "-12dB", {489, 8, 21, 14}, kGroupGainX1, 4),
    Radio(1058, "-18dB", {445, 22, 21, 14}, kGroupGainX1, 8),
    Radio(1059, "-24dB", {467, 22, 21, 14}, kGroupGainX1, 16),
    Radio(1060, "-30dB", {489, 22, 21, 14}, kGroupGainX1, 32),
    Radio(1061, "0dB", {445, 40, 21, 14}, kGroupGainX2, 1),
    Radio(1062, "-6dB", {467, 40, 21, 14}, kGroupGainX2, 2),
    Radio(1063, "-12dB", {489, 40, 21, 14}, kGroupGainX2, 4),
    Radio(1064, "-18dB", {445, 54, 21, 14}, kGroupGainX2, 8),
    Radio(1065, "-24dB", {467, 54, 21, 14}, kGroupGainX2, 16),
    Radio(1066, "-30dB", {489, 54, 21, 14}, kGroupGainX2, 32),
    // Baseline and time base
    Make(kNoId, K::GroupBox, QT_TRANSLATE_NOOP("PanelGroupBox", "基准线"), {389, 75, 48, 62}),
    Slider(ctl::kOffsetX1, {395, 85, 15, 48}, Vertical(L, 1, 300, 30, 150)),
    Slider(ctl::kOffsetX2, {415, 85, 15, 48}, Vertical(R, 1, 300, 30, 150)),
    Make(kNoId, K::GroupBox, QT_TRANSLATE_NOOP("PanelGroupBox", "时基"), {440, 75, 48, 62}),
    Slider(ctl::kTimeX1, {448, 85, 15, 48}, Vertical(L, 1, 40, 4, 4)),
    Slider(ctl::kTimeX2, {469, 85, 15, 48}, Vertical(R, 1, 40, 4, 4)),
    // Sync
    Make(1022, K::GroupBox, QT_TRANSLATE_NOOP("PanelGroupBox", "同步"), {488, 75, 28, 62}),
    Make(ctl::kSyncX1, K::Toggle, "X1", {493, 90, 17, 15}),
    Make(ctl::kSyncX2, K::Toggle, "X2", {493, 114, 17, 15}),
    // Grid lines
    Make(kNoId, K::GroupBox, QT_TRANSLATE_NOOP("PanelGroupBox", "网格线"), {390, 140, 40, 56}),
    Slider(ctl::kGridColumns, {397, 155, 10, 36}, Vertical(L, 1, 40, 5, 10)),
    Slider(ctl::kGridRows, {413, 155, 10, 36}, Vertical(R, 1, 40, 5, 10)),
    // Frequency meter
    Make(kNoId, K::GroupBox, QT_TRANSLATE_NOOP("PanelGroupBox", "频率计"), {430, 140, 85, 56}),
    Make(kNoId, K::Text, QT_TRANSLATE_NOOP("CInstrumentDlg", "X1频率"), {436, 156, 24, 12}),
    Make(kNoId, K::Text, QT_TRANSLATE_NOOP("CInstrumentDlg", "X2频率"), {436, 177, 24, 12}),
    Make(ctl::kReadoutX1, K::Readout, "", {462, 150, 47, 17}),
    Make(ctl::kReadoutX2, K::Readout, "", {462, 172, 47, 17}),
    // Signal generator, L channel
    Make(kNoId, K::GroupBox, QT_TRANSLATE_NOOP("PanelGroupBox", "信号发生器"),
         {390, 200, 126, 117}),
    Make(ctl::kReadoutL, K::Readout, "", {429, 210, 55, 21}),
    Make(ctl::kFreqL, K::Button, QT_TRANSLATE_NOOP("CInstrumentDlg", "L频率"), {400, 213, 23, 17}),
    Slider(ctl::kSliderFreqL, {400, 234, 86, 12}, FreqSlider()),
    Radio(1067, "0dB", {400, 247, 21, 14}, kGroupAttenL, 1),
    Radio(1068, "-6dB", {422, 247, 21, 14}, kGroupAttenL, 2),
    Radio(1069, "-12dB", {444, 247, 21, 14}, kGroupAttenL, 4),
    Radio(1070, "-18dB", {466, 247, 21, 14}, kGroupAttenL, 8),
    Radio(1071, "-24dB", {488, 247, 21, 14}, kGroupAttenL, 16),
    Radio(1072, QT_TRANSLATE_NOOP("CInstrumentDlg", "正弦"), {489, 210, 21, 12}, kGroupWaveL, 0),
    Radio(1073, QT_TRANSLATE_NOOP("CInstrumentDlg", "三角"), {489, 222, 21, 12}, kGroupWaveL, 1),
    Radio(1074, QT_TRANSLATE_NOOP("CInstrumentDlg", "方波"), {489, 234, 21, 12}, kGroupWaveL, 2),
    // Signal generator, R channel
    Make(ctl::kReadoutR, K::Readout, "", {429, 263, 55, 21}),
    Make(ctl::kFreqR, K::Button, QT_TRANSLATE_NOOP("CInstrumentDlg", "R频率"), {400, 265, 23, 17}),
    Slider(ctl::kSliderFreqR, {400, 285, 86, 12}, FreqSlider()),
    Radio(1048, "0dB", {400, 299, 21, 14}, kGroupAttenR, 1),
    Radio(1049, "-6dB", {422, 299, 21, 14}, kGroupAttenR, 2),
    Radio(1050, "-12dB", {444, 299, 21, 14}, kGroupAttenR, 4),
    Radio(1051, "-18dB", {466, 299, 21, 14}, kGroupAttenR, 8),
    Radio(1052, "-24dB", {488, 299, 21, 14}, kGroupAttenR, 16),
    Radio(1075, QT_TRANSLATE_NOOP("CInstrumentDlg", "正弦"), {489, 263, 21, 12}, kGroupWaveR, 0),
    Radio(1076, QT_TRANSLATE_NOOP("CInstrumentDlg", "三角"), {489, 275, 21, 12}, kGroupWaveR, 1),
    Radio(1077, QT_TRANSLATE_NOOP("CInstrumentDlg", "方波"), {489, 287, 21, 12}, kGroupWaveR, 2),
    // Power switches
    Make(kNoId, K::GroupBox, QT_TRANSLATE_NOOP("PanelGroupBox", "电源开关"), {390, 320, 126, 37}),
    Make(ctl::kMeterOn, K::Toggle, QT_TRANSLATE_NOOP("CInstrumentDlg", "万用表"),
         {394, 331, 36, 20}),
    Make(ctl::kFreqMeterOn, K::Toggle, QT_TRANSLATE_NOOP("CInstrumentDlg", "频率计"),
         {434, 331, 36, 20}),
    Make(ctl::kSourceSwitch, K::Toggle, QT_TRANSLATE_NOOP("CInstrumentDlg", "信号源"),
         {474, 331, 36, 20}),
    // Colour choice
    Make(kNoId, K::GroupBox, QT_TRANSLATE_NOOP("PanelGroupBox", "颜色选择"), {7, 274, 45, 62}),
    Make(ctl::kColorX1, K::Button, QT_TRANSLATE_NOOP("CInstrumentDlg", "X1线"), {17, 288, 25, 11}),
    Make(ctl::kColorX2, K::Button, QT_TRANSLATE_NOOP("CInstrumentDlg", "X2线"), {17, 299, 25, 11}),
    Make(ctl::kColorGrid, K::Button, QT_TRANSLATE_NOOP("CInstrumentDlg", "网格"),
         {17, 310, 25, 11}),
    Make(ctl::kColorBack, K::Button, QT_TRANSLATE_NOOP("CInstrumentDlg", "背景"),
         {17, 321, 25, 11}),
    // Oscilloscope mode, recording, pause, save screen
    Make(1012, K::GroupBox, QT_TRANSLATE_NOOP("PanelGroupBox", "示波器工作方式"),
         {55, 273, 141, 37}),
    Radio(ctl::kModeX, "X", {61, 285, 26, 19}, kGroupScopeMode, 1),
    Radio(ctl::kModeX1X2, "X1,X2", {87, 285, 26, 19}, kGroupScopeMode, 2),
    Radio(ctl::kModeSum, "X1+X2", {113, 285, 26, 19}, kGroupScopeMode, 3),
    Radio(ctl::kModeXY, "X-Y", {139, 285, 26, 19}, kGroupScopeMode, 4),
    Make(ctl::kRecord, K::Toggle, "RECORD", {57, 313, 38, 19}),
    Make(ctl::kPause, K::Toggle, "PAUSE", {94, 313, 38, 19}),
    Make(ctl::kSaveScreen, K::Toggle, QT_TRANSLATE_NOOP("CInstrumentDlg", "保存屏幕"),
         {131, 313, 38, 19}),
    // Later in the tab order, yet one of the mode radios.
    Radio(ctl::kModeSpectrum, QT_TRANSLATE_NOOP("CInstrumentDlg", "频域"), {165, 285, 26, 19},
          kGroupScopeMode, 5),
    // Multimeter
    Make(kNoId, K::GroupBox, QT_TRANSLATE_NOOP("PanelGroupBox", "万用表"), {237, 274, 148, 68}),
    Make(ctl::kReadoutMeter, K::Readout, "", {245, 288, 98, 32}),
    Radio(ctl::kMeterR, "R", {345, 288, 31, 14}, kGroupMeterMode, 1),
    Radio(ctl::kMeterC, "C", {345, 305, 31, 14}, kGroupMeterMode, 2),
    Radio(ctl::kMeterL, "L", {345, 322, 31, 14}, kGroupMeterMode, 3),
    Radio(ctl::kMeterV, "V(AC)", {311, 323, 31, 14}, kGroupMeterMode, 4),
    Make(ctl::kSetReference, K::Button, QT_TRANSLATE_NOOP("CInstrumentDlg", "设置基准值"),
         {245, 323, 56, 14}),
    // Logo, sponsor caption, footer
    Make(ctl::kLogo, K::Logo, "", {200, 276, 35, 35}),
    Make(ctl::kLink, K::Link, "Brenmark", {194, 317, 40, 11}),
    Make(kNoId, K::Text, QT_TRANSLATE_NOOP("CInstrumentDlg", "Tavrin 0.94    Tavrin 开发组 制作"),
         {51, 339, 185, 13}),
});

constexpr auto kCheckedAtStart =
    std::to_array<int>({ctl::kModeX, ctl::kGainX1_0, ctl::kGainX2_0, ctl::kAttenL0, ctl::kAttenR0,
                        ctl::kWaveL0, ctl::kWaveR0});

} // namespace

std::span<const ControlSpec> PanelControls() {
    return kControls;
}

const ControlSpec* FindPanelControl(int id) {
    if (id == kNoId) {
        return nullptr;
    }
    const auto controls = PanelControls();
    const auto it = std::find_if(controls.begin(), controls.end(),
                                 [id](const ControlSpec& c) { return c.id == id; });
    return it == controls.end() ? nullptr : &*it;
}

std::span<const int> InitiallyCheckedRadios() {
    return kCheckedAtStart;
}
