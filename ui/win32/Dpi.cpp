#include "ui/win32/Dpi.h"

namespace win32dpi {

namespace {

// A function of a system DLL that older systems lack; nullptr there.
template <class Function> Function SystemFunction(const wchar_t* dll, const char* name)
{
    HMODULE module = GetModuleHandleW(dll);
    if (module == nullptr)
        module = LoadLibraryExW(dll, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (module == nullptr)
        return nullptr;
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

using GetDpiForWindowFunction = UINT(WINAPI*)(HWND);
using GetDpiForMonitorFunction = HRESULT(WINAPI*)(HMONITOR, int, UINT*, UINT*);
using SystemParametersInfoForDpiFunction = BOOL(WINAPI*)(UINT, UINT, PVOID, UINT, UINT);
using AdjustWindowRectExForDpiFunction = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);
using LoadIconWithScaleDownFunction = HRESULT(WINAPI*)(HINSTANCE, PCWSTR, int, int, HICON*);

} // namespace

UINT SystemDpi()
{
    HDC screen = GetDC(nullptr);
    const int dpi = screen != nullptr ? GetDeviceCaps(screen, LOGPIXELSY) : 0;
    if (screen != nullptr)
        ReleaseDC(nullptr, screen);
    return dpi > 0 ? static_cast<UINT>(dpi) : kDesignDpi;
}

UINT WindowDpi(HWND window)
{
    // Windows 10 1607 and later.
    static const auto forWindow =
        SystemFunction<GetDpiForWindowFunction>(L"user32.dll", "GetDpiForWindow");
    if (forWindow != nullptr && window != nullptr)
        if (const UINT dpi = forWindow(window); dpi != 0)
            return dpi;
    // Windows 8.1: the DPI of the window's monitor.
    static const auto forMonitor =
        SystemFunction<GetDpiForMonitorFunction>(L"shcore.dll", "GetDpiForMonitor");
    if (forMonitor != nullptr && window != nullptr) {
        UINT x = 0, y = 0;
        constexpr int kEffectiveDpi = 0; // MDT_EFFECTIVE_DPI
        if (SUCCEEDED(forMonitor(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), kEffectiveDpi,
                                 &x, &y)) &&
            y != 0)
            return y;
    }
    return SystemDpi();
}

LOGFONTW DialogFont(UINT dpi)
{
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    static const auto forDpi = SystemFunction<SystemParametersInfoForDpiFunction>(
        L"user32.dll", "SystemParametersInfoForDpi");
    if (forDpi != nullptr && forDpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0, dpi))
        return metrics.lfMessageFont;
    // The font as the system gives it is sized for the system's DPI.
    if (SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)) {
        metrics.lfMessageFont.lfHeight = MulDiv(
            metrics.lfMessageFont.lfHeight, static_cast<int>(dpi), static_cast<int>(SystemDpi()));
        return metrics.lfMessageFont;
    }
    LOGFONTW font{};
    GetObjectW(GetStockObject(DEFAULT_GUI_FONT), sizeof font, &font);
    return font;
}

HICON SystemIcon(const wchar_t* name, int size)
{
    // Drawn for the size from the icon's largest picture (Windows Vista and later) rather
    // than stretched from the one of the standard size.
    static const auto scaledDown =
        SystemFunction<LoadIconWithScaleDownFunction>(L"comctl32.dll", "LoadIconWithScaleDown");
    HICON icon = nullptr;
    if (scaledDown != nullptr && SUCCEEDED(scaledDown(nullptr, name, size, size, &icon)))
        return icon;
    return static_cast<HICON>(CopyImage(LoadIconW(nullptr, name), IMAGE_ICON, size, size, 0));
}

void AdjustWindowRectForDpi(RECT& client, DWORD style, DWORD exStyle, UINT dpi)
{
    static const auto forDpi =
        SystemFunction<AdjustWindowRectExForDpiFunction>(L"user32.dll", "AdjustWindowRectExForDpi");
    if (forDpi == nullptr || !forDpi(&client, style, FALSE, exStyle, dpi))
        AdjustWindowRectEx(&client, style, FALSE, exStyle);
}

} // namespace win32dpi
