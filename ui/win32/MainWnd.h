// The program's working window on the Win32 API: the decode tabs, the decode settings, the About
// tab and the log panel, with the system's dialog font and standard controls. What the window
// does is the shared window logic (TMainWndCore); this class creates the controls and hands them
// to it, which binds their events, and hands each notification to the adapter of the control
// that sent it (TWin32Routes). Everything here runs on the main thread.
//
// The window follows the DPI of the monitor it is on: its lengths are given for 96 DPI and
// scaled to the current DPI when it is laid out, and a move to a monitor of another DPI
// (WM_DPICHANGED) makes its fonts, icons and sizes anew.
#pragma once

#include "app/MainWndCore.h"
#include "app/WindowControls.h"
#include "ui/win32/Win32Controls.h"

#include <windows.h>

#include <commctrl.h>

#include <functional>
#include <map>
#include <memory>
#include <vector>

class IUserDialogs;
class TfrmSplash;
class TWin32MainThreadLoop;

class TfrmMain : private IMainWindowView {
public:
    using Places = TMainWndCore::Places;

    // Control identifiers: the dialog keys' default button (DM_GETDEFID), the owner-drawn log
    // (WM_MEASUREITEM), the menu's commands, and tests that send what a control would.
    enum Id : int {
        kTabs = 100,
        kLog,
        kSourceFile,
        kBrowse,
        kPcmFile,
        kBrowsePcm,
        kSongNum,
        kSongNumArrows,
        kPcmFormat,
        kSingleDecode,
        kDecodeProgress,
        kProgress,
        kKbmFile,
        kBrowseForKbm,
        kPcmFormatForMulti,
        kStartMultiDecode,
        kIndivProgress,
        kIndivProgressLabel,
        kSettingsList,
        kAddSetting,
        kRenameSetting,
        kDeleteSetting,
        kModifySetting,
        kSamplingFrequency,
        kSamplingFrequencyArrows,
        kSampleFormat,
        kChannels,
        kChannelsArrows,
        kDefaultLength,
        kDefaultLengthArrows,
        kFadeoutLength,
        kFadeoutLengthArrows,
        kVersion,
        kCredits,
        kQuenzWeb,
        kEmail,
        kCopyLogEntry, // menu items
        kSaveLogs,
    };
    // Posted to the window: serve the calls that decoder threads queued for the main thread.
    static constexpr UINT kServeQueueMessage = WM_APP + 1;
    // Lengths at 96 DPI.
    static constexpr int kInitialWidth = 416;
    static constexpr int kInitialHeight = 400;
    static constexpr int kInitialTabHeight = 257;
    static constexpr int kSplitterHeight = 4;
    static constexpr int kLogLineHeight = 16; // the log icon's height

    // Creates the window, still invisible, and runs its creation step, which shows it.
    explicit TfrmMain(IUserDialogs& dialogs, const Places& places = Places());
    // Destroys the window if it still exists, which runs its destruction step.
    ~TfrmMain();
    TfrmMain(const TfrmMain&) = delete;
    TfrmMain& operator=(const TfrmMain&) = delete;

    HWND Handle() const { return FHandle; }
    TMainWndCore& Core() { return *FCore; }
    // Runs when the user has closed the window and it has hidden itself; the program ends its
    // message loop there.
    std::function<void()> OnClosed;
    // Runs when the user's session ends (log-off, shutdown): the program is about to be ended
    // by the system and does its exit steps there and then.
    std::function<void()> OnEndSession;
    // A close asked for while the window was still being created (the plug-ins load with
    // messages handled): the program asks again once it has set OnClosed.
    bool ClosePending() const { return FClosePending; }
    // The message loop's share of a message: Ctrl+Tab between pages, then the dialog keys
    // (Tab, access keys, Enter for the page's start button). True when the message was used.
    bool PreTranslateMessage(MSG& message);

    // Controls, named as in every window of the program.
    HWND pgDecodeMode = nullptr;
    HWND tbsSingleFile = nullptr;
    HWND tbsMultipleFiles = nullptr;
    HWND tbsSettings = nullptr;
    HWND tabAbout = nullptr;
    HWND lstLog = nullptr;
    HWND lbeSourceFile = nullptr;
    HWND btnBrowse = nullptr;
    HWND lbePCMFile = nullptr;
    HWND btnBrowsePCM = nullptr;
    HWND speSongNum = nullptr; // the edit; its arrows are its buddy
    HWND cmbPCMFormat = nullptr;
    HWND btnSingleDecode = nullptr;
    HWND pbrDecodeProgress = nullptr;
    HWND lblProgress = nullptr;
    HWND lbeKbmFile = nullptr;
    HWND btnBrowseForKbm = nullptr;
    HWND cmbPcmFormatForMulti = nullptr;
    HWND btnStartMultiDecode = nullptr;
    HWND pbrIndivProgress = nullptr;
    HWND lblIndivProgress = nullptr;
    HWND lvwDecodeSettings = nullptr;
    HWND btnAddSetting = nullptr;
    HWND btnRenameSetting = nullptr;
    HWND btnDeleteSetting = nullptr;
    HWND grpModifySetting = nullptr;
    HWND speSamplingFrequency = nullptr;
    HWND cmbSampleFormat = nullptr;
    HWND speChannels = nullptr;
    HWND speDefaultLength = nullptr;
    HWND speFadeoutLength = nullptr;
    HWND lblVersion = nullptr;
    HWND memCredits = nullptr;
    HWND lblQuenzWeb = nullptr;
    HWND lblEmail = nullptr;
    HMENU pmnuLog = nullptr;
    static constexpr UINT mnuCopyLogEntry = kCopyLogEntry; // the menu's items, by command
    static constexpr UINT mnuSaveLogs = kSaveLogs;
    HIMAGELIST imlIcons = nullptr;
    // The splash window while the window starts.
    TfrmSplash* Splash() const { return FSplash; }
    // The DPI the window is laid out for.
    UINT Dpi() const { return FDpi; }

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK PageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);

    // Layout (MainWndLayout.cpp).
    int Scaled(int length) const; // a length at 96 DPI, at the window's DPI
    void CreateFonts();
    void CreateLogIcons();
    // The window moved to a monitor of another DPI; suggested is the system's new place for it.
    void ChangeDpi(UINT dpi, const RECT& suggested);
    void CreateControls();
    HWND CreatePage();
    void CreateSingleFilePage();
    void CreateMultipleFilesPage();
    void CreateSettingsPage();
    void CreateAboutPage();
    void CreateLogPanel();
    void Layout();
    void LayoutPages();
    void ShowPage(int index);
    // The controls as the shared logic sees them, their adapters made and routed.
    TMainWndCore::Controls CoreControls();

    // The log list (MainWndLog.cpp).
    void DrawLogLine(const DRAWITEMSTRUCT& item);
    void ShowLogMenu(POINT at);

    // IMainWindowView.
    void SetPagesEnabled(bool enabled) override;
    void ShowFirstPage() override;
    void ShowSplash() override;
    void SetSplashStatus(const std::string& text) override;
    void ReleaseSplash() override;
    void ProcessMessages() override;
    void ShowWindow() override;
    void CloseLater() override;

    // Where a control sits on its page, in pixels at 96 DPI. A negative left counts from the
    // page's right edge (a control of the given width kept at the right); a width of 0 or less
    // reaches to the right edge less that many pixels.
    struct Placement {
        HWND Control;
        int Left, Top, Width, Height;
    };
    void Place(HWND control, int left, int top, int width, int height);

    HWND FHandle = nullptr;
    std::vector<Placement> FPlacements;
    std::map<HWND, std::string> FLinkCaptions; // each link's address
    HFONT FFont = nullptr;                     // the system's dialog font
    HFONT FBoldFont = nullptr;                 // start buttons and progress labels: bold, 16 pixels
    HFONT FTitleFont = nullptr;
    HFONT FVersionFont = nullptr;
    UINT FDpi = 96;
    int FTabHeight = kInitialTabHeight; // in pixels at FDpi
    bool FCreating = true;
    bool FClosePending = false;
    int FDragOffset = -1; // while the splitter is dragged: the grip's offset in it
    std::vector<HWND> FPages;
    TfrmSplash* FSplash = nullptr;
    std::unique_ptr<TWin32MainThreadLoop> FLoop;
    // The controls' adapters: those the layout needs, made with the controls, and the rest,
    // made as the core's list asks for them (Adapters); each known to FRoutes.
    struct Adapters;
    std::vector<std::unique_ptr<TWin32Number>> FNumbers;
    std::unique_ptr<TWin32Group> FSettingGroup;
    std::unique_ptr<TWin32LogList> FLogList;
    std::unique_ptr<TWin32SettingsList> FSettingList;
    std::vector<std::shared_ptr<void>> FAdapters;
    TWin32Routes FRoutes;
    std::unique_ptr<TMainWndCore> FCore;
};
