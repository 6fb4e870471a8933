// The setup dialog at the scale of the monitor it is on. The template is in dialog
// units, which follow the font; what does not follow by itself (the banner, the step
// marks, the window's icons) is made for the dialog's DPI, and when the dialog moves to
// a monitor with another scale the whole template is laid out again for it.
#pragma once

#include <windows.h>

// 96: the DPI at which one pixel is one pixel at 100 % display scale.
inline constexpr UINT kBaseDpi = 96;

// The DPI the window is drawn at: the monitor's where Windows tells it per window
// (Windows 10 1607 and later), else the system's.
UINT WindowDpi(HWND window);

// A size given in pixels at 100 % for dpi, rounded to the nearest pixel.
int ScaledPixels(int pixelsAt100, UINT dpi);

// Lays dialog out for dpi from its template (resource templateId of this executable):
// the template's font made for dpi, given to every control, every control at its
// template rectangle in the dialog units of that font, and the window sized for it.
// The window keeps its centre, or moves to suggested (the rectangle WM_DPICHANGED
// suggests) when that is given. False when the template cannot be read.
bool LayOutForDpi(HWND dialog, int templateId, UINT dpi, const RECT* suggested);

// The window size LayOutForDpi gives dialog at dpi, into size (WM_GETDPISCALEDSIZE: Windows
// then moves the window to a monitor at that size, not at a size scaled in proportion).
// False when the template cannot be read.
bool WindowSizeForDpi(HWND dialog, int templateId, UINT dpi, SIZE* size);
