// The controls of the main window as the window logic sees them. The Qt window and the Win32
// window each implement these small interfaces over their own controls; the logic in app/
// (MainWndCore, DecodeSettingsTab, ProgressGauge) reads and sets them without knowing which
// toolkit draws them, so that both windows behave alike. Texts are the core's byte strings; a
// window converts them at its own boundary. Everything here is called on the main thread.
//
// Events: a control carries its handlers (OnClick, OnChange, ...), which the window logic binds
// once, each to the handler named after the control and the event. A window's adapter only runs
// them when its toolkit reports the event, and runs nothing for a handler left unbound. A control
// reports what the user does and, where a contract below says so, what the logic sets; the
// logic binds its handlers once it has given the controls their first contents.
#pragma once

#include "app/DecodeSettings.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

// A push button. Its caption may carry an accelerator mark ("開始(&S)").
class IButtonControl {
public:
    virtual ~IButtonControl() = default;
    // A click, by the mouse, by the keyboard, or by Enter for a page's default button; never
    // while the button is disabled.
    std::function<void()> OnClick;
    virtual std::string Caption() const = 0;
    virtual void SetCaption(const std::string& caption) = 0;
    virtual bool Enabled() const = 0;
    virtual void SetEnabled(bool enabled) = 0;
};

// An edit box or a label.
class ITextControl {
public:
    virtual ~ITextControl() = default;
    virtual std::string Text() const = 0;
    virtual void SetText(const std::string& text) = 0;
};

// A group box: a caption over controls that are enabled and disabled together with it.
class IGroupControl {
public:
    virtual ~IGroupControl() = default;
    virtual void SetCaption(const std::string& caption) = 0;
    // The group and every control inside it, labels included.
    virtual void SetEnabled(bool enabled) = 0;
};

// A spin box: an edit for a whole number with arrows.
class INumberControl {
public:
    virtual ~INumberControl() = default;
    // Every change of the text: typed (also while it stands outside the range), by the arrows,
    // or set.
    std::function<void()> OnChange;
    // The text as it stands, possibly being typed.
    virtual std::string Text() const = 0;
    // The number the box holds, within its range.
    virtual int32_t Value() const = 0;
    // Shows value (brought into the box's range). When that changes the text, the box reports
    // the change as it reports a typed one.
    virtual void SetValue(int32_t value) = 0;
};

// A drop-down list of texts.
class IChoiceControl {
public:
    virtual ~IChoiceControl() = default;
    // The user picked an item.
    std::function<void()> OnChange;
    virtual void Clear() = 0;
    virtual void Add(const std::string& text) = 0;
    virtual int Count() const = 0;
    // The selected item's index, -1 when none is.
    virtual int Selected() const = 0;
    // Selects an item (-1: none). Not reported as the user's choice.
    virtual void Select(int index) = 0;
    virtual std::string SelectedText() const = 0;
};

// A progress bar from 0 to a maximum.
class IGaugeControl {
public:
    virtual ~IGaugeControl() = default;
    virtual void SetRange(int32_t maximum) = 0; // 0 to maximum; maximum is at least 1
    // The position shown; below 0 while the bar has never been given one.
    virtual int32_t Position() const = 0;
    virtual void SetPosition(int32_t position) = 0;
};

// The log list: one line per entry, each drawn with its icon (LogIconIndex).
class ILogListControl {
public:
    virtual ~ILogListControl() = default;
    // A key pressed while the list has the focus: its character (an upper-case letter for a
    // letter key) and whether Ctrl is held. True when the handler used the key, which then does
    // nothing else.
    std::function<bool(char key, bool control)> OnKeyDown;
    // Appends a line, selects it and scrolls it into view.
    virtual void Add(const std::string& line, int icon) = 0;
    // The selected line; nothing when no line is selected.
    virtual std::optional<std::string> SelectedLine() const = 0;
};

// An item of a popup menu.
class IMenuItemControl {
public:
    virtual ~IMenuItemControl() = default;
    // The item was chosen, from the menu or by its shortcut.
    std::function<void()> OnClick;
};

// A link: a text that the user clicks, or reaches with Tab and Enter.
class ILinkControl {
public:
    virtual ~ILinkControl() = default;
    // The link's text, without any markup the toolkit draws it with.
    virtual std::string Caption() const = 0;
    std::function<void()> OnClick;
};

// The system clipboard, for plain text.
class IClipboard {
public:
    virtual ~IClipboard() = default;
    virtual void Clear() = 0;
    virtual void SetText(const std::string& text) = 0;
};

// The list of decode settings: one row per setting, its name and its five values as texts. The
// rows are the settings; there is no other copy of them.
class ISettingsListControl {
public:
    virtual ~ISettingsListControl() = default;
    // The rows that one change of the selection deselected and selected (-1: none).
    std::function<void(int deselected, int selected)> OnSelectionChanged;
    // The current row changed.
    std::function<void()> OnCurrentChanged;
    // A click on the list, after the list has handled it.
    std::function<void()> OnClick;
    // The user confirmed a name typed in place (EditName). The list itself sets nothing.
    std::function<void(int index, const std::string& name)> OnEdited;

    virtual int Count() const = 0;
    virtual DecodeSettingRow Row(int index) const = 0;
    virtual void Add(const DecodeSettingRow& row) = 0;
    virtual void SetName(int index, const std::string& name) = 0;
    virtual void SetValue(int index, DecodeSettingColumn column, const std::string& text) = 0;
    // Removes a row without reporting a change of the selection.
    virtual void Remove(int index) = 0;
    virtual void Clear() = 0;
    // The selected row, -1 when none is.
    virtual int Selected() const = 0;
    // Selects a row and makes it the current one, as a click does, and scrolls it into view.
    // The change of selection is reported as a click's is.
    virtual void Select(int index) = 0;
    // Leaves no row selected or current, without reporting it.
    virtual void ClearSelection() = 0;
    // Starts the in-place editing of a row's name; the name typed is reported when the user
    // confirms it (OnEdited).
    virtual void EditName(int index) = 0;
};

// What the main window does as a whole: its tab control, the splash window it shows while it
// starts, and its own showing and closing.
class IMainWindowView {
public:
    virtual ~IMainWindowView() = default;
    // pgDecodeMode and its pages.
    virtual void SetPagesEnabled(bool enabled) = 0;
    virtual void ShowFirstPage() = 0;
    // The splash window, owned by the main window.
    virtual void ShowSplash() = 0;
    virtual void SetSplashStatus(const std::string& text) = 0;
    // Closes the splash window; it is freed when the message loop next runs.
    virtual void ReleaseSplash() = 0;
    // Lets the window messages that are waiting run, so that the windows repaint.
    virtual void ProcessMessages() = 0;
    virtual void ShowWindow() = 0;
    // Closes the main window as the user would, once the current handler has returned.
    virtual void CloseLater() = 0;
};
