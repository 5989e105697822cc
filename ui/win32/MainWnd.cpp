// The window's life and its messages; its controls' notifications go to their adapters.
#include "ui/win32/MainWnd.h"

#include "app/MainWndTexts.h"
#include "ui/win32/Dpi.h"
#include "ui/win32/SplashWnd.h"
#include "ui/win32/Win32Controls.h"
#include "ui/win32/Win32MainThreadLoop.h"

#include <uxtheme.h>
#include <vssym32.h>
#include <windowsx.h>

#include <algorithm>
#include <stdexcept>
#include <string>

namespace {

constexpr const wchar_t* kMainClass = L"PellanDecodeMainWindow";
constexpr const wchar_t* kPageClass = L"PellanDecodePage";

HINSTANCE Instance()
{
    return GetModuleHandleW(nullptr);
}

void RegisterClasses(WNDPROC windowProc, WNDPROC pageProc)
{
    static bool registered = false;
    if (registered)
        return;
    registered = true;
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_TAB_CLASSES | ICC_LISTVIEW_CLASSES |
                                                       ICC_PROGRESS_CLASS | ICC_UPDOWN_CLASS |
                                                       ICC_LINK_CLASS | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);

    WNDCLASSEXW main{};
    main.cbSize = sizeof main;
    main.lpfnWndProc = windowProc;
    main.hInstance = Instance();
    main.hIcon = LoadIconW(Instance(), L"MAINICON");
    main.hIconSm = static_cast<HICON>(LoadImageW(Instance(), L"MAINICON", IMAGE_ICON, 16, 16, 0));
    main.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    main.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    main.lpszClassName = kMainClass;
    RegisterClassExW(&main);

    WNDCLASSEXW page{};
    page.cbSize = sizeof page;
    page.lpfnWndProc = pageProc;
    page.hInstance = Instance();
    page.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    page.lpszClassName = kPageClass;
    RegisterClassExW(&page);
}

// A page's background: the tab control's body when visual styles are on, else the dialog
// colour.
void PaintPage(HWND page, HDC dc)
{
    RECT area{};
    GetClientRect(page, &area);
    if (IsAppThemed()) {
        if (HTHEME theme = OpenThemeData(page, L"TAB")) {
            DrawThemeBackground(theme, dc, TABP_BODY, 0, &area, nullptr);
            CloseThemeData(theme);
            return;
        }
    }
    FillRect(dc, &area, GetSysColorBrush(COLOR_BTNFACE));
}

bool IsStaticControl(HWND control)
{
    wchar_t name[16] = L"";
    GetClassNameW(control, name, 16);
    return lstrcmpiW(name, WC_STATICW) == 0 || lstrcmpiW(name, WC_BUTTONW) == 0 ||
           lstrcmpiW(name, WC_LINK) == 0;
}

} // namespace

TfrmMain::TfrmMain(IUserDialogs& dialogs, const Places& places)
{
    RegisterClasses(WindowProc, PageProc);
    FLoop = std::make_unique<TWin32MainThreadLoop>(
        [this](MSG& message) { return PreTranslateMessage(message); });
    // Sized for the system's DPI, and again for its monitor's once it is there.
    FDpi = win32dpi::SystemDpi();
    FHandle = CreateWindowExW(
        WS_EX_CONTROLPARENT, kMainClass, Wide(wndtext::kApplicationTitle).c_str(),
        WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, CW_USEDEFAULT, CW_USEDEFAULT, Scaled(kInitialWidth),
        Scaled(kInitialHeight), nullptr, nullptr, Instance(), this);
    // Without a window system (a desktop with no display under Wine, a session out of window
    // handles) nothing of the window could work: the program says so and ends.
    if (FHandle == nullptr)
        throw std::runtime_error(
            txt::Format(txt::Id::MainWindowFailed, {std::to_string(GetLastError())}));
    if (const UINT dpi = win32dpi::WindowDpi(FHandle); dpi != FDpi) {
        FDpi = dpi;
        SetWindowPos(FHandle, nullptr, 0, 0, Scaled(kInitialWidth), Scaled(kInitialHeight),
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    FTabHeight = Scaled(kInitialTabHeight);
    CreateFonts();
    CreateControls();
    Layout();
    InstallMainThreadQueueHook(FHandle, kServeQueueMessage);
    FCore = std::make_unique<TMainWndCore>(CoreControls(), dialogs, *FLoop, places);
    FCore->FormCreate();
    FCreating = false;
}

TfrmMain::~TfrmMain()
{
    if (IsWindow(FHandle))
        DestroyWindow(FHandle);
    for (HFONT font : {FFont, FBoldFont, FTitleFont, FVersionFont})
        DeleteObject(font);
    ImageList_Destroy(imlIcons);
    DestroyMenu(pmnuLog);
}

LRESULT CALLBACK TfrmMain::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE) {
        auto* self =
            static_cast<TfrmMain*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        self->FHandle = window;
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<TfrmMain*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self == nullptr)
        return DefWindowProcW(window, message, wParam, lParam);
    return self->HandleMessage(message, wParam, lParam);
}

LRESULT CALLBACK TfrmMain::PageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_COMMAND:
    case WM_NOTIFY:
    case WM_DRAWITEM:
    case WM_MEASUREITEM:
    case WM_CTLCOLORSTATIC:
        // The page only holds controls; the window handles what they report.
        return SendMessageW(GetParent(page), message, wParam, lParam);
    case WM_ERASEBKGND:
        PaintPage(page, reinterpret_cast<HDC>(wParam));
        return 1;
    case WM_PRINTCLIENT:
        PaintPage(page, reinterpret_cast<HDC>(wParam));
        return 0;
    default:
        return DefWindowProcW(page, message, wParam, lParam);
    }
}

LRESULT TfrmMain::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_COMMAND:
        FRoutes.Command(FHandle, wParam, lParam);
        return 0;
    case WM_NOTIFY: {
        const auto& header = *reinterpret_cast<const NMHDR*>(lParam);
        if (header.hwndFrom == pgDecodeMode) {
            if (header.code == TCN_SELCHANGE)
                ShowPage(static_cast<int>(SendMessageW(pgDecodeMode, TCM_GETCURSEL, 0, 0)));
            return 0;
        }
        return FRoutes.Notify(header).value_or(0);
    }
    case WM_MEASUREITEM: {
        auto& item = *reinterpret_cast<MEASUREITEMSTRUCT*>(lParam);
        if (item.CtlID == kLog) {
            item.itemHeight = static_cast<UINT>(Scaled(kLogLineHeight)); // the icon's height
            return TRUE;
        }
        break;
    }
    case WM_DRAWITEM: {
        const auto& item = *reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
        if (item.CtlID == kLog) {
            DrawLogLine(item);
            return TRUE;
        }
        break;
    }
    case WM_VKEYTOITEM:
        return FRoutes.KeyToItem(wParam, lParam).value_or(-1);
    case WM_CONTEXTMENU:
        if (reinterpret_cast<HWND>(wParam) == lstLog) {
            ShowLogMenu(POINT{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)});
            return 0;
        }
        break;
    case WM_CTLCOLORSTATIC: {
        const auto dc = reinterpret_cast<HDC>(wParam);
        const auto control = reinterpret_cast<HWND>(lParam);
        if (control == memCredits) {
            // A read-only memo, but a memo: the window's colours.
            SetBkColor(dc, GetSysColor(COLOR_WINDOW));
            return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW));
        }
        if (IsStaticControl(control) && IsAppThemed()) {
            // Labels show the tab body behind them.
            SetBkMode(dc, TRANSPARENT);
            DrawThemeParentBackground(control, dc, nullptr);
            return reinterpret_cast<LRESULT>(GetStockObject(NULL_BRUSH));
        }
        SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
        return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
    }
    case WM_NEXTDLGCTL: {
        // What a dialog does for the dialog keys (Tab, Shift+Tab, an access key): the focus
        // moves to the given control, or to the next or previous one in tab order.
        HWND next = LOWORD(lParam) != 0 ? reinterpret_cast<HWND>(wParam)
                                        : GetNextDlgTabItem(FHandle, GetFocus(), wParam != 0);
        if (next != nullptr) {
            SetFocus(next);
            // An edit reached by the keyboard has its text selected, ready to be typed over.
            if ((SendMessageW(next, WM_GETDLGCODE, 0, 0) & DLGC_HASSETSEL) != 0)
                SendMessageW(next, EM_SETSEL, 0, -1);
        }
        return 0;
    }
    case DM_GETDEFID: {
        // Enter clicks the start button of the page in front.
        const auto page = SendMessageW(pgDecodeMode, TCM_GETCURSEL, 0, 0);
        if (page == 0)
            return MAKELRESULT(kSingleDecode, DC_HASDEFID);
        if (page == 1)
            return MAKELRESULT(kStartMultiDecode, DC_HASDEFID);
        return 0;
    }
    case WM_SIZE:
        Layout();
        return 0;
    case WM_GETMINMAXINFO: {
        auto& info = *reinterpret_cast<MINMAXINFO*>(lParam);
        RECT least{0, 0, 0, Scaled(kInitialTabHeight + kSplitterHeight + 32)};
        win32dpi::AdjustWindowRectForDpi(least, WS_OVERLAPPEDWINDOW, WS_EX_CONTROLPARENT, FDpi);
        info.ptMinTrackSize = POINT{Scaled(kInitialWidth), least.bottom - least.top};
        return 0;
    }
    case WM_DPICHANGED:
        ChangeDpi(HIWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
        return 0;
    case WM_SETCURSOR:
        if (reinterpret_cast<HWND>(wParam) == FHandle && LOWORD(lParam) == HTCLIENT) {
            SetCursor(LoadCursorW(nullptr, IDC_SIZENS)); // only the splitter shows through
            return TRUE;
        }
        break;
    case WM_LBUTTONDOWN: {
        const int y = GET_Y_LPARAM(lParam);
        if (y >= FTabHeight && y < FTabHeight + Scaled(kSplitterHeight)) {
            FDragOffset = y - FTabHeight;
            SetCapture(FHandle);
        }
        return 0;
    }
    case WM_MOUSEMOVE:
        if (FDragOffset >= 0) {
            FTabHeight = GET_Y_LPARAM(lParam) - FDragOffset;
            Layout();
        }
        return 0;
    case WM_LBUTTONUP:
        if (FDragOffset >= 0)
            ReleaseCapture();
        return 0;
    case WM_CAPTURECHANGED:
        FDragOffset = -1;
        return 0;
    case kServeQueueMessage:
        ServeMainThreadQueue();
        return 0;
    case WM_CLOSE:
        // Closing waits for what runs; a running batch closes the window once it has stopped.
        if (FCreating) {
            FClosePending = true; // nothing could end the program yet: asked again later
            return 0;
        }
        if (FCore && !FCore->FormCloseQuery())
            return 0;
        ::ShowWindow(FHandle, SW_HIDE);
        if (OnClosed)
            OnClosed();
        return 0;
    case WM_QUERYENDSESSION:
        // A running batch is stopped first, as by closing the window, and holds the end of the
        // session back until it has wound down; the window then closes as usual.
        return FCore && !FCore->FormCloseQuery() ? FALSE : TRUE;
    case WM_ENDSESSION:
        if (wParam != FALSE && OnEndSession)
            OnEndSession();
        return 0;
    case WM_DESTROY:
        if (FCore)
            FCore->FormDestroy();
        InstallMainThreadQueueHook(nullptr, 0);
        return 0;
    default:
        break;
    }
    return DefWindowProcW(FHandle, message, wParam, lParam);
}

bool TfrmMain::PreTranslateMessage(MSG& message)
{
    if (!IsWindow(FHandle) || (message.hwnd != FHandle && !IsChild(FHandle, message.hwnd)))
        return false;
    // Ctrl+Tab and Ctrl+Shift+Tab turn the pages, as in the system's own tabbed dialogs.
    if (message.message == WM_KEYDOWN && message.wParam == VK_TAB && GetKeyState(VK_CONTROL) < 0) {
        const int count = static_cast<int>(FPages.size());
        const int current = static_cast<int>(SendMessageW(pgDecodeMode, TCM_GETCURSEL, 0, 0));
        if (IsWindowEnabled(pgDecodeMode))
            ShowPage((current + (GetKeyState(VK_SHIFT) < 0 ? count - 1 : 1)) % count);
        return true;
    }
    return IsDialogMessageW(FHandle, &message) != FALSE;
}

void TfrmMain::SetPagesEnabled(bool enabled)
{
    EnableWindow(pgDecodeMode, enabled);
    for (HWND page : FPages)
        EnableWindow(page, enabled);
}

void TfrmMain::ShowFirstPage()
{
    ShowPage(0);
}

void TfrmMain::ShowSplash()
{
    FSplash = new TfrmSplash(FHandle);
}

void TfrmMain::SetSplashStatus(const std::string& text)
{
    if (FSplash != nullptr)
        FSplash->SetStatus(text);
}

void TfrmMain::ReleaseSplash()
{
    if (FSplash != nullptr)
        FSplash->Release(); // it frees itself once the message loop runs
    FSplash = nullptr;
}

void TfrmMain::ProcessMessages()
{
    ProcessPendingMessages([this](MSG& message) { return PreTranslateMessage(message); });
}

void TfrmMain::ShowWindow()
{
    ::ShowWindow(FHandle, SW_SHOW);
    UpdateWindow(FHandle);
    SetForegroundWindow(FHandle);
    SetFocus(lbeSourceFile);
}

void TfrmMain::CloseLater()
{
    PostMessageW(FHandle, WM_CLOSE, 0, 0);
}
