// Sizes for the screen a window is on. The window program declares itself aware of each
// monitor's DPI, so the system no longer stretches its bitmap: every length the windows are laid
// out in is given for 96 DPI (100 %) and scaled here, fonts included. The functions that tell a
// window's or a monitor's DPI came with Windows 8.1 and 10; they are looked up at run time, and
// on older systems the system's one DPI holds for every window.
#pragma once

#include <windows.h>

namespace win32dpi {

// The DPI that the windows' lengths are given for.
constexpr UINT kDesignDpi = 96;

// A length for 96 DPI at dpi, rounded to the nearest pixel (negative lengths alike).
inline int Scale(int length, UINT dpi)
{
    return MulDiv(length, static_cast<int>(dpi), static_cast<int>(kDesignDpi));
}

// The DPI of the monitor the window is on, or the system's.
UINT WindowDpi(HWND window);
// The DPI that the system started the session with (the primary monitor's).
UINT SystemDpi();
// The font the system uses for message boxes and dialogs, as the user has set it, at dpi.
LOGFONTW DialogFont(UINT dpi);
// One of the system's icons (IDI_WARNING, ...) drawn at size x size pixels, for the caller to
// destroy.
HICON SystemIcon(const wchar_t* name, int size);
// The outer size of a window whose client area is client, at dpi.
void AdjustWindowRectForDpi(RECT& client, DWORD style, DWORD exStyle, UINT dpi);

} // namespace win32dpi
