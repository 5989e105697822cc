// The window's controls: their classes, captions, fonts and places. Each page's controls are
// created in tab order, every label right before the field it names, so that Tab, the access
// keys and screen readers (which name a field after the label before it) all find them.
#include "ui/win32/MainWnd.h"

#include "app/MainWndTexts.h"
#include "app/SettingsLayout.h"
#include "ui/win32/Dpi.h"
#include "ui/win32/Win32Controls.h"

#include <commctrl.h>

#include <algorithm>
#include <iterator>
#include <utility>

namespace {

constexpr int kMargin = 8;
constexpr int kButtonWidth = 80;
constexpr int kButtonHeight = 24;
constexpr int kEditHeight = 22;
constexpr int kLabelHeight = 15;
constexpr int kStartWidth = 96;
constexpr int kStartHeight = 28;
constexpr int kArrowsWidth = 17;

HINSTANCE Instance()
{
    return GetModuleHandleW(nullptr);
}

HFONT FaceFont(const wchar_t* face, int pixels, bool bold, bool italic)
{
    LOGFONTW font{};
    font.lfHeight = -pixels;
    font.lfWeight = bold ? FW_BOLD : FW_NORMAL;
    font.lfItalic = italic;
    font.lfCharSet = DEFAULT_CHARSET;
    font.lfQuality = DEFAULT_QUALITY;
    lstrcpynW(font.lfFaceName, face, LF_FACESIZE);
    return CreateFontIndirectW(&font);
}

} // namespace

int TfrmMain::Scaled(int length) const
{
    return win32dpi::Scale(length, FDpi);
}

void TfrmMain::CreateFonts()
{
    // The system's dialog font as the user set it, for this DPI.
    LOGFONTW font = win32dpi::DialogFont(FDpi);
    FFont = CreateFontIndirectW(&font);
    font.lfHeight = -Scaled(16);
    font.lfWeight = FW_BOLD;
    FBoldFont = CreateFontIndirectW(&font);
    FTitleFont = FaceFont(L"Arial", Scaled(32), true, false);
    FVersionFont = FaceFont(L"Arial", Scaled(16), true, true);
}

void TfrmMain::CreateLogIcons()
{
    // Information, warning, error: the system's own pictures for them.
    const int size = Scaled(kLogLineHeight);
    imlIcons = ImageList_Create(size, size, ILC_COLOR32 | ILC_MASK, 3, 0);
    for (const auto* name : {IDI_INFORMATION, IDI_WARNING, IDI_ERROR}) {
        HICON icon = win32dpi::SystemIcon(name, size);
        ImageList_AddIcon(imlIcons, icon);
        DestroyIcon(icon);
    }
}

namespace {

// A child control with the dialog font.
HWND Child(HWND parent, const wchar_t* windowClass, const std::string& text, DWORD style, int id,
           HFONT font, DWORD exStyle = 0)
{
    HWND control = CreateWindowExW(
        exStyle, windowClass, Wide(text).c_str(), WS_CHILD | WS_VISIBLE | style, 0, 0, 0, 0, parent,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), Instance(), nullptr);
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    return control;
}

HWND Label(HWND page, const std::string& text, HFONT font, DWORD style = SS_LEFT)
{
    return Child(page, WC_STATICW, text, style, -1, font);
}

HWND Edit(HWND page, int id, HFONT font)
{
    return Child(page, WC_EDITW, "", WS_TABSTOP | ES_AUTOHSCROLL, id, font, WS_EX_CLIENTEDGE);
}

HWND Button(HWND page, const std::string& caption, int id, HFONT font, DWORD style = 0)
{
    return Child(page, WC_BUTTONW, caption, WS_TABSTOP | BS_PUSHBUTTON | style, id, font);
}

HWND DropDownList(HWND page, int id, HFONT font)
{
    return Child(page, WC_COMBOBOXW, "", WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST, id, font);
}

HWND Bar(HWND page, int id, HFONT font)
{
    HWND bar = Child(page, PROGRESS_CLASSW, "", PBS_SMOOTH, id, font);
    SendMessageW(bar, PBM_SETRANGE32, 0, 100); // until a song gives its total
    return bar;
}

} // namespace

void TfrmMain::Place(HWND control, int left, int top, int width, int height)
{
    FPlacements.push_back({control, left, top, width, height});
}

HWND TfrmMain::CreatePage()
{
    // A page is a control parent, so that Tab and the access keys reach into it.
    HWND page =
        CreateWindowExW(WS_EX_CONTROLPARENT, L"PellanDecodePage", L"", WS_CHILD | WS_CLIPSIBLINGS,
                        0, 0, 0, 0, FHandle, nullptr, Instance(), this);
    FPages.push_back(page);
    return page;
}

void TfrmMain::CreateControls()
{
    // The pages go first: they lie over the tab control's body, and siblings created earlier
    // lie higher. Tab therefore runs through the page in front, then the tabs, then the log.
    CreateSingleFilePage();
    CreateMultipleFilesPage();
    CreateSettingsPage();
    CreateAboutPage();
    pgDecodeMode = Child(FHandle, WC_TABCONTROLW, "", WS_TABSTOP | WS_CLIPSIBLINGS | TCS_HOTTRACK,
                         kTabs, FFont);
    int index = 0;
    for (const txt::Id caption : {txt::Id::SingleFilePage, txt::Id::MultipleFilesPage,
                                  txt::Id::SettingsPage, txt::Id::AboutPage}) {
        std::wstring text = Wide(txt::Text(caption));
        TCITEMW item{};
        item.mask = TCIF_TEXT;
        item.pszText = text.data();
        SendMessageW(pgDecodeMode, TCM_INSERTITEMW, static_cast<WPARAM>(index++),
                     reinterpret_cast<LPARAM>(&item));
    }
    CreateLogPanel();
    ShowPage(0);
}

void TfrmMain::CreateSingleFilePage()
{
    HWND page = tbsSingleFile = CreatePage();
    Place(Label(page, txt::Text(txt::Id::SourceFileLabel), FFont), kMargin, 8, -kMargin,
          kLabelHeight);
    Place(lbeSourceFile = Edit(page, kSourceFile, FFont), kMargin, 24,
          -(kMargin + kButtonWidth + 6), kEditHeight);
    Place(btnBrowse = Button(page, txt::Text(txt::Id::BrowseSourceCaption), kBrowse, FFont),
          -kMargin, 23, kButtonWidth, kButtonHeight);
    Place(Label(page, txt::Text(txt::Id::PcmFileLabel), FFont), kMargin, 54, -kMargin,
          kLabelHeight);
    Place(lbePCMFile = Edit(page, kPcmFile, FFont), kMargin, 70, -(kMargin + kButtonWidth + 6),
          kEditHeight);
    Place(btnBrowsePCM = Button(page, txt::Text(txt::Id::BrowsePcmCaption), kBrowsePcm, FFont),
          -kMargin, 69, kButtonWidth, kButtonHeight);

    Place(Label(page, txt::Text(txt::Id::SongNumberLabel), FFont), kMargin, 102, 120, kLabelHeight);
    Place(speSongNum = Edit(page, kSongNum, FFont), kMargin, 118, 72, kEditHeight);
    HWND arrows = Child(page, UPDOWN_CLASSW, "",
                        UDS_ALIGNRIGHT | UDS_SETBUDDYINT | UDS_ARROWKEYS | UDS_NOTHOUSANDS,
                        kSongNumArrows, FFont);
    SendMessageW(arrows, UDM_SETBUDDY, reinterpret_cast<WPARAM>(speSongNum), 0);
    FNumbers.push_back(
        std::make_unique<TWin32Number>(speSongNum, arrows, settings::kSongNumberRange));
    Place(Label(page, txt::Text(txt::Id::PcmFormatLabel), FFont), kMargin + 132, 102, -kMargin,
          kLabelHeight);
    Place(cmbPCMFormat = DropDownList(page, kPcmFormat, FFont), kMargin + 132, 118,
          -(kMargin + kStartWidth + 8), 200);
    // The page's default button: Enter anywhere on the page clicks it.
    Place(btnSingleDecode = Button(page, txt::Text(txt::Id::StartCaption), kSingleDecode, FBoldFont,
                                   BS_DEFPUSHBUTTON),
          -kMargin, 114, kStartWidth, kStartHeight);

    Place(pbrDecodeProgress = Bar(page, kDecodeProgress, FFont), kMargin, 154, -kMargin, 18);
    Place(lblProgress = Label(page, wndtext::kNoProgress, FBoldFont, SS_RIGHT | SS_NOPREFIX),
          kMargin, 178, -kMargin, 20);
}

void TfrmMain::CreateMultipleFilesPage()
{
    HWND page = tbsMultipleFiles = CreatePage();
    Place(Label(page, txt::Text(txt::Id::KbmFileLabel), FFont), kMargin, 8, -kMargin, kLabelHeight);
    Place(lbeKbmFile = Edit(page, kKbmFile, FFont), kMargin, 24, -(kMargin + kButtonWidth + 6),
          kEditHeight);
    Place(btnBrowseForKbm =
              Button(page, txt::Text(txt::Id::BrowseKbmCaption), kBrowseForKbm, FFont),
          -kMargin, 23, kButtonWidth, kButtonHeight);
    Place(Label(page, txt::Text(txt::Id::PcmFormatLabel), FFont), kMargin, 54, -kMargin,
          kLabelHeight);
    Place(cmbPcmFormatForMulti = DropDownList(page, kPcmFormatForMulti, FFont), kMargin, 70,
          -(kMargin + kStartWidth + 8), 200);
    Place(btnStartMultiDecode = Button(page, txt::Text(txt::Id::StartCaption), kStartMultiDecode,
                                       FBoldFont, BS_DEFPUSHBUTTON),
          -kMargin, 66, kStartWidth, kStartHeight);
    Place(pbrIndivProgress = Bar(page, kIndivProgress, FFont), kMargin, 106, -kMargin, 18);
    Place(lblIndivProgress = Label(page, wndtext::kNoProgress, FBoldFont, SS_RIGHT | SS_NOPREFIX),
          kMargin, 130, -kMargin, 20);
}

void TfrmMain::CreateSettingsPage()
{
    HWND page = tbsSettings = CreatePage();
    lvwDecodeSettings = Child(page, WC_LISTVIEWW, "",
                              WS_TABSTOP | LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS |
                                  LVS_EDITLABELS | LVS_NOSORTHEADER,
                              kSettingsList, FFont, WS_EX_CLIENTEDGE);
    SendMessageW(lvwDecodeSettings, LVM_SETEXTENDEDLISTVIEWSTYLE,
                 LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES, LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES);
    for (int column = 0; column < 6; ++column) {
        std::wstring caption = Wide(txt::Text(wndtext::kSettingColumns[column]));
        LVCOLUMNW info{};
        info.mask = LVCF_TEXT | LVCF_FMT | LVCF_WIDTH | LVCF_SUBITEM;
        info.fmt = column == 0 ? LVCFMT_LEFT : LVCFMT_RIGHT; // numbers to the right
        info.cx = Scaled(80);
        info.pszText = caption.data();
        info.iSubItem = column;
        SendMessageW(lvwDecodeSettings, LVM_INSERTCOLUMNW, static_cast<WPARAM>(column),
                     reinterpret_cast<LPARAM>(&info));
    }
    Place(lvwDecodeSettings, kMargin, 6, -kMargin, 92);

    Place(btnAddSetting = Button(page, txt::Text(txt::Id::AddSettingCaption), kAddSetting, FFont),
          kMargin, 104, kButtonWidth, kButtonHeight);
    Place(btnRenameSetting =
              Button(page, txt::Text(txt::Id::RenameSettingCaption), kRenameSetting, FFont),
          kMargin + kButtonWidth + 6, 104, kButtonWidth, kButtonHeight);
    Place(btnDeleteSetting =
              Button(page, txt::Text(txt::Id::DeleteSettingCaption), kDeleteSetting, FFont),
          kMargin + 2 * (kButtonWidth + 6), 104, kButtonWidth, kButtonHeight);
    EnableWindow(btnRenameSetting, FALSE);
    EnableWindow(btnDeleteSetting, FALSE);

    Place(grpModifySetting = Child(page, WC_BUTTONW, wndtext::InitialSettingGroupCaption(),
                                   BS_GROUPBOX, kModifySetting, FFont),
          kMargin, 132, -kMargin, 96);
    std::vector<HWND> members;
    const int left = kMargin + 10, column = 124;
    const auto label = [&](const char* text, int x, int y, int width) {
        HWND control = Label(page, text, FFont);
        Place(control, x, y, width, kLabelHeight);
        members.push_back(control);
    };
    const auto number = [&](int id, int arrowsId, const settings::NumberRange& range, int x,
                            int y) {
        HWND edit = Edit(page, id, FFont);
        SendMessageW(edit, EM_SETLIMITTEXT, 11, 0);
        Place(edit, x, y, 76, kEditHeight);
        HWND arrows = Child(page, UPDOWN_CLASSW, "",
                            UDS_ALIGNRIGHT | UDS_SETBUDDYINT | UDS_ARROWKEYS | UDS_NOTHOUSANDS,
                            arrowsId, FFont);
        SendMessageW(arrows, UDM_SETBUDDY, reinterpret_cast<WPARAM>(edit), 0);
        FNumbers.push_back(std::make_unique<TWin32Number>(edit, arrows, range));
        members.push_back(edit);
        members.push_back(arrows);
        return edit;
    };
    label(txt::Text(txt::Id::SamplingFrequencyLabel), left, 148, column - 6);
    speSamplingFrequency = number(kSamplingFrequency, kSamplingFrequencyArrows,
                                  settings::kSamplingFrequencyRange, left, 164);
    label(txt::Text(txt::Id::SampleFormatLabel), left + column, 148, column - 6);
    cmbSampleFormat = DropDownList(page, kSampleFormat, FFont);
    Place(cmbSampleFormat, left + column, 164, 76, 120);
    members.push_back(cmbSampleFormat);
    label(txt::Text(txt::Id::ChannelsLabel), left + 2 * column, 148, column - 6);
    speChannels =
        number(kChannels, kChannelsArrows, settings::kChannelsRange, left + 2 * column, 164);
    label(txt::Text(txt::Id::DefaultLengthLabel), left, 190, column - 6);
    speDefaultLength =
        number(kDefaultLength, kDefaultLengthArrows, settings::kDefaultLengthRange, left, 205);
    label(txt::Text(txt::Id::DefaultLengthUnit), left + 80, 209, 36);
    label(txt::Text(txt::Id::FadeoutLengthLabel), left + column, 190, column + 20);
    speFadeoutLength = number(kFadeoutLength, kFadeoutLengthArrows, settings::kFadeoutLengthRange,
                              left + column, 205);
    label(txt::Text(txt::Id::FadeoutLengthUnit), left + column + 80, 209, 36);
    FSettingGroup = std::make_unique<TWin32Group>(grpModifySetting, std::move(members));
}

void TfrmMain::CreateAboutPage()
{
    HWND page = tabAbout = CreatePage();
    Place(Label(page, wndtext::kAboutTitle, FTitleFont, SS_LEFT | SS_NOPREFIX), kMargin, 4,
          -kMargin, 38);
    Place(Label(page, "", FFont, SS_ETCHEDHORZ), kMargin, 44, -kMargin, 2);
    Place(lblVersion = Label(page, "", FVersionFont, SS_RIGHT | SS_NOPREFIX), kMargin, 50, -kMargin,
          20);
    std::string credits;
    for (const txt::Id line : wndtext::kCredits)
        credits += std::string(credits.empty() ? "" : "\r\n") + txt::Text(line);
    memCredits = Child(page, WC_EDITW, credits,
                       WS_TABSTOP | WS_VSCROLL | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL,
                       kCredits, FFont, WS_EX_CLIENTEDGE);
    Place(memCredits, kMargin, 74, -kMargin, 98);
    // Links as the system draws them: underlined, in its link colour, with a hand cursor, and
    // reachable with Tab and Enter.
    const auto link = [&](const char* address, int id, int top) {
        HWND control = Child(page, WC_LINK, std::string("<a>") + address + "</a>",
                             WS_TABSTOP | LWS_RIGHT, id, FFont);
        FLinkCaptions[control] = address;
        // As wide as its text and kept at the right edge, so that it is right-aligned whether
        // or not the link control aligns its text itself.
        SIZE ideal{};
        // Since Windows Vista the link control fills in its ideal size here (LM_GETIDEALSIZE).
        SendMessageW(control, LM_GETIDEALHEIGHT, 1000, reinterpret_cast<LPARAM>(&ideal));
        if (ideal.cx <= 0) {
            HDC dc = GetDC(control);
            const HGDIOBJ old = SelectObject(dc, FFont);
            const std::wstring text = Wide(address);
            GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &ideal);
            SelectObject(dc, old);
            ReleaseDC(control, dc);
        }
        // Placed in lengths at 96 DPI, like everything else.
        Place(control, -kMargin, top,
              MulDiv(ideal.cx, static_cast<int>(win32dpi::kDesignDpi), static_cast<int>(FDpi)) + 4,
              18);
        return control;
    };
    lblQuenzWeb = link(wndtext::kWebAddress, kQuenzWeb, 180);
    lblEmail = link(wndtext::kMailAddress, kEmail, 202);
}

void TfrmMain::CreateLogPanel()
{
    lstLog = Child(FHandle, WC_LISTBOXW, "",
                   WS_TABSTOP | WS_VSCROLL | WS_HSCROLL | LBS_OWNERDRAWFIXED | LBS_HASSTRINGS |
                       LBS_NOINTEGRALHEIGHT | LBS_NOTIFY | LBS_WANTKEYBOARDINPUT,
                   kLog, FFont, WS_EX_CLIENTEDGE);
    CreateLogIcons();
    pmnuLog = CreatePopupMenu();
    AppendMenuW(pmnuLog, MF_STRING, kCopyLogEntry,
                (Wide(txt::Text(txt::Id::CopyLogEntryCaption)) + L"\tCtrl+C").c_str());
    AppendMenuW(pmnuLog, MF_STRING, kSaveLogs,
                (Wide(txt::Text(txt::Id::SaveLogsCaption)) + L"\tCtrl+S").c_str());
}

void TfrmMain::Layout()
{
    RECT client{};
    GetClientRect(FHandle, &client);
    const int width = client.right, height = client.bottom;
    // The tabs keep the room their pages need; the splitter never lets the log vanish.
    const int splitter = Scaled(kSplitterHeight);
    FTabHeight =
        std::max(Scaled(kInitialTabHeight), std::min(FTabHeight, height - splitter - Scaled(32)));
    MoveWindow(pgDecodeMode, 0, 0, width, FTabHeight, TRUE);
    MoveWindow(lstLog, 0, FTabHeight + splitter, width, std::max(0, height - FTabHeight - splitter),
               TRUE);
    RECT display{0, 0, width, FTabHeight};
    SendMessageW(pgDecodeMode, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&display));
    for (HWND page : FPages)
        MoveWindow(page, display.left, display.top, display.right - display.left,
                   display.bottom - display.top, TRUE);
    LayoutPages();
}

void TfrmMain::LayoutPages()
{
    for (const Placement& p : FPlacements) {
        RECT page{};
        GetClientRect(GetParent(p.Control), &page);
        const int placeLeft = Scaled(p.Left), placeWidth = Scaled(p.Width);
        const int width = p.Width > 0 ? placeWidth : page.right - placeLeft + placeWidth;
        const int left = p.Left >= 0 ? placeLeft : page.right + placeLeft - width;
        MoveWindow(p.Control, left, Scaled(p.Top), std::max(width, 0), Scaled(p.Height), TRUE);
    }
    // The arrows sit inside their edit's place again.
    for (const auto& number : FNumbers)
        SendMessageW(number->Arrows(), UDM_SETBUDDY, reinterpret_cast<WPARAM>(number->Edit()), 0);
}

namespace {

// The fonts of a DPI change: every control that shows an old font gets its new face.
struct FontChange {
    HFONT Old[4];
    HFONT New[4];
};

BOOL CALLBACK ChangeFont(HWND control, LPARAM change)
{
    const auto& fonts = *reinterpret_cast<const FontChange*>(change);
    const auto font = reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0));
    for (size_t i = 0; i < std::size(fonts.Old); ++i)
        if (font != nullptr && font == fonts.Old[i]) {
            SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(fonts.New[i]), FALSE);
            break;
        }
    return TRUE;
}

} // namespace

void TfrmMain::ChangeDpi(UINT dpi, const RECT& suggested)
{
    if (dpi != 0 && dpi != FDpi) {
        FTabHeight = MulDiv(FTabHeight, static_cast<int>(dpi), static_cast<int>(FDpi));
        FDpi = dpi;
        FontChange fonts{{FFont, FBoldFont, FTitleFont, FVersionFont}, {}};
        CreateFonts();
        const HFONT created[] = {FFont, FBoldFont, FTitleFont, FVersionFont};
        std::copy(std::begin(created), std::end(created), fonts.New);
        EnumChildWindows(FHandle, ChangeFont, reinterpret_cast<LPARAM>(&fonts));
        for (HFONT font : fonts.Old)
            DeleteObject(font);
        ImageList_Destroy(imlIcons);
        CreateLogIcons();
        SendMessageW(lstLog, LB_SETITEMHEIGHT, 0, Scaled(kLogLineHeight));
        if (FLogList)
            FLogList->SetDpi(FDpi);
        if (FSettingList)
            FSettingList->SetDpi(FDpi);
    }
    // The system's place for the window on its new monitor keeps it the same size to the eye.
    SetWindowPos(FHandle, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
                 suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
    Layout();
    InvalidateRect(FHandle, nullptr, TRUE);
}

void TfrmMain::ShowPage(int index)
{
    if (SendMessageW(pgDecodeMode, TCM_GETCURSEL, 0, 0) != index)
        SendMessageW(pgDecodeMode, TCM_SETCURSEL, static_cast<WPARAM>(index), 0);
    for (size_t i = 0; i < FPages.size(); ++i)
        ::ShowWindow(FPages[i], static_cast<int>(i) == index ? SW_SHOW : SW_HIDE);
}

// The adapters of the controls, made as the core's list asks for them, each told what its
// control reports.
struct TfrmMain::Adapters {
    TfrmMain& Window;

    template <class Adapter, class... Args> Adapter* Keep(Args&&... args)
    {
        auto adapter = std::make_shared<Adapter>(std::forward<Args>(args)...);
        Window.FAdapters.push_back(adapter);
        return adapter.get();
    }
    template <class Adapter> Adapter* Routed(HWND control, Adapter* adapter)
    {
        Window.FRoutes.Add(control, *adapter);
        return adapter;
    }

    IMainWindowView* View() { return &Window; }
    ITextControl* Text(HWND control) { return Keep<TWin32Text>(control); }
    ILinkControl* Link(HWND link)
    {
        return Routed(link, Keep<TWin32Link>(Window.FLinkCaptions.at(link)));
    }
    IButtonControl* Button(HWND button) { return Routed(button, Keep<TWin32Button>(button)); }
    IChoiceControl* Choice(HWND list) { return Routed(list, Keep<TWin32Choice>(list)); }
    IGaugeControl* Gauge(HWND bar) { return Keep<TWin32Gauge>(bar); }
    // The number boxes and the group were made with their controls, which they set up.
    INumberControl* Number(HWND edit)
    {
        for (const auto& number : Window.FNumbers)
            if (number->Edit() == edit)
                return Routed(number->Arrows(), Routed(edit, number.get()));
        return nullptr;
    }
    IGroupControl* Group(HWND) { return Window.FSettingGroup.get(); }
    ILogListControl* LogList(HWND list)
    {
        Window.FLogList = std::make_unique<TWin32LogList>(list);
        Window.FLogList->SetDpi(Window.FDpi);
        return Routed(list, Window.FLogList.get());
    }
    ISettingsListControl* SettingsList(HWND list)
    {
        Window.FSettingList = std::make_unique<TWin32SettingsList>(list);
        Window.FSettingList->SetDpi(Window.FDpi);
        return Routed(list, Window.FSettingList.get());
    }
    IMenuItemControl* MenuItem(UINT id)
    {
        TWin32MenuItem* item = Keep<TWin32MenuItem>();
        Window.FRoutes.AddMenuItem(id, *item);
        return item;
    }
    IClipboard* Clipboard() { return Keep<TWin32Clipboard>(Window.FHandle); }
};

TMainWndCore::Controls TfrmMain::CoreControls()
{
    Adapters make{*this};
    return NamedControls(*this, make);
}
