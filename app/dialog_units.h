#pragma once
// Dialog units, the unit the dialog templates are written in, and their conversion to pixels.
// Plain arithmetic; any thread.

class QRect;

// Rectangle in dialog units of the template's own font (not pixels).
struct DluRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

// Rectangle in device pixels.
struct PixelRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    bool operator==(const PixelRect&) const = default;
};

// Horizontal and vertical dialog base units of a template font, in pixels at 96 dpi.
struct DialogBaseUnits {
    int x = 6;
    int y = 12;
};

// The panel's and the About box's 9 pt CJK font.
inline constexpr DialogBaseUnits kPanelBaseUnits{6, 12};
// The entry dialogs' "System" 10 pt font: the 8 x 16 system font.
inline constexpr DialogBaseUnits kSystemBaseUnits{8, 16};

// a * b / c rounded half away from zero, as the platform's MulDiv does; c must not be 0.
int MulDiv(int a, int b, int c);

// Dialog units to pixels: MulDiv(x, base.x, 4) and MulDiv(y, base.y, 8) for each of x, y,
// width and height separately (so a right edge may differ from x_px + width_px by one).
PixelRect DialogUnitsToPixels(const DluRect& r, DialogBaseUnits base = kPanelBaseUnits);
// The same, as the widget geometry Qt takes.
QRect DialogUnitsToRect(const DluRect& r, DialogBaseUnits base);
