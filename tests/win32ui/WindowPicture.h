// A picture of a window as it stands on the screen, saved as a PNG file.
#pragma once

#include <windows.h>

#include <string>

// Copies window's area of the screen (frame included) and writes it to path; false when that
// failed.
bool SaveWindowPicture(HWND window, const std::wstring& path);
