#include "ui/win32/Win32UserDialogs.h"

#include "app/MainWndTexts.h"
#include "platform/FileSystem.h"
#include "ui/win32/Win32Controls.h"

#include <commdlg.h>
#include <shellapi.h>
#include <shlobj.h>

#include <vector>

namespace {

constexpr size_t kNameCapacity = 32768; // the longest path the wide API takes

int CALLBACK StartInFolder(HWND dialog, UINT message, LPARAM, LPARAM folder)
{
    if (message == BFFM_INITIALIZED && folder != 0)
        SendMessageW(dialog, BFFM_SETSELECTIONW, TRUE, folder);
    return 0;
}

} // namespace

std::wstring CommonDialogFilter(const std::string& filter)
{
    std::wstring parts = Wide(filter);
    for (wchar_t& c : parts)
        if (c == L'|')
            c = L'\0';
    parts.push_back(L'\0');
    parts.push_back(L'\0');
    return parts;
}

void TWin32UserDialogs::ShowMessage(const std::string& caption, const std::string& text)
{
    MessageBoxW(FOwner, Wide(text).c_str(), Wide(caption).c_str(), MB_OK | MB_ICONINFORMATION);
}

void TWin32UserDialogs::ShowError(const std::string& text)
{
    MessageBoxW(FOwner, Wide(text).c_str(), Wide(wndtext::kApplicationTitle).c_str(),
                MB_OK | MB_ICONERROR);
}

std::optional<std::string> TWin32UserDialogs::SelectFolder(const std::string& startFolder)
{
    // The shell's folder browser rather than the file dialog's folder picker: only the browser
    // can leave out the creation of folders (BIF_NONEWFOLDERBUTTON); the picker always offers
    // a new folder in its view and toolbar.
    // Whole, however long: the program declares itself aware of long paths.
    const std::wstring start = Wide(platform::AbsolutePath(startFolder));
    BROWSEINFOW info{};
    info.hwndOwner = FOwner;
    info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE | BIF_NONEWFOLDERBUTTON;
    info.lpfn = StartInFolder;
    info.lParam = reinterpret_cast<LPARAM>(start.c_str());
    PIDLIST_ABSOLUTE chosen = SHBrowseForFolderW(&info);
    if (chosen == nullptr)
        return std::nullopt;
    std::vector<wchar_t> path(kNameCapacity, L'\0');
    const bool named = SHGetPathFromIDListEx(chosen, path.data(), static_cast<DWORD>(path.size()),
                                             GPFIDL_DEFAULT) != FALSE;
    CoTaskMemFree(chosen);
    if (!named)
        return std::nullopt; // a place that is no folder of the file system
    return Narrow(path.data());
}

std::optional<std::string> TWin32UserDialogs::OpenFile(const std::string& filter)
{
    const std::wstring filters = CommonDialogFilter(filter);
    std::vector<wchar_t> name(kNameCapacity, L'\0');
    OPENFILENAMEW info{};
    info.lStructSize = sizeof info;
    info.hwndOwner = FOwner;
    info.lpstrFilter = filters.c_str();
    info.nFilterIndex = 1;
    info.lpstrFile = name.data();
    info.nMaxFile = static_cast<DWORD>(name.size());
    info.Flags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY;
    if (!GetOpenFileNameW(&info))
        return std::nullopt;
    return Narrow(name.data());
}

std::optional<std::string> TWin32UserDialogs::SaveFile(const std::string& filter)
{
    const std::wstring filters = CommonDialogFilter(filter);
    std::vector<wchar_t> name(kNameCapacity, L'\0');
    FLastSaveName.copy(name.data(), std::min(FLastSaveName.size(), name.size() - 1));
    OPENFILENAMEW info{};
    info.lStructSize = sizeof info;
    info.hwndOwner = FOwner;
    info.lpstrFilter = filters.c_str();
    info.nFilterIndex = 1;
    info.lpstrFile = name.data();
    info.nMaxFile = static_cast<DWORD>(name.size());
    info.Flags = OFN_EXPLORER | OFN_OVERWRITEPROMPT | OFN_CREATEPROMPT | OFN_PATHMUSTEXIST |
                 OFN_HIDEREADONLY;
    if (!GetSaveFileNameW(&info))
        return std::nullopt;
    FLastSaveName = name.data();
    return Narrow(FLastSaveName);
}

void TWin32UserDialogs::OpenAddress(const std::string& address)
{
    // The shell's default action: the browser for a web page, a new message for "mailto:".
    // Nothing is reported when it fails.
    ShellExecuteW(FOwner, nullptr, Wide(address).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}
