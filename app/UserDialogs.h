// Everything the program asks of the person in front of it, behind one small interface, so
// that tests answer for them and nothing waits for a person in a test.
#pragma once

#include <optional>
#include <string>

class QWidget;

class IUserDialogs {
public:
    virtual ~IUserDialogs() = default;

    // A message box with an OK button only.
    virtual void ShowMessage(const std::string& caption, const std::string& text) = 0;
    // The application's standard error box for an unexpected failure.
    virtual void ShowError(const std::string& text) = 0;
    // A folder chosen under startFolder (no creation of folders); nothing when cancelled.
    virtual std::optional<std::string> SelectFolder(const std::string& startFolder) = 0;
    // An existing file; filter is "caption|pattern|caption|pattern...".
    virtual std::optional<std::string> OpenFile(const std::string& filter) = 0;
    // A file to write; asks before overwriting an existing file and before creating a new one.
    // The name chosen last, in any use, is the starting name of the next.
    virtual std::optional<std::string> SaveFile(const std::string& filter) = 0;
    // Hands a web address or "mailto:" text to the desktop's default action.
    virtual void OpenAddress(const std::string& address) = 0;
};

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

private:
    QWidget* FOwner;
    std::string FLastSaveName;
};

// Turns "caption|pattern|caption|pattern" into Qt's "caption (pattern);;caption (pattern)".
std::string QtFilterText(const std::string& filter);
