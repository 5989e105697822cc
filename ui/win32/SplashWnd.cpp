#include "ui/win32/SplashWnd.h"

#include "app/MainWndTexts.h"
#include "app/Version.h"
#include "ui/win32/Win32Controls.h"

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

LOGFONTW DialogFont()
{
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
    return metrics.lfMessageFont;
}

HWND Label(HWND parent, DWORD align, HFONT font, int left, int top, int width, int height)
{
    // Labels never take an ampersand for an accelerator mark: a plug-in's name may hold one.
    HWND label = CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE | SS_NOPREFIX | align,
                                 kFrame + left, kFrame + top, width, height, parent, nullptr,
                                 Instance(), nullptr);
    SendMessageW(label, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    return label;
}

} // namespace

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
    imgSplash = static_cast<HBITMAP>(LoadImageW(Instance(), L"SPLASH", IMAGE_BITMAP, 0, 0, 0));
    if (imgSplash != nullptr)
        FPictureBrush = CreatePatternBrush(imgSplash);

    LOGFONTW dialog = DialogFont();
    FFont = CreateFontIndirectW(&dialog);
    // The status in the dialog font's face (it has the Japanese glyphs), red, bold, 16 pixels.
    dialog.lfHeight = -16;
    dialog.lfWeight = FW_BOLD;
    FStatusFont = CreateFontIndirectW(&dialog);
    FVersionFont = Font(L"Arial", 16, true, true);

    // Centred on the working area of the screen.
    RECT work{};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    const int left = work.left + (work.right - work.left - kWidth) / 2;
    const int top = work.top + (work.bottom - work.top - kHeight) / 2;
    FHandle = CreateWindowExW(WS_EX_TOOLWINDOW, kSplashClass, L"Pellan Decoder", WS_POPUP, left,
                              top, kWidth, kHeight, owner, nullptr, Instance(), this);
    lblStatus = Label(FHandle, SS_CENTER | SS_CENTERIMAGE, FStatusFont, 12, 200, 416, 20);
    lblCredit = Label(FHandle, SS_LEFT, FFont, 4, 322, 279, 14);
    SetWindowTextOf(lblCredit, wndtext::kSplashCredit);
    lblVersion = Label(FHandle, SS_RIGHT, FVersionFont, 444 - 300, 318, 300, 18);
    FrameResize();
    ShowWindow(FHandle, SW_SHOWNOACTIVATE);
    UpdateWindow(FHandle);
}

TfrmSplash::~TfrmSplash()
{
    for (HGDIOBJ object : {static_cast<HGDIOBJ>(FPictureBrush), static_cast<HGDIOBJ>(imgSplash),
                           static_cast<HGDIOBJ>(FFont), static_cast<HGDIOBJ>(FStatusFont),
                           static_cast<HGDIOBJ>(FVersionFont)})
        if (object != nullptr)
            DeleteObject(object);
}

void TfrmSplash::FrameResize()
{
    SetWindowTextW(lblStatus, L"");
    SetWindowTextOf(lblVersion, wndtext::VersionLabel(FileVersionText()));
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
        RECT bevel{0, 0, kWidth, kHeight};
        DrawEdge(dc, &bevel, EDGE_RAISED, BF_RECT | BF_MIDDLE);
        if (FPictureBrush != nullptr) {
            RECT picture{kFrame, kFrame, kFrame + 448, kFrame + 336};
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
