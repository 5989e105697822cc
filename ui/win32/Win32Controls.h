// The Win32 window's controls behind the interfaces the shared window logic uses
// (app/WindowControls.h). Each adapter refers to a control window that the main window owns.
// Texts cross here: the core's UTF-8 becomes UTF-16 for the wide API and back.
//
// Events: a control reports what happens to it to its parent (WM_COMMAND, WM_NOTIFY,
// WM_VKEYTOITEM). The parent finds the control's adapter by the window handle that sent the
// message (TWin32Routes) and hands it over; the adapter turns it into its interface's events,
// so that the window procedure needs no switch over control ids.
#pragma once

#include "app/SettingsLayout.h"
#include "app/WindowControls.h"

#include <windows.h>

#include <commctrl.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

std::wstring Wide(const std::string& text);
std::string Narrow(const std::wstring& text);
std::string WindowTextOf(HWND window);
void SetWindowTextOf(HWND window, const std::string& text);

// What a control reports to its parent, handed back to the control's adapter.
class TWin32Notified {
public:
    virtual ~TWin32Notified() = default;
    // WM_COMMAND, with its notification code.
    virtual void Command(UINT) {}
    // WM_NOTIFY; the parent returns what this returns.
    virtual LRESULT Notify(const NMHDR&) { return 0; }
    // WM_VKEYTOITEM of a list box that wants the keys: -2 when the key was used, -1 for the
    // list box's own handling.
    virtual LRESULT KeyToItem(WORD) { return -1; }
};

// The adapters of a window's controls by the controls' window handles, and of its menu items
// by their command ids: where the window hands on what its controls report.
class TWin32Routes {
public:
    void Add(HWND control, TWin32Notified& adapter) { FControls[control] = &adapter; }
    void AddMenuItem(UINT id, TWin32Notified& adapter) { FMenuItems[id] = &adapter; }

    // The window's messages; false (or nothing) when no adapter takes them. A WM_COMMAND
    // without a control's handle comes from a menu item, or from the dialog keys' Enter for a
    // default button that the system did not look up: window is where that button is found.
    bool Command(HWND window, WPARAM wParam, LPARAM lParam) const;
    std::optional<LRESULT> Notify(const NMHDR& header) const;
    std::optional<LRESULT> KeyToItem(WPARAM wParam, LPARAM lParam) const;

private:
    TWin32Notified* Find(HWND control) const;

    std::map<HWND, TWin32Notified*> FControls;
    std::map<UINT, TWin32Notified*> FMenuItems;
};

class TWin32Button : public IButtonControl, public TWin32Notified {
public:
    explicit TWin32Button(HWND button) : FHandle(button) {}
    std::string Caption() const override { return WindowTextOf(FHandle); }
    void SetCaption(const std::string& caption) override { SetWindowTextOf(FHandle, caption); }
    bool Enabled() const override { return IsWindowEnabled(FHandle) != FALSE; }
    void SetEnabled(bool enabled) override { EnableWindow(FHandle, enabled); }
    void Command(UINT code) override;

private:
    HWND FHandle;
};

// An edit box or a label.
class TWin32Text : public ITextControl {
public:
    explicit TWin32Text(HWND control) : FHandle(control) {}
    std::string Text() const override { return WindowTextOf(FHandle); }
    void SetText(const std::string& text) override;

private:
    HWND FHandle;
};

// A group box and the controls inside it, which are its siblings in Win32.
class TWin32Group : public IGroupControl {
public:
    TWin32Group(HWND group, std::vector<HWND> members)
        : FHandle(group), FMembers(std::move(members))
    {}
    void SetCaption(const std::string& caption) override { SetWindowTextOf(FHandle, caption); }
    void SetEnabled(bool enabled) override;

private:
    HWND FHandle;
    std::vector<HWND> FMembers;
};

// An edit box with an up-down control as its buddy. The edit takes digits, signs and the
// decimal separator; what it holds is brought into the range when it is left (Leave) and when
// the arrows are used (Step), never while it is typed. Both the edit and the arrows report to
// it.
class TWin32Number : public INumberControl, public TWin32Notified {
public:
    TWin32Number(HWND edit, HWND arrows, const settings::NumberRange& range);
    std::string Text() const override { return WindowTextOf(FEdit); }
    int32_t Value() const override;
    void SetValue(int32_t value) override;
    void Command(UINT code) override;
    LRESULT Notify(const NMHDR& header) override;

    // The edit lost the focus.
    void Leave();
    // The arrows (or the arrow keys) asked for a change by delta, a step of the box's range.
    void Step(int delta);
    HWND Edit() const { return FEdit; }
    HWND Arrows() const { return FArrows; }

private:
    void Show(int32_t value);

    HWND FEdit;
    HWND FArrows;
    settings::NumberRange FRange;
};

// A drop-down list (CBS_DROPDOWNLIST).
class TWin32Choice : public IChoiceControl, public TWin32Notified {
public:
    explicit TWin32Choice(HWND combo) : FHandle(combo) {}
    void Command(UINT code) override;
    void Clear() override;
    void Add(const std::string& text) override;
    int Count() const override;
    int Selected() const override;
    void Select(int index) override;
    std::string SelectedText() const override;

private:
    HWND FHandle;
};

// A progress bar (PBS_SMOOTH); 32-bit ranges, since songs last longer than 65535 ms.
class TWin32Gauge : public IGaugeControl {
public:
    explicit TWin32Gauge(HWND bar) : FHandle(bar) {}
    void SetRange(int32_t maximum) override;
    int32_t Position() const override;
    void SetPosition(int32_t position) override;

private:
    HWND FHandle;
};

// The log list: an owner-drawn list box whose item data is the line's icon index. A line is
// drawn with its icon kIconLeft pixels from the left and its text kTextLeft pixels from it
// (lengths at 96 DPI).
class TWin32LogList : public ILogListControl, public TWin32Notified {
public:
    static constexpr int kIconLeft = 2;
    static constexpr int kTextLeft = 22;

    explicit TWin32LogList(HWND list) : FHandle(list) {}
    void Add(const std::string& line, int icon) override;
    std::optional<std::string> SelectedLine() const override;
    LRESULT KeyToItem(WORD key) override;
    // The list is drawn for dpi from now on (its font already set): the lines are measured
    // again for the horizontal scroll bar.
    void SetDpi(UINT dpi);

private:
    void Measure(const std::wstring& text);

    HWND FHandle;
    UINT FDpi = 96;
    int FWidest = 0; // of the lines so far, for the horizontal scroll bar
};

// The settings list: a report list view of six columns, the name first, edited in place.
// Selection changes it makes itself are not reported (Quiet).
class TWin32SettingsList : public ISettingsListControl, public TWin32Notified {
public:
    explicit TWin32SettingsList(HWND list) : FHandle(list) {}
    LRESULT Notify(const NMHDR& header) override;
    int Count() const override;
    DecodeSettingRow Row(int index) const override;
    void Add(const DecodeSettingRow& row) override;
    void SetName(int index, const std::string& name) override;
    void SetValue(int index, DecodeSettingColumn column, const std::string& text) override;
    void Remove(int index) override;
    void Clear() override;
    int Selected() const override;
    void Select(int index) override;
    void ClearSelection() override;
    void EditName(int index) override;

    // Whether the list's notifications come from a change made here without reporting.
    bool Quiet() const { return FQuiet; }
    // The list is drawn for dpi from now on (its font already set): the columns are fitted
    // again.
    void SetDpi(UINT dpi);

private:
    static LRESULT CALLBACK NameEditProc(HWND edit, UINT message, WPARAM wParam, LPARAM lParam,
                                         UINT_PTR id, DWORD_PTR self);
    void SetCell(int index, int column, const std::string& text);
    void FitColumns();

    HWND FHandle;
    UINT FDpi = 96;
    bool FQuiet = false;
    // The name editor while it is open: the text the user confirmed (by Enter or by leaving
    // it), none while it is open or after Escape.
    std::optional<std::wstring> FConfirmedName;
};

// A link control (SysLink) that shows one address.
class TWin32Link : public ILinkControl, public TWin32Notified {
public:
    explicit TWin32Link(std::string caption) : FCaption(std::move(caption)) {}
    std::string Caption() const override { return FCaption; }
    LRESULT Notify(const NMHDR& header) override;

private:
    std::string FCaption;
};

// An item of a popup menu, known by its command id.
class TWin32MenuItem : public IMenuItemControl, public TWin32Notified {
public:
    void Command(UINT code) override;
};

class TWin32Clipboard : public IClipboard {
public:
    explicit TWin32Clipboard(HWND owner) : FOwner(owner) {}
    void Clear() override;
    void SetText(const std::string& text) override;

private:
    HWND FOwner;
};
