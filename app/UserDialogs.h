// Everything the program asks of the person in front of it, behind one small interface, so
// that tests answer for them and nothing waits for a person in a test.
#pragma once

#include <optional>
#include <string>

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
