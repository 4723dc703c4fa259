#pragma once
// The panel's dialog template as data: every control with its kind, caption, rectangle in
// dialog units and radio group, plus the slider set-up. The panel builds its widgets from
// this table; tests read it to check the start-up state without knowing the widget tree.
// Plain data, any thread.

#include "app/dialog_units.h"

#include <cstdint>
#include <span>

enum class ControlKind {
    Screen,   // the oscilloscope's sunken static
    GroupBox, // a captioned frame; decoration only
    Text,     // a static text
    Slider,   // a track bar
    Radio,    // a push-like radio of an exclusive group
    Toggle,   // a push-like check box
    Button,   // a flat push button
    Readout,  // a seven-segment digit display
    Logo,     // the static bitmap beside the sponsor caption
    Link,     // the sponsor caption that opens a web address
};

enum class SliderTicks { None, Left, Right, Below };

struct SliderSpec {
    bool vertical = true;
    SliderTicks ticks = SliderTicks::None;
    int minimum = 0;
    int maximum = 0;
    int tickInterval = 0;
    // The position the set-up asks for; the slider clamps it into [minimum, maximum].
    int requestedPosition = 0;
};

inline constexpr int kNoId = -1;

struct ControlSpec {
    int id = kNoId;
    ControlKind kind = ControlKind::Text;
    const char* caption = ""; // UTF-8, the source text; the panel shows its translation
    DluRect rect;
    int radioGroup = 0;     // 0: not a radio; radios sharing a number exclude each other
    int32_t radioValue = 0; // Radio only: what checking it stores into its group's field
    SliderSpec slider;      // Slider only
};

// Radio groups of the panel; each stands for the one field its radios' values go into.
enum RadioGroup : int {
    kGroupScopeMode = 1,
    kGroupGainX1,
    kGroupGainX2,
    kGroupAttenL,
    kGroupAttenR,
    kGroupWaveL,
    kGroupWaveR,
    kGroupMeterMode,
};

// Panel template size in dialog units, and its client area in pixels (779 x 536).
inline constexpr int kPanelWidthDlu = 519;
inline constexpr int kPanelHeightDlu = 357;
inline constexpr const char* kPanelCaption = "Tavrin 0.94";
// Point size of the font the captions are drawn with (kUiFontFamily).
inline constexpr int kPanelFontPointSize = 9;
// Border of the screen control, in pixels on each side; the frame is drawn inside it.
inline constexpr int kScreenBorderPx = 3;

// All controls of the panel template, in tab order.
std::span<const ControlSpec> PanelControls();
// The entry of control id, or nullptr (kNoId is never found).
const ControlSpec* FindPanelControl(int id);

// Radios checked at start-up; every other radio and every toggle starts unchecked.
std::span<const int> InitiallyCheckedRadios();

// Control ids the code refers to by name.
namespace ctl {
inline constexpr int kAmpX1 = 1000, kFreqMeterOn = 1001, kTimeX1 = 1002, kAmpX2 = 1003;
inline constexpr int kTimeX2 = 1004, kSourceSwitch = 1005;
inline constexpr int kModeX = 1006, kModeX1X2 = 1007, kModeSum = 1008, kModeXY = 1009;
inline constexpr int kOffsetX2 = 1013, kOffsetX1 = 1014;
inline constexpr int kColorX1 = 1015, kColorX2 = 1016, kGridColumns = 1017, kGridRows = 1018;
inline constexpr int kMeterOn = 1019, kColorGrid = 1020, kSetReference = 1021;
inline constexpr int kColorBack = 1023, kModeSpectrum = 1024, kScreen = 1025;
inline constexpr int kRecord = 1026, kPause = 1027;
inline constexpr int kReadoutX1 = 1028, kReadoutX2 = 1029, kReadoutL = 1030, kReadoutR = 1031;
inline constexpr int kSaveScreen = 1032, kFreqL = 1033, kFreqR = 1034, kReadoutMeter = 1036;
inline constexpr int kMeterR = 1037, kMeterC = 1038, kMeterL = 1039, kMeterV = 1040;
inline constexpr int kLink = 1041, kLogo = 1042;
inline constexpr int kAttenR0 = 1048, kSliderFreqL = 1053, kSliderFreqR = 1054;
inline constexpr int kGainX1_0 = 1055, kGainX2_0 = 1061, kAttenL0 = 1067;
inline constexpr int kWaveL0 = 1072, kWaveR0 = 1075, kSyncX1 = 1078, kSyncX2 = 1079;
} // namespace ctl
