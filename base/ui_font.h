#pragma once
// The one font family of the program: the panel's and the About box's captions and the labels
// drawn on the oscilloscope frame. It carries the Chinese captions.

inline constexpr const char* kUiFontFamily = "WenQuanYi Micro Hei";
