// The Win32 window's start, its log panel, the browse buttons, the links, the splash window and
// the keyboard, driven through its controls with window messages.
#include "app/KbMPath.h"
#include "platform/WindowsText.h"
#include "tests/win32ui/WindowFixture.h"
#include "ui/win32/SplashWnd.h"
#include "ui/win32/Win32Controls.h"

#include <commctrl.h>
#include <oleacc.h>

#include <fstream>
#include <iterator>

using namespace win32test;
namespace fs = std::filesystem;

namespace {

using MainWndFixture = WindowFixture;

std::string FileBytes(const std::string& path)
{
    std::ifstream in(PathOf(path), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string ClipboardText()
{
    std::string text;
    if (!OpenClipboard(nullptr))
        return "<busy>";
    if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
        text = Narrow(static_cast<const wchar_t*>(GlobalLock(data)));
        GlobalUnlock(data);
    }
    CloseClipboard();
    return text;
}

// A key pressed while the given control has the focus, through the program's own loop.
void PressKey(TfrmMain& window, HWND control, WPARAM key, bool control_held)
{
    BYTE keys[256] = {};
    GetKeyboardState(keys);
    keys[VK_CONTROL] = control_held ? 0x80 : 0;
    SetKeyboardState(keys);
    SetFocus(control);
    MSG message{control, WM_KEYDOWN, key, 1, 0, {}};
    if (!window.PreTranslateMessage(message)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    keys[VK_CONTROL] = 0;
    SetKeyboardState(keys);
}

// The name a screen reader announces for a control.
std::string AccessibleName(HWND control)
{
    IAccessible* object = nullptr;
    // The interface's GUID as the header declares it: MinGW links IID_IAccessible from
    // oleacc's import library, where the name is not the GUID.
    if (FAILED(AccessibleObjectFromWindow(control, OBJID_CLIENT, __uuidof(IAccessible),
                                          reinterpret_cast<void**>(&object))))
        return "<none>";
    VARIANT self;
    self.vt = VT_I4;
    self.lVal = CHILDID_SELF;
    BSTR name = nullptr;
    std::string result;
    if (SUCCEEDED(object->get_accName(self, &name)) && name != nullptr) {
        result = Narrow(std::wstring(name, SysStringLen(name)));
        SysFreeString(name);
    }
    object->Release();
    return result;
}

} // namespace

TEST_F(MainWndFixture, StartLogsEveryPluginAndTheCountThenShowsTheWindow)
{
    AddPlugin("a.kpi", {{"version", "3"}});
    std::ofstream(PathOf(PluginFolder + "\\broken.kpi")) << "not a library";
    AddPlugin("sub\\c&%d.kpi", {{"version", "2147483648"}});
    UsePluginFolder(PluginFolder);

    auto window = Open();
    const auto lines = LogLines(*window);
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(lines[0], "Pellan Decoder Version 1.0.0.79 デバッグ版");
    EXPECT_EQ(lines[1], "プラグインを " + PluginFolder + " からロードします");
    EXPECT_EQ(lines[2], "  a.kpi ver.3 をロードしました");
    EXPECT_EQ(lines[3], "  警告: " + PluginFolder + "\\broken.kpi のロードに失敗しました");
    EXPECT_EQ(lines[4].rfind("    理由: ", 0), 0u) << lines[4];
    EXPECT_EQ(lines[5], "  c&%d.kpi ver.-2147483648 をロードしました");
    EXPECT_EQ(lines[6], "2 個のプラグインをロードしました");
    EXPECT_EQ(RunLog->Lines(), lines);
    // Each line with its icon: information, warning, information.
    EXPECT_EQ(SendMessageW(window->lstLog, LB_GETITEMDATA, 2, 0), 0);
    EXPECT_EQ(SendMessageW(window->lstLog, LB_GETITEMDATA, 3, 0), 1);

    EXPECT_TRUE(IsWindowVisible(window->Handle()));
    EXPECT_TRUE(IsWindowEnabled(window->pgDecodeMode));
    EXPECT_EQ(SendMessageW(window->pgDecodeMode, TCM_GETCURSEL, 0, 0), 0);
    EXPECT_TRUE(IsWindowVisible(window->tbsSingleFile));
    EXPECT_FALSE(IsWindowVisible(window->tbsSettings));
    EXPECT_EQ(TextOf(window->Handle()), "Pellan Decoder");
    EXPECT_EQ(TextOf(window->lblVersion), "Version 1.0.0.79 (debug)");
    RECT outer{};
    GetWindowRect(window->Handle(), &outer);
    EXPECT_EQ(outer.right - outer.left, 416);
    EXPECT_EQ(outer.bottom - outer.top, 400);
    EXPECT_TRUE(Dialogs.Errors.empty());
}

TEST_F(MainWndFixture, SplashShowsTheStatusAsWrittenAndGoesOnceMessagesRun)
{
    TfrmSplash* splash = nullptr;
    HWND handle = nullptr;
    {
        TfrmMain* opened = nullptr;
        UsePluginFolder(PluginFolder);
        auto window = Open();
        opened = window.get();
        (void)opened;
        // Released at the end of the start: hidden now, destroyed once messages run.
        EXPECT_EQ(window->Splash(), nullptr);
        Pump(50);
        EXPECT_EQ(FindWindowW(L"PellanDecodeSplash", nullptr), nullptr);
    }
    // A splash on its own: an ampersand stays an ampersand, the version line says debug.
    splash = new TfrmSplash(nullptr);
    handle = splash->Handle();
    splash->SetStatus("  a&b.kpi ver.1 をロードしました");
    EXPECT_EQ(TextOf(splash->lblStatus), "  a&b.kpi ver.1 をロードしました");
    EXPECT_NE(GetWindowLongW(splash->lblStatus, GWL_STYLE) & SS_NOPREFIX, 0);
    EXPECT_EQ(TextOf(splash->lblVersion), "Version 1.0.0.79 (debug)");
    RECT client{};
    GetClientRect(handle, &client);
    EXPECT_EQ(client.right, 452);
    EXPECT_EQ(client.bottom, 340);
    BITMAP picture{};
    ASSERT_NE(splash->imgSplash, nullptr);
    GetObjectW(splash->imgSplash, sizeof picture, &picture);
    EXPECT_EQ(picture.bmWidth, 448);
    EXPECT_EQ(picture.bmHeight, 336);
    // A close from outside (the task list, taskkill) leaves it to whoever holds it.
    SendMessageW(handle, WM_CLOSE, 0, 0);
    Pump(50);
    ASSERT_TRUE(IsWindow(handle));
    splash->SetStatus("still here");
    EXPECT_EQ(TextOf(splash->lblStatus), "still here");
    splash->Release();
    Pump(50);
    EXPECT_FALSE(IsWindow(handle));
}

TEST_F(MainWndFixture, CancelledFolderQuestionEndsWithoutLoadingOrShowing)
{
    AddPlugin("a.kpi");
    auto window = Open(); // nothing stored, no host player, nothing bundled: asked, cancelled
    ASSERT_EQ(Dialogs.Messages.size(), 1u);
    EXPECT_EQ(Dialogs.Messages[0].caption, "KbMP パス指定");
    EXPECT_TRUE(EndRequested());
    EXPECT_FALSE(IsWindowVisible(window->Handle()));
    EXPECT_EQ(window->Core().Driver(), nullptr);
    EXPECT_EQ(LogLines(*window),
              (std::vector<std::string>{"Pellan Decoder Version 1.0.0.79 デバッグ版"}));
    EXPECT_EQ(Plugins[0]->Counts().Init, 0);
}

TEST_F(MainWndFixture, NewLineIsSelectedAndVisibleWhateverTheUserDid)
{
    UsePluginFolder(PluginFolder);
    auto window = Open();
    for (int i = 0; i < 40; ++i)
        window->Core().AddLog({txt::Severity::Information, "line " + std::to_string(i)});
    SendMessageW(window->lstLog, LB_SETCURSEL, 0, 0);
    SendMessageW(window->lstLog, LB_SETTOPINDEX, 0, 0);
    window->Core().AddLog({txt::Severity::Error, "エラー: the newest"});
    const auto last = SendMessageW(window->lstLog, LB_GETCOUNT, 0, 0) - 1;
    EXPECT_EQ(SendMessageW(window->lstLog, LB_GETCURSEL, 0, 0), last);
    RECT item{}, list{};
    SendMessageW(window->lstLog, LB_GETITEMRECT, static_cast<WPARAM>(last),
                 reinterpret_cast<LPARAM>(&item));
    GetClientRect(window->lstLog, &list);
    EXPECT_GE(item.top, list.top);
    EXPECT_LE(item.bottom, list.bottom);
    EXPECT_EQ(item.bottom - item.top, 16);
    EXPECT_EQ(SendMessageW(window->lstLog, LB_GETITEMDATA, static_cast<WPARAM>(last), 0), 2);
    EXPECT_EQ(RunLog->Lines().back(), "エラー: the newest");
}

TEST_F(MainWndFixture, CtrlCCopiesTheSelectedLineAndAnEmptyLogClearsTheClipboard)
{
    UsePluginFolder(PluginFolder);
    auto window = Open();
    SendMessageW(window->lstLog, LB_SETCURSEL, 1, 0);
    PressKey(*window, window->lstLog, 'C', true);
    EXPECT_EQ(ClipboardText(), LogLines(*window)[1]);
    // Without Ctrl the key is the list's own.
    SendMessageW(window->lstLog, LB_SETCURSEL, 0, 0);
    PressKey(*window, window->lstLog, 'C', false);
    EXPECT_EQ(ClipboardText(), LogLines(*window)[1]);

    // The menu's command on a list without lines: only the clipboard is cleared.
    SendMessageW(window->lstLog, LB_RESETCONTENT, 0, 0);
    SendMessageW(window->Handle(), WM_COMMAND, TfrmMain::kCopyLogEntry, 0);
    EXPECT_EQ(ClipboardText(), "");
    EXPECT_TRUE(Dialogs.Errors.empty());
}

TEST_F(MainWndFixture, CtrlSSavesTheWholeLogWithCrLfAndAFailureShowsTheErrorBox)
{
    UsePluginFolder(PluginFolder);
    auto window = Open();
    window->Core().AddLog({txt::Severity::Error, "エラー: something"});
    const std::string saved = Path("saved"); // no extension is added
    Dialogs.FileAnswers = {saved};
    PressKey(*window, window->lstLog, 'S', true);
    ASSERT_EQ(Dialogs.Filters.size(), 1u);
    EXPECT_EQ(Dialogs.Filters[0], "ログファイル（*.log）|*.log|すべてのファイル|*.*");
    std::string expected;
    for (const auto& line : LogLines(*window))
        expected += line + "\r\n";
    // In the Japanese code page, as the run log.
    EXPECT_EQ(FileBytes(saved), platform::Utf8ToCodePage(expected, 932));

    Dialogs.FileAnswers = {Path("missing\\folder.log")};
    SendMessageW(window->Handle(), WM_COMMAND, TfrmMain::kSaveLogs, 0);
    ASSERT_EQ(Dialogs.Errors.size(), 1u);
    EXPECT_NE(Dialogs.Errors[0].find("folder.log"), std::string::npos);
}

TEST_F(MainWndFixture, BrowseFillsTheSourceAndAWavBesideIt)
{
    UsePluginFolder(PluginFolder);
    auto window = Open();
    Dialogs.FileAnswers = {"C:\\music\\a.b\\song.mid", "C:\\music\\song", std::nullopt};
    Click(window->btnBrowse);
    EXPECT_EQ(TextOf(window->lbeSourceFile), "C:\\music\\a.b\\song.mid");
    EXPECT_EQ(TextOf(window->lbePCMFile), "C:\\music\\a.b\\song.wav");
    Click(window->btnBrowse);
    EXPECT_EQ(TextOf(window->lbePCMFile), "C:\\music\\song.wav");
    Click(window->btnBrowse); // cancelled: nothing changes
    EXPECT_EQ(TextOf(window->lbeSourceFile), "C:\\music\\song");
    EXPECT_EQ(Dialogs.Filters[0], "すべてのオーディオファイル|*.*");

    Dialogs.FileAnswers = {"C:\\out\\take"};
    Click(window->btnBrowsePCM);
    EXPECT_EQ(TextOf(window->lbePCMFile), "C:\\out\\take");
    EXPECT_EQ(Dialogs.Filters.back(), "Wave ファイル（*.wav）|*.wav");

    Dialogs.FileAnswers = {"C:\\lists\\すべて.kbm"};
    Click(window->btnBrowseForKbm);
    EXPECT_EQ(TextOf(window->lbeKbmFile), "C:\\lists\\すべて.kbm");
    EXPECT_EQ(Dialogs.Filters.back(), "KBM 形式プレイリストファイル|*.kbm");
}

TEST_F(MainWndFixture, LinksHandTheirCaptionToTheShellByClickAndByEnter)
{
    UsePluginFolder(PluginFolder);
    auto window = Open();
    SendMessageW(window->pgDecodeMode, TCM_SETCURSEL, 3, 0);
    NMHDR change{window->pgDecodeMode, TfrmMain::kTabs, TCN_SELCHANGE};
    SendMessageW(window->Handle(), WM_NOTIFY, TfrmMain::kTabs, reinterpret_cast<LPARAM>(&change));
    ASSERT_TRUE(IsWindowVisible(window->lblQuenzWeb));
    // A click on the link's text.
    SendMessageW(window->lblQuenzWeb, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(6, 8));
    SendMessageW(window->lblQuenzWeb, WM_LBUTTONUP, 0, MAKELPARAM(6, 8));
    // Enter on the other one.
    SetFocus(window->lblEmail);
    SendMessageW(window->lblEmail, WM_KEYDOWN, VK_RETURN, 0);
    ASSERT_EQ(Dialogs.Addresses.size(), 2u);
    EXPECT_EQ(Dialogs.Addresses[0], "https://quenz.example.org/pellandecoder/");
    EXPECT_EQ(Dialogs.Addresses[1], "mailto:pellandecoder@quenz.example.org");
}

TEST_F(MainWndFixture, EveryFieldIsNamedByTheLabelBeforeItAndReachedByItsAccessKey)
{
    UsePluginFolder(PluginFolder);
    auto window = Open();
    struct Field {
        HWND control;
        const char* name;
        const char* key;
        int page;
    };
    const Field fields[] = {
        {window->lbeSourceFile, "デコード対象ファイル(S):", "S", 0},
        {window->lbePCMFile, "デコード先 PCM ファイル:", "P", 0},
        {window->speSongNum, "ファイル中曲番号(N):", "N", 0},
        {window->lbeKbmFile, "KBM プレイリストファイル:", "K", 1},
        {window->speSamplingFrequency, "サンプリング周波数(F):", "F", 2},
        {window->speChannels, "チャンネル数(C):", "C", 2},
        {window->speDefaultLength, "デフォルト曲長(L):", "L", 2},
        {window->speFadeoutLength, "フェードアウト時間(O):", "O", 2},
    };
    SelectRow(*window, 0); // the settings' editors work while a row is selected
    for (const Field& field : fields) {
        SCOPED_TRACE(field.name);
        EXPECT_EQ(AccessibleName(field.control), field.name);
        // Alt and the key move the focus to the field, as in any dialog.
        SendMessageW(window->pgDecodeMode, TCM_SETCURSEL, static_cast<WPARAM>(field.page), 0);
        NMHDR change{window->pgDecodeMode, TfrmMain::kTabs, TCN_SELCHANGE};
        SendMessageW(window->Handle(), WM_NOTIFY, TfrmMain::kTabs,
                     reinterpret_cast<LPARAM>(&change));
        SetFocus(window->lstLog);
        MSG message{window->lstLog, WM_SYSCHAR, static_cast<WPARAM>(field.key[0] | 0x20),
                    1 << 29,        0,          {}};
        EXPECT_TRUE(window->PreTranslateMessage(message));
        EXPECT_EQ(GetFocus(), field.control);
    }
    // The drop-down lists point at their labels too: the label comes right before each.
    for (HWND list : {window->cmbPCMFormat, window->cmbPcmFormatForMulti, window->cmbSampleFormat})
        EXPECT_NE(TextOf(GetWindow(list, GW_HWNDPREV)).find("(&"), std::string::npos);
}

TEST_F(MainWndFixture, EnterClicksTheStartButtonOfThePageInFront)
{
    UsePluginFolder(PluginFolder);
    auto window = Open();
    SendMessageW(window->lstLog, LB_RESETCONTENT, 0, 0);
    SetFocus(window->lbeSourceFile);
    MSG enter{window->lbeSourceFile, WM_KEYDOWN, VK_RETURN, 1, 0, {}};
    EXPECT_TRUE(window->PreTranslateMessage(enter));
    // A start with nothing chosen: it fails at once and says why.
    const std::vector<std::string> failed{
        "エラー: ファイル  に適したプラグインが見つかりませんでした",
        "警告: デコードは失敗しました"};
    EXPECT_EQ(LogLines(*window), failed);
    // The same command without the button's handle, as a system that does not look the
    // default button up sends it, reaches the button below its page; a disabled one ignores it.
    SendMessageW(window->lstLog, LB_RESETCONTENT, 0, 0);
    SendMessageW(window->Handle(), WM_COMMAND, MAKEWPARAM(TfrmMain::kSingleDecode, BN_CLICKED), 0);
    EXPECT_EQ(LogLines(*window), failed);
    EnableWindow(window->btnSingleDecode, FALSE);
    SendMessageW(window->Handle(), WM_COMMAND, MAKEWPARAM(TfrmMain::kSingleDecode, BN_CLICKED), 0);
    EXPECT_EQ(LogLines(*window).size(), failed.size());
}

TEST_F(MainWndFixture, AMoveToAMonitorOfAnotherDpiScalesSizesFontsAndIcons)
{
    UsePluginFolder(PluginFolder);
    auto window = Open();
    window->Core().AddLog({txt::Severity::Warning, "警告: a line"});
    const auto size = [](HWND control) {
        RECT r{};
        GetWindowRect(control, &r);
        return SIZE{r.right - r.left, r.bottom - r.top};
    };
    const auto fontHeight = [](HWND control) {
        LOGFONTW font{};
        GetObjectW(reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)), sizeof font,
                   &font);
        return font.lfHeight;
    };
    const auto moveTo = [&](UINT dpi, LONG width, LONG height) {
        RECT place{};
        GetWindowRect(window->Handle(), &place);
        place.right = place.left + width;
        place.bottom = place.top + height;
        SendMessageW(window->Handle(), WM_DPICHANGED, MAKEWPARAM(dpi, dpi),
                     reinterpret_cast<LPARAM>(&place));
    };
    ASSERT_EQ(window->Dpi(), 96u);
    const LONG startHeight = fontHeight(window->btnSingleDecode);

    moveTo(144, 624, 600);
    EXPECT_EQ(window->Dpi(), 144u);
    EXPECT_EQ(size(window->Handle()).cx, 624);
    EXPECT_EQ(size(window->Handle()).cy, 600);
    EXPECT_EQ(size(window->btnSingleDecode).cx, 144); // 96 pixels at 96 DPI
    EXPECT_EQ(size(window->btnSingleDecode).cy, 42);
    EXPECT_EQ(fontHeight(window->btnSingleDecode), startHeight * 3 / 2);
    EXPECT_EQ(SendMessageW(window->lstLog, LB_GETITEMHEIGHT, 0, 0), 24);
    int iconWidth = 0, iconHeight = 0;
    ImageList_GetIconSize(window->imlIcons, &iconWidth, &iconHeight);
    EXPECT_EQ(iconWidth, 24);
    // The dialog font of every control follows, the settings page's and the log's included.
    EXPECT_LT(fontHeight(window->lstLog), 0);
    EXPECT_EQ(fontHeight(window->lvwDecodeSettings), fontHeight(window->lstLog));

    moveTo(96, 416, 400);
    EXPECT_EQ(size(window->btnSingleDecode).cx, 96);
    EXPECT_EQ(size(window->btnSingleDecode).cy, 28);
    EXPECT_EQ(fontHeight(window->btnSingleDecode), startHeight);
    EXPECT_EQ(SendMessageW(window->lstLog, LB_GETITEMHEIGHT, 0, 0), 16);
}

TEST_F(MainWndFixture, InEnglishEveryPageSpeaksEnglishAndTheAccessKeysReachTheirFields)
{
    // The language is the process's: set here as the environment would choose it, and given
    // back afterwards for the other tests.
    struct English {
        txt::Language before = txt::CurrentLanguage();
        English() { txt::SetLanguage(txt::Language::English); }
        ~English() { txt::SetLanguage(before); }
    } english;
    UsePluginFolder(PluginFolder);
    auto window = Open();
    wchar_t text[64] = L"";
    TCITEMW item{TCIF_TEXT, 0, 0, text, 64, 0, 0};
    SendMessageW(window->pgDecodeMode, TCM_GETITEMW, 2, reinterpret_cast<LPARAM>(&item));
    EXPECT_EQ(Narrow(text), "Decode settings");
    EXPECT_EQ(TextOf(window->btnSingleDecode), "&Start");
    EXPECT_EQ(LogLines(*window).front(), "Pellan Decoder version 1.0.0.79, debug build");

    // Alt and each English access key reach the field after the label that carries it.
    const struct {
        HWND control;
        char key;
        int page;
    } fields[] = {
        {window->lbeSourceFile, 'i', 0},    {window->lbePCMFile, 'o', 0},
        {window->speSongNum, 'n', 0},       {window->cmbPCMFormat, 'f', 0},
        {window->lbeKbmFile, 'k', 1},       {window->speSamplingFrequency, 's', 2},
        {window->cmbSampleFormat, 'b', 2},  {window->speChannels, 'c', 2},
        {window->speDefaultLength, 'l', 2}, {window->speFadeoutLength, 'f', 2},
    };
    SelectRow(*window, 0);
    for (const auto& field : fields) {
        SCOPED_TRACE(std::string(1, field.key));
        SendMessageW(window->pgDecodeMode, TCM_SETCURSEL, static_cast<WPARAM>(field.page), 0);
        NMHDR change{window->pgDecodeMode, TfrmMain::kTabs, TCN_SELCHANGE};
        SendMessageW(window->Handle(), WM_NOTIFY, TfrmMain::kTabs,
                     reinterpret_cast<LPARAM>(&change));
        SetFocus(window->lstLog);
        MSG message{window->lstLog, WM_SYSCHAR, static_cast<WPARAM>(field.key), 1 << 29, 0, {}};
        EXPECT_TRUE(window->PreTranslateMessage(message));
        EXPECT_EQ(GetFocus(), field.control);
    }
}
