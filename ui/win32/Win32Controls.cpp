#include "ui/win32/Win32Controls.h"

#include "app/DecodeSettingsTab.h"
#include "ui/win32/Dpi.h"

#include <commctrl.h>

#include <algorithm>
#include <cwctype>

namespace {

// Typed characters a number box takes: digits, signs and the decimal separator. Control
// characters (Backspace, Ctrl+letters) pass.
LRESULT CALLBACK NumberEditProc(HWND edit, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                DWORD_PTR)
{
    if (message == WM_CHAR && wParam >= 0x20) {
        wchar_t separator[4] = L".";
        GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, separator, 4);
        const wchar_t c = static_cast<wchar_t>(wParam);
        if (!std::iswdigit(c) && c != L'+' && c != L'-' && c != separator[0]) {
            MessageBeep(MB_OK);
            return 0;
        }
    }
    if (message == WM_NCDESTROY)
        RemoveWindowSubclass(edit, NumberEditProc, 0);
    return DefSubclassProc(edit, message, wParam, lParam);
}

std::wstring WideWindowText(HWND window)
{
    std::wstring text(static_cast<size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(
        static_cast<size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

} // namespace

std::wstring Wide(const std::string& text)
{
    if (text.empty())
        return std::wstring();
    // The core's texts are UTF-8; bytes that are not are read in the ANSI code page rather
    // than lost.
    UINT codePage = CP_UTF8;
    int size = MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(),
                                   static_cast<int>(text.size()), nullptr, 0);
    if (size == 0) {
        codePage = CP_ACP;
        size = MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr,
                                   0);
    }
    std::wstring wide(static_cast<size_t>(size), L'\0');
    MultiByteToWideChar(codePage, codePage == CP_UTF8 ? MB_ERR_INVALID_CHARS : 0, text.data(),
                        static_cast<int>(text.size()), wide.data(), size);
    return wide;
}

std::string Narrow(const std::wstring& text)
{
    if (text.empty())
        return std::string();
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string narrow(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), narrow.data(), size,
                        nullptr, nullptr);
    return narrow;
}

std::string WindowTextOf(HWND window)
{
    return Narrow(WideWindowText(window));
}

void SetWindowTextOf(HWND window, const std::string& text)
{
    SetWindowTextW(window, Wide(text).c_str());
}

namespace {

struct IdSearch {
    int Id;
    HWND Found;
};

BOOL CALLBACK MatchId(HWND child, LPARAM data)
{
    auto& search = *reinterpret_cast<IdSearch*>(data);
    if (GetDlgCtrlID(child) != search.Id)
        return TRUE;
    search.Found = child;
    return FALSE;
}

// A control somewhere below window with the given id (GetDlgItem looks at children only).
HWND DescendantWithId(HWND window, int id)
{
    IdSearch search{id, nullptr};
    EnumChildWindows(window, MatchId, reinterpret_cast<LPARAM>(&search));
    return search.Found;
}

} // namespace

TWin32Notified* TWin32Routes::Find(HWND control) const
{
    const auto found = FControls.find(control);
    return found == FControls.end() ? nullptr : found->second;
}

bool TWin32Routes::Command(HWND window, WPARAM wParam, LPARAM lParam) const
{
    auto control = reinterpret_cast<HWND>(lParam);
    if (control == nullptr) {
        if (const auto item = FMenuItems.find(LOWORD(wParam)); item != FMenuItems.end()) {
            item->second->Command(HIWORD(wParam));
            return true;
        }
        control = DescendantWithId(window, LOWORD(wParam));
    }
    TWin32Notified* adapter = control != nullptr ? Find(control) : nullptr;
    if (adapter == nullptr)
        return false; // IDOK and IDCANCEL from the dialog keys, among others
    adapter->Command(HIWORD(wParam));
    return true;
}

std::optional<LRESULT> TWin32Routes::Notify(const NMHDR& header) const
{
    if (TWin32Notified* adapter = Find(header.hwndFrom))
        return adapter->Notify(header);
    return std::nullopt;
}

std::optional<LRESULT> TWin32Routes::KeyToItem(WPARAM wParam, LPARAM lParam) const
{
    if (TWin32Notified* adapter = Find(reinterpret_cast<HWND>(lParam)))
        return adapter->KeyToItem(LOWORD(wParam));
    return std::nullopt;
}

void TWin32Button::Command(UINT code)
{
    // Enter for a page's default button is reported without a look at the button.
    if (code == BN_CLICKED && Enabled() && OnClick)
        OnClick();
}

void TWin32Text::SetText(const std::string& text)
{
    SetWindowTextOf(FHandle, text);
}

void TWin32Group::SetEnabled(bool enabled)
{
    EnableWindow(FHandle, enabled);
    for (HWND member : FMembers)
        EnableWindow(member, enabled);
}

TWin32Number::TWin32Number(HWND edit, HWND arrows, const settings::NumberRange& range)
    : FEdit(edit), FArrows(arrows), FRange(range)
{
    SendMessageW(FArrows, UDM_SETRANGE32, static_cast<WPARAM>(range.Minimum), range.Maximum);
    UDACCEL step{0, static_cast<UINT>(range.Step)};
    SendMessageW(FArrows, UDM_SETACCEL, 1, reinterpret_cast<LPARAM>(&step));
    SetWindowSubclass(FEdit, NumberEditProc, 0, 0);
    Show(range.Initial);
}

int32_t TWin32Number::Value() const
{
    return SpinValue(Text(), FRange);
}

void TWin32Number::SetValue(int32_t value)
{
    Show(std::clamp(value, FRange.Minimum, FRange.Maximum));
}

void TWin32Number::Show(int32_t value)
{
    // Setting the text the box already shows would report a change that did not happen.
    const std::string text = std::to_string(value);
    if (text != Text())
        SetWindowTextOf(FEdit, text);
}

void TWin32Number::Command(UINT code)
{
    if (code == EN_KILLFOCUS)
        Leave();
    else if (code == EN_CHANGE && OnChange)
        OnChange();
}

LRESULT TWin32Number::Notify(const NMHDR& header)
{
    if (header.hwndFrom != FArrows || header.code != UDN_DELTAPOS)
        return 0;
    // The box's own number steps, brought into range first; the arrows keep nothing.
    Step(reinterpret_cast<const NMUPDOWN&>(header).iDelta);
    return TRUE;
}

void TWin32Number::Leave()
{
    Show(Value());
}

void TWin32Number::Step(int delta)
{
    const int64_t stepped = int64_t(Value()) + delta;
    Show(static_cast<int32_t>(std::clamp<int64_t>(stepped, FRange.Minimum, FRange.Maximum)));
}

void TWin32Choice::Command(UINT code)
{
    if (code == CBN_SELCHANGE && OnChange)
        OnChange();
}

void TWin32Choice::Clear()
{
    SendMessageW(FHandle, CB_RESETCONTENT, 0, 0);
}

void TWin32Choice::Add(const std::string& text)
{
    SendMessageW(FHandle, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Wide(text).c_str()));
}

int TWin32Choice::Count() const
{
    return static_cast<int>(SendMessageW(FHandle, CB_GETCOUNT, 0, 0));
}

int TWin32Choice::Selected() const
{
    return static_cast<int>(SendMessageW(FHandle, CB_GETCURSEL, 0, 0));
}

void TWin32Choice::Select(int index)
{
    SendMessageW(FHandle, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

std::string TWin32Choice::SelectedText() const
{
    const int index = Selected();
    if (index < 0)
        return std::string();
    std::wstring text(static_cast<size_t>(SendMessageW(FHandle, CB_GETLBTEXTLEN, index, 0)) + 1,
                      L'\0');
    text.resize(static_cast<size_t>(
        SendMessageW(FHandle, CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(text.data()))));
    return Narrow(text);
}

void TWin32Gauge::SetRange(int32_t maximum)
{
    SendMessageW(FHandle, PBM_SETRANGE32, 0, maximum);
}

int32_t TWin32Gauge::Position() const
{
    return static_cast<int32_t>(SendMessageW(FHandle, PBM_GETPOS, 0, 0));
}

void TWin32Gauge::SetPosition(int32_t position)
{
    SendMessageW(FHandle, PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

void TWin32LogList::Add(const std::string& line, int icon)
{
    const std::wstring text = Wide(line);
    const LRESULT index =
        SendMessageW(FHandle, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
    if (index < 0)
        return;
    SendMessageW(FHandle, LB_SETITEMDATA, static_cast<WPARAM>(index), icon);
    // Selecting the new line also scrolls it into view.
    SendMessageW(FHandle, LB_SETCURSEL, static_cast<WPARAM>(index), 0);
    Measure(text);
}

void TWin32LogList::Measure(const std::wstring& text)
{
    // A line wider than the list can be scrolled to: the icon's room, the text, a margin.
    if (HDC dc = GetDC(FHandle)) {
        const HGDIOBJ old =
            SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(FHandle, WM_GETFONT, 0, 0)));
        SIZE size{};
        GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
        SelectObject(dc, old);
        ReleaseDC(FHandle, dc);
        const int width = win32dpi::Scale(kTextLeft + 4, FDpi) + size.cx;
        if (width > FWidest) {
            FWidest = width;
            SendMessageW(FHandle, LB_SETHORIZONTALEXTENT, static_cast<WPARAM>(FWidest), 0);
        }
    }
}

void TWin32LogList::SetDpi(UINT dpi)
{
    FDpi = dpi;
    FWidest = 0;
    const auto count = SendMessageW(FHandle, LB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        std::wstring text(static_cast<size_t>(SendMessageW(FHandle, LB_GETTEXTLEN, i, 0)) + 1,
                          L'\0');
        text.resize(static_cast<size_t>(
            SendMessageW(FHandle, LB_GETTEXT, i, reinterpret_cast<LPARAM>(text.data()))));
        Measure(text);
    }
    SendMessageW(FHandle, LB_SETHORIZONTALEXTENT, static_cast<WPARAM>(FWidest), 0);
}

LRESULT TWin32LogList::KeyToItem(WORD key)
{
    // Ctrl is held, whatever other modifiers are, for the list's commands.
    const bool control = GetKeyState(VK_CONTROL) < 0;
    return OnKeyDown && OnKeyDown(static_cast<char>(key), control) ? -2 : -1;
}

std::optional<std::string> TWin32LogList::SelectedLine() const
{
    const LRESULT index = SendMessageW(FHandle, LB_GETCURSEL, 0, 0);
    if (index < 0)
        return std::nullopt;
    std::wstring text(static_cast<size_t>(SendMessageW(FHandle, LB_GETTEXTLEN, index, 0)) + 1,
                      L'\0');
    text.resize(static_cast<size_t>(
        SendMessageW(FHandle, LB_GETTEXT, index, reinterpret_cast<LPARAM>(text.data()))));
    return Narrow(text);
}

int TWin32SettingsList::Count() const
{
    return static_cast<int>(SendMessageW(FHandle, LVM_GETITEMCOUNT, 0, 0));
}

DecodeSettingRow TWin32SettingsList::Row(int index) const
{
    const auto cell = [&](int column) {
        std::wstring text(64, L'\0');
        for (;;) {
            LVITEMW item{};
            item.iSubItem = column;
            item.pszText = text.data();
            item.cchTextMax = static_cast<int>(text.size());
            const auto length = static_cast<size_t>(SendMessageW(FHandle, LVM_GETITEMTEXTW,
                                                                 static_cast<WPARAM>(index),
                                                                 reinterpret_cast<LPARAM>(&item)));
            if (length + 1 < text.size()) {
                text.resize(length);
                return Narrow(text);
            }
            text.resize(text.size() * 2);
        }
    };
    DecodeSettingRow row;
    row.Name = cell(0);
    for (int i = 0; i < 5; ++i)
        row.Values[i] = cell(i + 1);
    return row;
}

void TWin32SettingsList::SetCell(int index, int column, const std::string& text)
{
    std::wstring wide = Wide(text);
    LVITEMW item{};
    item.iSubItem = column;
    item.pszText = wide.data();
    SendMessageW(FHandle, LVM_SETITEMTEXTW, static_cast<WPARAM>(index),
                 reinterpret_cast<LPARAM>(&item));
    FitColumns();
}

void TWin32SettingsList::FitColumns()
{
    // Each column as wide as its widest text or its caption, measured in the list's own font
    // (the list's own sizing misjudges captions drawn with a linked font).
    const auto width = [this](const std::wstring& text) {
        return static_cast<int>(
            SendMessageW(FHandle, LVM_GETSTRINGWIDTHW, 0, reinterpret_cast<LPARAM>(text.c_str())));
    };
    HWND header = reinterpret_cast<HWND>(SendMessageW(FHandle, LVM_GETHEADER, 0, 0));
    const int rows = Count();
    for (int column = 0; column < 6; ++column) {
        wchar_t caption[64] = L"";
        HDITEMW item{};
        item.mask = HDI_TEXT;
        item.pszText = caption;
        item.cchTextMax = 64;
        SendMessageW(header, HDM_GETITEMW, static_cast<WPARAM>(column),
                     reinterpret_cast<LPARAM>(&item));
        int widest = width(caption) + win32dpi::Scale(16, FDpi);
        for (int row = 0; row < rows; ++row) {
            const DecodeSettingRow texts = Row(row);
            const std::string& text = column == 0 ? texts.Name : texts.Values[column - 1];
            widest = std::max(widest, width(Wide(text)) + win32dpi::Scale(14, FDpi));
        }
        SendMessageW(FHandle, LVM_SETCOLUMNWIDTH, static_cast<WPARAM>(column), widest);
    }
}

void TWin32SettingsList::SetDpi(UINT dpi)
{
    FDpi = dpi;
    FitColumns();
}

void TWin32SettingsList::Add(const DecodeSettingRow& row)
{
    std::wstring name = Wide(row.Name);
    LVITEMW item{};
    item.mask = LVIF_TEXT;
    item.iItem = Count();
    item.pszText = name.data();
    const int index = static_cast<int>(
        SendMessageW(FHandle, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
    for (int i = 0; i < 5; ++i)
        SetCell(index, i + 1, row.Values[i]);
    FitColumns();
}

void TWin32SettingsList::SetName(int index, const std::string& name)
{
    SetCell(index, 0, name);
}

void TWin32SettingsList::SetValue(int index, DecodeSettingColumn column, const std::string& text)
{
    SetCell(index, column + 1, text);
}

void TWin32SettingsList::Remove(int index)
{
    FQuiet = true;
    SendMessageW(FHandle, LVM_DELETEITEM, static_cast<WPARAM>(index), 0);
    FQuiet = false;
}

void TWin32SettingsList::Clear()
{
    FQuiet = true;
    SendMessageW(FHandle, LVM_DELETEALLITEMS, 0, 0);
    FQuiet = false;
}

int TWin32SettingsList::Selected() const
{
    return static_cast<int>(
        SendMessageW(FHandle, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
}

void TWin32SettingsList::Select(int index)
{
    LVITEMW item{};
    item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    item.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageW(FHandle, LVM_SETITEMSTATE, static_cast<WPARAM>(index),
                 reinterpret_cast<LPARAM>(&item));
    SendMessageW(FHandle, LVM_ENSUREVISIBLE, static_cast<WPARAM>(index), FALSE);
}

void TWin32SettingsList::ClearSelection()
{
    FQuiet = true;
    LVITEMW item{};
    item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageW(FHandle, LVM_SETITEMSTATE, static_cast<WPARAM>(-1),
                 reinterpret_cast<LPARAM>(&item));
    FQuiet = false;
}

void TWin32SettingsList::EditName(int index)
{
    SetFocus(FHandle);
    SendMessageW(FHandle, LVM_EDITLABELW, static_cast<WPARAM>(index), 0);
}

LRESULT TWin32SettingsList::Notify(const NMHDR& header)
{
    if (header.code == LVN_ITEMCHANGED && !FQuiet) {
        const auto& change = reinterpret_cast<const NMLISTVIEW&>(header);
        const UINT changed = change.uOldState ^ change.uNewState;
        if ((change.uChanged & LVIF_STATE) == 0 || change.iItem < 0)
            return 0;
        if ((changed & LVIS_SELECTED) != 0 && OnSelectionChanged) {
            if ((change.uNewState & LVIS_SELECTED) != 0)
                OnSelectionChanged(-1, change.iItem);
            else
                OnSelectionChanged(change.iItem, -1);
        }
        if ((changed & LVIS_FOCUSED) != 0 && OnCurrentChanged)
            OnCurrentChanged();
    } else if (header.code == NM_CLICK) {
        if (OnClick)
            OnClick();
    } else if (header.code == LVN_BEGINLABELEDITW) {
        FConfirmedName.reset();
        HWND editor = reinterpret_cast<HWND>(SendMessageW(FHandle, LVM_GETEDITCONTROL, 0, 0));
        if (editor != nullptr)
            SetWindowSubclass(editor, NameEditProc, 0, reinterpret_cast<DWORD_PTR>(this));
        return FALSE;
    } else if (header.code == LVN_ENDLABELEDITW) {
        const auto& edit = reinterpret_cast<const NMLVDISPINFOW&>(header);
        // The list reports no text for a cancel, but some lists also for an empty or an
        // unchanged name: what the editor held when it was confirmed says which.
        const std::optional<std::wstring> name =
            edit.item.pszText != nullptr ? std::optional<std::wstring>(edit.item.pszText)
                                         : FConfirmedName;
        FConfirmedName.reset();
        // The handler takes the name into the row itself, or refuses it and says why.
        if (name && OnEdited)
            OnEdited(edit.item.iItem, Narrow(*name));
        return FALSE;
    }
    return 0;
}

LRESULT CALLBACK TWin32SettingsList::NameEditProc(HWND edit, UINT message, WPARAM wParam,
                                                  LPARAM lParam, UINT_PTR, DWORD_PTR data)
{
    auto* self = reinterpret_cast<TWin32SettingsList*>(data);
    if (message == WM_KEYDOWN && wParam == VK_RETURN)
        self->FConfirmedName = WideWindowText(edit);
    else if (message == WM_KEYDOWN && wParam == VK_ESCAPE)
        self->FConfirmedName.reset();
    else if (message == WM_KILLFOCUS)
        self->FConfirmedName = WideWindowText(edit); // leaving confirms, as Enter does
    else if (message == WM_NCDESTROY)
        RemoveWindowSubclass(edit, NameEditProc, 0);
    return DefSubclassProc(edit, message, wParam, lParam);
}

LRESULT TWin32Link::Notify(const NMHDR& header)
{
    if ((header.code == NM_CLICK || header.code == NM_RETURN) && OnClick)
        OnClick();
    return 0;
}

void TWin32MenuItem::Command(UINT)
{
    if (OnClick)
        OnClick();
}

namespace {

// The clipboard may be held by another program for a moment.
bool OpenClipboardFor(HWND owner)
{
    for (int attempt = 0; attempt < 10; ++attempt) {
        if (OpenClipboard(owner))
            return true;
        Sleep(10);
    }
    return false;
}

} // namespace

void TWin32Clipboard::Clear()
{
    if (!OpenClipboardFor(FOwner))
        return;
    EmptyClipboard();
    CloseClipboard();
}

void TWin32Clipboard::SetText(const std::string& text)
{
    const std::wstring wide = Wide(text);
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, (wide.size() + 1) * sizeof(wchar_t));
    if (memory == nullptr)
        return;
    if (auto* target = static_cast<wchar_t*>(GlobalLock(memory))) {
        std::copy(wide.c_str(), wide.c_str() + wide.size() + 1, target);
        GlobalUnlock(memory);
    }
    if (!OpenClipboardFor(FOwner)) {
        GlobalFree(memory);
        return;
    }
    EmptyClipboard();
    if (SetClipboardData(CF_UNICODETEXT, memory) == nullptr)
        GlobalFree(memory); // the clipboard took nothing
    CloseClipboard();
}
