// What the Win32 window takes from the system's drawing and display services: icons from the
// form's ICO bytes, the interface font at a DPI, the DPI and work area a window is shown on, and
// the measure of a text.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "runtime/frontends/window_placement.h"

namespace rt::win32ui {

// An icon from the form's ICO bytes: 32-bit pixels with their alpha; null where they are not one.
HICON MakeIcon(const std::vector<uint8_t> &ico);

// The interface font at `pixels` design pixels (12 for the form's layout), scaled to a DPI, from a
// face that holds Chinese where one is installed.
HFONT MakeFont(UINT dpi, int pixels);

// The DPI a window is drawn at: its monitor's where the system says it per window (Windows 10 1607
// on), otherwise the system's own (Windows 7 and 8 scale every monitor alike).
UINT DpiOf(HWND w);

// The work area (the monitor without its taskbars) of the monitor nearest to a point.
PixelRect WorkAreaAt(POINT at);

// How wide a text is drawn in a font, in device pixels.
int TextWidth(HFONT font, const std::wstring &text);

std::wstring WindowText(HWND w);

} // namespace rt::win32ui
