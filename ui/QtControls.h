// The Qt window's controls behind the interfaces the shared window logic uses
// (app/WindowControls.h). Each adapter refers to a widget that the window owns and reports the
// widget's events to the handlers the interface carries: its signals and the events it filters
// reach them through the adapter's relay, a QObject that the adapter owns, so that nothing is
// reported to an adapter that is gone.
#pragma once

#include "app/WindowControls.h"

#include <QObject>
#include <Qt>

#include <memory>

class QAction;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QTreeWidget;

class TQtButton : public IButtonControl {
public:
    explicit TQtButton(QPushButton* button);
    std::string Caption() const override;
    void SetCaption(const std::string& caption) override;
    bool Enabled() const override;
    void SetEnabled(bool enabled) override;

private:
    QPushButton* FButton;
    std::unique_ptr<QObject> FRelay;
};

class TQtEdit : public ITextControl {
public:
    explicit TQtEdit(QLineEdit* edit) : FEdit(edit) {}
    std::string Text() const override;
    void SetText(const std::string& text) override;

private:
    QLineEdit* FEdit;
};

class TQtLabel : public ITextControl {
public:
    explicit TQtLabel(QLabel* label) : FLabel(label) {}
    std::string Text() const override;
    void SetText(const std::string& text) override;

private:
    QLabel* FLabel;
};

class TQtGroup : public IGroupControl {
public:
    explicit TQtGroup(QGroupBox* group) : FGroup(group) {}
    void SetCaption(const std::string& caption) override;
    void SetEnabled(bool enabled) override;

private:
    QGroupBox* FGroup;
};

class TQtChoice : public IChoiceControl {
public:
    explicit TQtChoice(QComboBox* list);
    void Clear() override;
    void Add(const std::string& text) override;
    int Count() const override;
    int Selected() const override;
    void Select(int index) override;
    std::string SelectedText() const override;

private:
    QComboBox* FList;
    std::unique_ptr<QObject> FRelay;
};

class TQtMenuItem : public IMenuItemControl {
public:
    explicit TQtMenuItem(QAction* action);

private:
    std::unique_ptr<QObject> FRelay;
};

// A label drawn as a link, clicked with the mouse.
class TQtLink : public ILinkControl {
public:
    explicit TQtLink(QLabel* label);
    std::string Caption() const override;

private:
    QLabel* FLabel;
    std::unique_ptr<QObject> FRelay;
};

class TQtClipboard : public IClipboard {
public:
    void Clear() override;
    void SetText(const std::string& text) override;
};

// The log list; each line keeps its icon index for the list's drawing.
class TQtLogList : public ILogListControl {
public:
    static constexpr int kIconRole = Qt::UserRole + 1;

    explicit TQtLogList(QListWidget* list);
    void Add(const std::string& line, int icon) override;
    std::optional<std::string> SelectedLine() const override;

private:
    QListWidget* FList;
    std::unique_ptr<QObject> FRelay;
};

// The settings list: a report of six columns, the name first, whose name column is edited in
// place.
class TQtSettingsList : public ISettingsListControl {
public:
    explicit TQtSettingsList(QTreeWidget* list);
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

private:
    QTreeWidget* FList;
    std::unique_ptr<QObject> FRelay;
};
