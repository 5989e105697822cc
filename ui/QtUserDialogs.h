// The program's questions to its user as Qt dialogs.
#pragma once

#include "app/UserDialogs.h"

#include <string>

class QWidget;

// The real dialogs, owned by the given window.
class TQtUserDialogs : public IUserDialogs {
public:
    explicit TQtUserDialogs(QWidget* owner) : FOwner(owner) {}
    void SetOwner(QWidget* owner) { FOwner = owner; }

    void ShowMessage(const std::string& caption, const std::string& text) override;
    void ShowError(const std::string& text) override;
    std::optional<std::string> SelectFolder(const std::string& startFolder) override;
    std::optional<std::string> OpenFile(const std::string& filter) override;
    std::optional<std::string> SaveFile(const std::string& filter) override;
    void OpenAddress(const std::string& address) override;

    // From now on no dialog is shown: messages are skipped and every question is answered as
    // cancelled; a dialog on screen is closed as if cancelled. For a program that is ending.
    void CancelAll();

private:
    QWidget* FOwner;
    bool FCancelled = false;
    std::string FLastSaveName;
};

// Turns "caption|pattern|caption|pattern" into Qt's "caption (pattern);;caption (pattern)".
std::string QtFilterText(const std::string& filter);
