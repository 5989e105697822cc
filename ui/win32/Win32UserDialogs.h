// The program's questions to its user as the system's own dialogs: message boxes, the common
// open and save dialogs, the shell's folder browser, and the shell for links.
#pragma once

#include "app/UserDialogs.h"

#include <windows.h>

#include <string>

class TWin32UserDialogs : public IUserDialogs {
public:
    explicit TWin32UserDialogs(HWND owner = nullptr) : FOwner(owner) {}
    void SetOwner(HWND owner) { FOwner = owner; }

    void ShowMessage(const std::string& caption, const std::string& text) override;
    void ShowError(const std::string& text) override;
    // The shell's folder browser without its new-folder button (see the .cpp for why not the
    // newer folder picker).
    std::optional<std::string> SelectFolder(const std::string& startFolder) override;
    std::optional<std::string> OpenFile(const std::string& filter) override;
    // Asks before replacing an existing file and before creating a new one; starts with the
    // name chosen last.
    std::optional<std::string> SaveFile(const std::string& filter) override;
    void OpenAddress(const std::string& address) override;

private:
    HWND FOwner;
    std::wstring FLastSaveName;
};

// "caption|pattern|caption|pattern" as the common dialogs take it: the parts separated by
// NULs, the whole ended by two.
std::wstring CommonDialogFilter(const std::string& filter);
