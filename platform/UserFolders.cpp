#include "platform/UserFolders.h"

#include "platform/FileSystem.h"
#include "platform/Paths.h"

#include <cstdlib>
#include <system_error>

#ifdef _WIN32
#include "platform/WindowsText.h"

#include <windows.h>
#else
#include <fcntl.h>
#include <pwd.h>
#include <unistd.h>
#endif

namespace platform {

namespace {

std::string Environment(const char* name)
{
#ifdef _WIN32
    // The wide environment: a user name in any script is part of these folders.
    const wchar_t* value = _wgetenv(Utf8ToWide(name).c_str());
    return value != nullptr ? WideToUtf8(value) : std::string();
#else
    const char* value = std::getenv(name);
    return value != nullptr ? std::string(value) : std::string();
#endif
}

#ifndef _WIN32
// The folder an XDG variable names, or the default below the home folder. A relative path in
// the variable is not a valid setting and is ignored, as the XDG rules say.
std::string XdgFolder(const char* variable, const char* defaultBelowHome)
{
    const std::string value = Environment(variable);
    if (IsAbsolutePath(value))
        return ExcludeTrailingDelimiter(value);
    const std::string home = HomeFolder();
    if (home.empty())
        return std::string();
    return IncludeTrailingDelimiter(home) + defaultBelowHome;
}
#endif

} // namespace

#ifdef _WIN32

std::string HomeFolder()
{
    return std::string();
}

std::string UserStateFolder()
{
    return ExcludeTrailingDelimiter(Environment("LOCALAPPDATA"));
}

std::string UserCacheFolder()
{
    return UserStateFolder();
}

bool IsWritableFolder(const std::string& folder)
{
    // Access rights on Windows are lists that no simple check reads; a file that is created
    // and goes away on close is the answer.
    const std::string probe = IncludeTrailingDelimiter(folder) + "~pellan-write-check-" +
                              std::to_string(GetCurrentProcessId()) + ".tmp";
    HANDLE file = CreateFileW(
        Utf8ToWide(probe).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
        FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(file);
    return true;
}

#else

std::string HomeFolder()
{
    std::string home = Environment("HOME");
    if (home.empty())
        if (const passwd* entry = ::getpwuid(::getuid()); entry != nullptr && entry->pw_dir)
            home = entry->pw_dir;
    return home;
}

std::string UserStateFolder()
{
    return XdgFolder("XDG_STATE_HOME", ".local/state");
}

std::string UserCacheFolder()
{
    return XdgFolder("XDG_CACHE_HOME", ".cache");
}

bool IsWritableFolder(const std::string& folder)
{
    // The effective ids decide, as they do for the write itself; a read-only mount answers
    // no here too.
    return FolderExists(folder) &&
           ::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) == 0;
}

#endif

} // namespace platform
