#include "platform/WindowsPaths.h"

#include "platform/CodePages.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "platform/UserFolders.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <vector>

#ifdef _WIN32
#include "platform/WindowsText.h"

#include <windows.h>
#else
#include <dirent.h>
#include <sys/stat.h>
#endif

namespace platform {

namespace {

#ifdef _WIN32

bool PathExists(const std::string& path)
{
    return GetFileAttributesW(Utf8ToWide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

#else

bool PathExists(const std::string& path)
{
    struct stat info;
    return ::stat(path.c_str(), &info) == 0;
}

// Every name in folder, hidden ones included: a Windows name may well begin with a dot.
std::vector<std::string> NamesIn(const std::string& folder)
{
    std::vector<std::string> names;
    DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
    if (dir == nullptr)
        return names;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..")
            names.push_back(name);
    }
    ::closedir(dir);
    return names;
}

std::string Join(const std::string& base, const std::string& name)
{
    return base.empty() ? name : IncludeTrailingDelimiter(base) + name;
}

// The first existing path below base that spells components[index..] with letter case ignored.
std::optional<std::string> MatchFrom(const std::string& base,
                                     const std::vector<std::string>& components, size_t index)
{
    if (index == components.size())
        return base;
    const std::string& name = components[index];
    const bool last = index + 1 == components.size();
    const auto descend = [&](const std::string& path) -> std::optional<std::string> {
        if (!last && !FolderExists(path))
            return std::nullopt;
        return MatchFrom(path, components, index + 1);
    };

    const std::string exact = Join(base, name);
    if (PathExists(exact))
        if (auto found = descend(exact))
            return found;
    // ".." has no other spelling.
    if (name == "..")
        return std::nullopt;
    std::vector<std::string> spellings;
    for (const std::string& candidate : NamesIn(base))
        if (candidate != name && SameNameIgnoringCase(candidate, name))
            spellings.push_back(candidate);
    // A case-sensitive folder may hold several spellings; the same one wins on every run.
    std::sort(spellings.begin(), spellings.end());
    for (const std::string& spelling : spellings)
        if (auto found = descend(Join(base, spelling)))
            return found;
    return std::nullopt;
}

bool StartsWithDrive(const std::string& path)
{
    return path.size() >= 2 && path[1] == ':' &&
           ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
}

#endif

} // namespace

#ifdef _WIN32

ForeignPath ResolveWindowsPath(const std::string& text, const std::string& folder)
{
    if (text.empty())
        return {text, false};
    // A name that says where it lies is kept as written; only a relative one is completed.
    const auto in = [&folder](const std::string& path) {
        return IsAbsolutePath(path) ? path : AbsolutePath(path, folder);
    };
    if (PathExists(in(text)))
        return {in(text), true};
    // Names are UTF-8 inside; a playlist written by a program of its time holds them in a code
    // page: Japanese in practice, else this system's own.
    const std::string converted = SystemTextOf(text);
    if (converted != text && PathExists(in(converted)))
        return {in(converted), true};
    if (!IsValidUtf8(text))
        if (const auto wide = AnsiToWide(text); !wide.empty())
            if (const std::string ansi = WideToUtf8(wide); PathExists(in(ansi)))
                return {in(ansi), true};
    return {in(converted), false};
}

#else

std::string WinePrefixFolder()
{
    if (const char* variable = std::getenv("WINEPREFIX"); variable != nullptr && *variable)
        return variable;
    const std::string home = HomeFolder();
    return home.empty() ? std::string() : IncludeTrailingDelimiter(home) + ".wine";
}

std::string DriveTableFolder(const std::string& prefix)
{
    return IncludeTrailingDelimiter(prefix) + "dosdevices";
}

std::optional<std::string> DriveFolder(const std::string& prefix, char letter)
{
    const bool upper = letter >= 'A' && letter <= 'Z';
    if (!upper && !(letter >= 'a' && letter <= 'z'))
        return std::nullopt;
    const char drive = static_cast<char>(upper ? letter - 'A' + 'a' : letter);
    const std::string table = prefix.empty() ? std::string() : DriveTableFolder(prefix);
    if (table.empty() || !FolderExists(table)) {
        if (drive == 'z')
            return std::string("/");
        return std::nullopt;
    }
    // Resolved by the system, as Wine's own access resolves it: a table that is itself a link
    // takes Wine's relative targets ("../drive_c") from where it leads, and the log shows where
    // the folder really is.
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::path folder = fs::canonical(fs::path(table) / (std::string(1, drive) + ":"), error);
    if (error || !fs::is_directory(folder, error))
        return std::nullopt;
    return folder.string();
}

std::optional<ForeignPath> MapDrivePath(const std::string& prefix, const std::string& drivePath)
{
    std::string path = drivePath;
    std::replace(path.begin(), path.end(), '\\', '/');
    if (!StartsWithDrive(path))
        return std::nullopt;
    const std::optional<std::string> drive = DriveFolder(prefix, path[0]);
    if (!drive)
        return std::nullopt;
    // Windows takes "." and ".." by the letters, and never climbs above a drive's root:
    // "C:\..\x" is "C:\x". The drive's folder here has a parent, which it must not reach.
    std::vector<std::string> kept;
    size_t start = 2;
    while (start <= path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string::npos)
            end = path.size();
        const std::string component = path.substr(start, end - start);
        if (component == "..") {
            if (!kept.empty())
                kept.pop_back();
        } else if (!component.empty() && component != ".") {
            kept.push_back(component);
        }
        start = end + 1;
    }
    std::string mapped = *drive;
    for (const std::string& component : kept)
        mapped = IncludeTrailingDelimiter(mapped) + component;
    if (auto found = MatchPathIgnoringCase(mapped))
        return ForeignPath{std::move(*found), true};
    return ForeignPath{std::move(mapped), false};
}

std::optional<std::string> MatchPathIgnoringCase(const std::string& path)
{
    if (path.empty())
        return std::nullopt;
    if (PathExists(path))
        return path;
    std::vector<std::string> components;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string::npos)
            end = path.size();
        const std::string component = path.substr(start, end - start);
        if (!component.empty() && component != ".")
            components.push_back(component);
        start = end + 1;
    }
    return MatchFrom(IsAbsolutePath(path) ? "/" : "", components, 0);
}

ForeignPath ResolveWindowsPath(const std::string& text, const std::string& folder)
{
    if (text.empty())
        return {text, false};
    if (const std::string here = AbsolutePath(text, folder); PathExists(here))
        return {here, true};

    // Converted before the backslashes are looked for: in Shift_JIS 0x5C is also the second
    // byte of characters such as "ソ" and "表".
    const std::string system = SystemTextOf(text);
    std::string path = system;
    std::replace(path.begin(), path.end(), '\\', '/');
    if (StartsWithDrive(path))
        return MapDrivePath(WinePrefixFolder(), path).value_or(ForeignPath{system, false});
    path = AbsolutePath(path, folder);
    if (const auto found = MatchPathIgnoringCase(path))
        return {*found, true};
    return {path, false};
}

#endif

} // namespace platform
