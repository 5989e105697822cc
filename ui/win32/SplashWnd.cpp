#include "ui/win32/SplashWnd.h"

#include "app/MainWndTexts.h"
#include "app/Version.h"
#include "ui/win32/Dpi.h"
#include "ui/win32/Win32Controls.h"

#include <algorithm>

namespace {

constexpr const wchar_t* kSplashClass = L"PellanDecodeSplash";
// The frame sits inside a raised bevel 2 pixels wide.
constexpr int kFrame = 2;

HINSTANCE Instance()
{
    return GetModuleHandleW(nullptr);
}

HFONT Font(const wchar_t* face, int pixels, bool bold, bool italic)
{
    LOGFONTW font{};
    font.lfHeight = -pixels;
    font.lfWeight = bold ? FW_BOLD : FW_NORMAL;
    font.lfItalic = italic;
    font.lfCharSet = DEFAULT_CHARSET;
    lstrcpynW(font.lfFaceName, face, LF_FACESIZE);
    return CreateFontIndirectW(&font);
}

// The picture stretched to width x height, smoothed; nullptr where that fails.
HBITMAP ScaledPicture(HBITMAP picture, int width, int height)
{
    HDC screen = GetDC(nullptr);
    HDC from = CreateCompatibleDC(screen);
    HDC to = CreateCompatibleDC(screen);
    HBITMAP scaled = CreateCompatibleBitmap(screen, width, height);
    if (scaled != nullptr) {
        const HGDIOBJ oldFrom = SelectObject(from, picture);
        const HGDIOBJ oldTo = SelectObject(to, scaled);
        SetStretchBltMode(to, HALFTONE);
        SetBrushOrgEx(to, 0, 0, nullptr);
        BITMAP size{};
        GetObjectW(picture, sizeof size, &size);
        StretchBlt(to, 0, 0, width, height, from, 0, 0, size.bmWidth, size.bmHeight, SRCCOPY);
        SelectObject(from, oldFrom);
        SelectObject(to, oldTo);
    }
    DeleteDC(from);
    DeleteDC(to);
    ReleaseDC(nullptr, screen);
    return scaled;
}

} // namespace

HWND TfrmSplash::Label(DWORD align, HFONT font, int left, int top, int width, int height)
{
    // Labels never take an ampersand for an accelerator mark: a plug-in's name may hold one.
    const auto scaled = [this](int length) { return win32dpi::Scale(length, FDpi); };
    HWND label = CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE | SS_NOPREFIX | align,
                                 kFrame + scaled(left), kFrame + scaled(top), scaled(width),
                                 scaled(height), FHandle, nullptr, Instance(), nullptr);
    SendMessageW(label, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    return label;
}

TfrmSplash::TfrmSplash(HWND owner)
{
    static bool registered = false;
    if (!registered) {
        registered = true;
        WNDCLASSEXW splash{};
        splash.cbSize = sizeof splash;
        splash.lpfnWndProc = WindowProc;
        splash.hInstance = Instance();
        splash.hCursor = LoadCursorW(nullptr, IDC_APPSTARTING);
        splash.lpszClassName = kSplashClass;
        RegisterClassExW(&splash);
    }
    // Shown before the main window, on the primary monitor: sized for the system's DPI.
    FDpi = win32dpi::SystemDpi();
    const int pictureWidth = win32dpi::Scale(kPictureWidth, FDpi);
    const int pictureHeight = win32dpi::Scale(kPictureHeight, FDpi);
    imgSplash = static_cast<HBITMAP>(LoadImageW(Instance(), L"SPLASH", IMAGE_BITMAP, 0, 0, 0));
    if (imgSplash != nullptr && FDpi != win32dpi::kDesignDpi)
        FScaledPicture = ScaledPicture(imgSplash, pictureWidth, pictureHeight);
    if (imgSplash != nullptr)
        FPictureBrush = CreatePatternBrush(FScaledPicture != nullptr ? FScaledPicture : imgSplash);

    LOGFONTW dialog = win32dpi::DialogFont(FDpi);
    FFont = CreateFontIndirectW(&dialog);
    // The status in the dialog font's face (it has the Japanese glyphs), red, bold, 16 pixels.
    dialog.lfHeight = -win32dpi::Scale(16, FDpi);
    dialog.lfWeight = FW_BOLD;
    FStatusFont = CreateFontIndirectW(&dialog);
    FVersionFont = Font(L"Arial", win32dpi::Scale(16, FDpi), true, true);

    // Centred on the working area of the screen.
    const int width = pictureWidth + 2 * kFrame, height = pictureHeight + 2 * kFrame;
    RECT work{};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    const int left = work.left + (work.right - work.left - width) / 2;
    const int top = work.top + (work.bottom - work.top - height) / 2;
    FHandle = CreateWindowExW(WS_EX_TOOLWINDOW, kSplashClass, L"Pellan Decoder", WS_POPUP, left,
                              top, width, height, owner, nullptr, Instance(), this);
    lblStatus = Label(SS_CENTER | SS_CENTERIMAGE, FStatusFont, 12, 200, 416, 20);
    lblCredit = Label(SS_LEFT, FFont, 4, 322, 279, 14);
    SetWindowTextOf(lblCredit, wndtext::kSplashCredit);
    lblVersion = Label(SS_RIGHT, FVersionFont, 444 - 300, 318, 300, 18);
    FrameResize();
    ShowWindow(FHandle, SW_SHOWNOACTIVATE);
    UpdateWindow(FHandle);
}

TfrmSplash::~TfrmSplash()
{
    for (HGDIOBJ object : {static_cast<HGDIOBJ>(FPictureBrush), static_cast<HGDIOBJ>(imgSplash),
                           static_cast<HGDIOBJ>(FScaledPicture), static_cast<HGDIOBJ>(FFont),
                           static_cast<HGDIOBJ>(FStatusFont), static_cast<HGDIOBJ>(FVersionFont)})
        if (object != nullptr)
            DeleteObject(object);
}

void TfrmSplash::FrameResize()
{
    SetWindowTextW(lblStatus, L"");
    const std::wstring version = Wide(wndtext::VersionLabel(FileVersionText()));
    SetWindowTextW(lblVersion, version.c_str());
    // As wide as its text, its right edge kept in place: a label paints the picture behind its
    // whole width, which would hide the credit line's end.
    RECT place{};
    GetWindowRect(lblVersion, &place);
    MapWindowPoints(nullptr, FHandle, reinterpret_cast<POINT*>(&place), 2);
    SIZE text{};
    if (HDC dc = GetDC(lblVersion)) {
        const HGDIOBJ old = SelectObject(dc, FVersionFont);
        GetTextExtentPoint32W(dc, version.c_str(), static_cast<int>(version.size()), &text);
        SelectObject(dc, old);
        ReleaseDC(lblVersion, dc);
    }
    const int width = std::min<int>(text.cx + win32dpi::Scale(4, FDpi), place.right - place.left);
    MoveWindow(lblVersion, place.right - width, place.top, width, place.bottom - place.top, TRUE);
}

void TfrmSplash::SetStatus(const std::string& text)
{
    SetWindowTextOf(lblStatus, text);
    // The label paints the picture behind its text, so the previous text goes with it.
    UpdateWindow(lblStatus);
}

void TfrmSplash::Release()
{
    FReleased = true;
    if (FHandle == nullptr) {
        delete this; // never became a window, so no message loop will free it
        return;
    }
    ShowWindow(FHandle, SW_HIDE);
    PostMessageW(FHandle, WM_CLOSE, 0, 0);
}

LRESULT CALLBACK TfrmSplash::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE) {
        auto* self =
            static_cast<TfrmSplash*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        self->FHandle = window;
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<TfrmSplash*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self == nullptr)
        return DefWindowProcW(window, message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        delete self;
        return DefWindowProcW(window, message, wParam, lParam);
    }
    return self->HandleMessage(message, wParam, lParam);
}

LRESULT TfrmSplash::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_PAINT: {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(FHandle, &paint);
        RECT bevel{};
        GetClientRect(FHandle, &bevel);
        DrawEdge(dc, &bevel, EDGE_RAISED, BF_RECT | BF_MIDDLE);
        if (FPictureBrush != nullptr) {
            RECT picture{kFrame, kFrame, bevel.right - kFrame, bevel.bottom - kFrame};
            SetBrushOrgEx(dc, kFrame, kFrame, nullptr);
            FillRect(dc, &picture, FPictureBrush);
        }
        EndPaint(FHandle, &paint);
        return 0;
    }
    case WM_CTLCOLORSTATIC: {
        // Each label shows the picture behind its text.
        const auto dc = reinterpret_cast<HDC>(wParam);
        const auto label = reinterpret_cast<HWND>(lParam);
        POINT at{0, 0};
        MapWindowPoints(label, FHandle, &at, 1);
        SetBrushOrgEx(dc, kFrame - at.x, kFrame - at.y, nullptr);
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, label == lblStatus    ? RGB(255, 0, 0)
                         : label == lblVersion ? RGB(255, 255, 255)
                                               : RGB(0xd8, 0xdc, 0xf0));
        return reinterpret_cast<LRESULT>(
            FPictureBrush != nullptr ? FPictureBrush : GetSysColorBrush(COLOR_BTNFACE));
    }
    case WM_CLOSE:
        if (!FReleased)
            return 0;
        return DefWindowProcW(FHandle, message, wParam, lParam);
    case WM_MOUSEACTIVATE:
        return MA_NOACTIVATE; // it takes no input
    default:
        return DefWindowProcW(FHandle, message, wParam, lParam);
    }
}
