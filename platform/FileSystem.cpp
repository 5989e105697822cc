#include "platform/FileSystem.h"

#include "platform/Paths.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <vector>

#ifdef _WIN32
#include "platform/WindowsText.h"

#include <windows.h>

#include <algorithm>
#else
#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace platform {

namespace {

#ifndef _WIN32
// Case-insensitive wildcard match of name against pattern ("*", "?"); Windows matches itself.
bool WildcardMatch(const char* pattern, const char* name)
{
    const char* starPattern = nullptr;
    const char* starName = nullptr;
    while (*name != '\0') {
        const unsigned char p = static_cast<unsigned char>(*pattern);
        const unsigned char n = static_cast<unsigned char>(*name);
        if (p == '*') {
            starPattern = pattern++;
            starName = name;
        } else if (p == '?' || (p != '\0' && std::tolower(p) == std::tolower(n))) {
            ++pattern;
            ++name;
        } else if (starPattern != nullptr) {
            pattern = starPattern + 1;
            name = ++starName;
        } else {
            return false;
        }
    }
    while (*pattern == '*')
        ++pattern;
    return *pattern == '\0';
}
#endif

} // namespace

int32_t PackDosDateTime(int year, int month, int day, int hour, int minute, int second)
{
    if (year < 1980 || year > 2107)
        return -1;
    const uint32_t packed = (uint32_t(year - 1980) << 25) | (uint32_t(month) << 21) |
                            (uint32_t(day) << 16) | (uint32_t(hour) << 11) |
                            (uint32_t(minute) << 5) | (uint32_t(second) / 2);
    return static_cast<int32_t>(packed);
}

#ifdef _WIN32

// Paths are UTF-8 inside the program; every call here goes through the wide functions, so that
// a name in any script is reached whatever the ANSI code page is.

namespace {

// A buffer-filling call (GetCurrentDirectoryW and its kind) run until the buffer was large
// enough; "" when it fails.
template <typename Fill> std::wstring FilledBuffer(Fill fill)
{
    std::wstring buffer(MAX_PATH + 1, L'\0');
    for (int tries = 0; tries < 8; ++tries) {
        const DWORD n = fill(buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0)
            return std::wstring();
        if (n < buffer.size()) {
            buffer.resize(n);
            return buffer;
        }
        buffer.assign(std::max<size_t>(n + 1, buffer.size() * 2), L'\0');
    }
    return std::wstring();
}

DWORD Attributes(const std::string& path)
{
    return GetFileAttributesW(WidePath(path).c_str());
}

// path as the user knows it: without the extended-length prefix.
std::string WithoutExtendedPrefix(const std::string& path)
{
    if (path.rfind("\\\\?\\UNC\\", 0) == 0)
        return "\\\\" + path.substr(8);
    if (path.rfind("\\\\?\\", 0) == 0)
        return path.substr(4);
    return path;
}

} // namespace

std::wstring WidePath(const std::string& path)
{
    const std::wstring wide = Utf8ToWide(path);
    // Already extended, or a device name space path ("\\.\pipe\x").
    if (wide.rfind(L"\\\\?\\", 0) == 0 || wide.rfind(L"\\\\.\\", 0) == 0)
        return wide;
    // The limit is that of CreateDirectoryW, which leaves room for an 8.3 name.
    constexpr size_t kLimit = MAX_PATH - 12;
    const bool relative = !IsAbsolutePath(path);
    if (wide.size() < kLimit && !relative)
        return wide;
    // The prefix also turns off the system's clean-up of the text (slashes, "." and ".."), so
    // the full path is made first.
    const std::wstring full = FilledBuffer([&wide](wchar_t* buffer, DWORD size) {
        return GetFullPathNameW(wide.c_str(), size, buffer, nullptr);
    });
    if (full.size() < kLimit)
        return wide;
    if (full.rfind(L"\\\\", 0) == 0)
        return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

int32_t FileDosDateTime(const std::string& path)
{
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW(WidePath(path).c_str(), &data);
    if (find == INVALID_HANDLE_VALUE)
        return -1;
    FindClose(find);
    if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return -1;
    FILETIME local;
    WORD date = 0, time = 0;
    if (!FileTimeToLocalFileTime(&data.ftLastWriteTime, &local) ||
        !FileTimeToDosDateTime(&local, &date, &time))
        return -1;
    return static_cast<int32_t>((uint32_t(date) << 16) | time);
}

std::vector<FolderEntry> ListFolder(const std::string& folder, const std::string& pattern,
                                    uint32_t mask)
{
    std::vector<FolderEntry> entries;
    const std::wstring search = WidePath(IncludeTrailingDelimiter(folder) + pattern);
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW(search.c_str(), &data);
    if (find == INVALID_HANDLE_VALUE)
        return entries;
    // Hidden, system, volume and directory bits that the mask does not allow exclude an entry.
    const uint32_t excluded =
        ~mask & (kAttrHidden | kAttrSystem | kAttrVolumeLabel | kAttrDirectory);
    do {
        const std::wstring name = data.cFileName;
        if (name == L"." || name == L"..")
            continue;
        if ((data.dwFileAttributes & excluded) == 0)
            entries.push_back({WideToUtf8(name),
                               (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0,
                               (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0});
    } while (FindNextFileW(find, &data));
    FindClose(find);
    return entries;
}

std::optional<FileIdentity> GetFileIdentity(const std::string& path)
{
    HANDLE file = CreateFileW(WidePath(path).c_str(), 0,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return std::nullopt;
    BY_HANDLE_FILE_INFORMATION info;
    const bool ok = GetFileInformationByHandle(file, &info) != 0;
    CloseHandle(file);
    if (!ok)
        return std::nullopt;
    return FileIdentity{info.dwVolumeSerialNumber,
                        (uint64_t(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
}

FileCheck CheckInputFile(const std::string& path)
{
    const std::wstring wide = WidePath(path);
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return {FileKind::Missing, SystemErrorText(GetLastError())};
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return {FileKind::Folder, ""};
    if ((attributes & FILE_ATTRIBUTE_DEVICE) != 0)
        return {FileKind::Device, ""};
    HANDLE file = CreateFileW(wide.c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return {FileKind::Regular, SystemErrorText(GetLastError())};
    // Device names (NUL, CON, COM1) and pipes pass the attribute test.
    const DWORD type = GetFileType(file);
    CloseHandle(file);
    if (type == FILE_TYPE_CHAR)
        return {FileKind::Device, ""};
    if (type == FILE_TYPE_PIPE)
        return {FileKind::Pipe, ""};
    return {FileKind::Regular, ""};
}

std::string ComparablePath(const std::string& path)
{
    std::string full = AbsolutePath(path); // "." and ".." resolved, slashes turned round
    // The longest part that exists, with its links followed and its names as stored.
    for (std::string head = full; !head.empty();) {
        if (Attributes(head) != INVALID_FILE_ATTRIBUTES) {
            full = ResolvedPath(head) + full.substr(head.size());
            break;
        }
        std::string folder = ExtractFilePath(head);
        // A drive's root keeps its backslash: "C:" alone names that drive's current folder.
        if (!(folder.size() == 3 && folder[1] == ':'))
            folder = ExcludeTrailingDelimiter(folder);
        if (folder.size() >= head.size())
            break;
        head = folder;
    }
    std::wstring wide = Utf8ToWide(full);
    CharUpperBuffW(wide.data(), static_cast<DWORD>(wide.size()));
    return WideToUtf8(wide);
}

bool CreateFolders(const std::string& folder)
{
    const std::string trimmed = ExcludeTrailingDelimiter(folder);
    if (trimmed.empty())
        return false;
    if (FolderExists(trimmed))
        return true;
    const std::string parent = ExcludeTrailingDelimiter(ExtractFilePath(trimmed));
    if (!parent.empty() && parent.size() < trimmed.size() && parent.back() != ':' &&
        !CreateFolders(parent))
        return false;
    return CreateDirectoryW(WidePath(trimmed).c_str(), nullptr) != 0 ||
           GetLastError() == ERROR_ALREADY_EXISTS;
}

bool FileExists(const std::string& path)
{
    const DWORD attributes = Attributes(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool IsRegularFile(const std::string& path)
{
    const DWORD attributes = Attributes(path);
    return attributes != INVALID_FILE_ATTRIBUTES &&
           (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) == 0;
}

bool FolderExists(const std::string& path)
{
    const DWORD attributes = Attributes(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool RemoveFile(const std::string& path)
{
    return DeleteFileW(WidePath(path).c_str()) != 0;
}

std::string ResolvedPath(const std::string& path)
{
    HANDLE file = CreateFileW(WidePath(path).c_str(), 0,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return AbsolutePath(path);
    const std::wstring name = FilledBuffer([file](wchar_t* buffer, DWORD size) {
        return GetFinalPathNameByHandleW(file, buffer, size, FILE_NAME_NORMALIZED);
    });
    CloseHandle(file);
    if (name.empty())
        return AbsolutePath(path);
    // The handle's name carries the long-path prefix.
    return WithoutExtendedPrefix(WideToUtf8(name));
}

bool ReplaceFileWith(const std::string& path, const std::string& bytes)
{
    const std::wstring target = WidePath(path);
    const std::wstring temporary = target + L".new";
    HANDLE file = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    const bool ok =
        WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) != 0 &&
        written == bytes.size();
    CloseHandle(file);
    if (!ok || MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING) == 0) {
        DeleteFileW(temporary.c_str());
        return false;
    }
    return true;
}

bool SetCurrentFolder(const std::string& folder)
{
    return SetCurrentDirectoryW(Utf8ToWide(folder).c_str()) != 0;
}

std::string CurrentFolder()
{
    return WideToUtf8(FilledBuffer(
        [](wchar_t* buffer, DWORD size) { return GetCurrentDirectoryW(size, buffer); }));
}

std::string AbsolutePath(const std::string& path)
{
    const std::wstring wide = Utf8ToWide(path);
    const std::wstring full = FilledBuffer([&wide](wchar_t* buffer, DWORD size) {
        return GetFullPathNameW(wide.c_str(), size, buffer, nullptr);
    });
    return full.empty() ? path : WideToUtf8(full);
}

std::string AbsolutePath(const std::string& path, const std::string& folder)
{
    if (path.empty())
        return path;
    if (folder.empty())
        return AbsolutePath(path);
    const auto separator = [](char c) { return c == '\\' || c == '/'; };
    // "name" lies in folder, "\name" on folder's drive; a name with a drive ("C:name",
    // "C:\name") or a network name ("\\server\share") says where it lies itself.
    if (path.size() >= 2 && (path[1] == ':' || (separator(path[0]) && separator(path[1]))))
        return AbsolutePath(path);
    if (separator(path[0]))
        return AbsolutePath(folder.size() >= 2 && folder[1] == ':' ? folder.substr(0, 2) + path
                                                                   : path);
    return AbsolutePath(IncludeTrailingDelimiter(folder) + path);
}

std::string ExecutablePath()
{
    // GetModuleFileNameW fills the buffer to the brim and truncates when it is too small.
    std::wstring buffer(MAX_PATH + 1, L'\0');
    for (int tries = 0; tries < 8; ++tries) {
        const DWORD n = GetModuleFileNameW(nullptr, buffer.data(), DWORD(buffer.size()));
        if (n == 0)
            return std::string();
        if (n < buffer.size() - 1) {
            buffer.resize(n);
            return WideToUtf8(buffer);
        }
        buffer.assign(buffer.size() * 2, L'\0');
    }
    return std::string();
}

std::FILE* OpenFile(const std::string& path, const char* mode)
{
    return _wfopen(WidePath(path).c_str(), Utf8ToWide(mode).c_str());
}

std::filesystem::path FileSystemPath(const std::string& path)
{
    return std::filesystem::path(Utf8ToWide(path));
}

std::string PathText(const std::filesystem::path& path)
{
    return WithoutExtendedPrefix(WideToUtf8(path.wstring()));
}

#else

int32_t FileDosDateTime(const std::string& path)
{
    struct stat info;
    if (::stat(path.c_str(), &info) != 0 || S_ISDIR(info.st_mode))
        return -1;
    struct tm local;
    const time_t seconds = info.st_mtime;
    if (::localtime_r(&seconds, &local) == nullptr)
        return -1;
    return PackDosDateTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                           local.tm_min, local.tm_sec);
}

std::vector<FolderEntry> ListFolder(const std::string& folder, const std::string& pattern,
                                    uint32_t mask)
{
    std::vector<FolderEntry> entries;
    DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
    if (dir == nullptr)
        return entries;
    const bool anyName = pattern == "*.*" || pattern == "*";
    const std::string prefix = IncludeTrailingDelimiter(folder);
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        // POSIX has no hidden attribute; a leading dot is the convention. No listing the
        // program makes asks for hidden entries.
        if (name.empty() || name[0] == '.')
            continue;
        if (!anyName && !WildcardMatch(pattern.c_str(), name.c_str()))
            continue;
        struct stat info;
        if (::stat((prefix + name).c_str(), &info) != 0)
            continue; // a dangling link or an entry that vanished
        const bool isDirectory = S_ISDIR(info.st_mode);
        if (isDirectory && (mask & kAttrDirectory) == 0)
            continue;
        // Devices, pipes and sockets are this system's system entries: opening a pipe would
        // wait for a writer for ever.
        if (!isDirectory && !S_ISREG(info.st_mode))
            continue;
        struct stat own;
        const bool isLink = entry->d_type == DT_LNK ||
                            (entry->d_type == DT_UNKNOWN &&
                             ::lstat((prefix + name).c_str(), &own) == 0 && S_ISLNK(own.st_mode));
        entries.push_back({name, isDirectory, isLink});
    }
    ::closedir(dir);
    return entries;
}

std::optional<FileIdentity> GetFileIdentity(const std::string& path)
{
    struct stat info;
    if (::stat(path.c_str(), &info) != 0)
        return std::nullopt;
    return FileIdentity{static_cast<uint64_t>(info.st_dev), static_cast<uint64_t>(info.st_ino)};
}

FileCheck CheckInputFile(const std::string& path)
{
    struct stat info;
    if (::stat(path.c_str(), &info) != 0)
        return {FileKind::Missing, std::strerror(errno)};
    if (S_ISDIR(info.st_mode))
        return {FileKind::Folder, ""};
    if (S_ISFIFO(info.st_mode))
        return {FileKind::Pipe, ""};
    if (S_ISSOCK(info.st_mode))
        return {FileKind::Socket, ""};
    if (!S_ISREG(info.st_mode))
        return {FileKind::Device, ""};
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return {FileKind::Regular, std::strerror(errno)};
    ::close(fd);
    return {FileKind::Regular, ""};
}

std::string ComparablePath(const std::string& path)
{
    std::vector<std::string> parts;
    const std::string absolute = AbsolutePath(path);
    for (size_t start = 0; start <= absolute.size();) {
        size_t end = absolute.find('/', start);
        if (end == std::string::npos)
            end = absolute.size();
        const std::string part = absolute.substr(start, end - start);
        if (!part.empty() && part != ".")
            parts.push_back(part);
        start = end + 1;
    }
    // The longest leading part that exists is resolved by the system, links and ".." included;
    // ".." after it can only be taken back lexically.
    for (size_t n = parts.size();; --n) {
        std::string head;
        for (size_t i = 0; i < n; ++i)
            head += "/" + parts[i];
        char buffer[PATH_MAX];
        if (n > 0 && ::realpath(head.c_str(), buffer) == nullptr)
            continue;
        std::string result = n > 0 ? buffer : "/";
        for (size_t i = n; i < parts.size(); ++i) {
            if (parts[i] != "..")
                result = IncludeTrailingDelimiter(result) + parts[i];
            else if (result.size() > 1)
                result.erase(std::max<size_t>(result.rfind('/'), 1));
        }
        return result;
    }
}

bool CreateFolders(const std::string& folder)
{
    if (folder.empty())
        return false;
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    return FolderExists(folder);
}

bool FileExists(const std::string& path)
{
    struct stat info;
    return ::stat(path.c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
}

bool IsRegularFile(const std::string& path)
{
    struct stat info;
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool FolderExists(const std::string& path)
{
    struct stat info;
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool RemoveFile(const std::string& path)
{
    return ::unlink(path.c_str()) == 0;
}

std::string ResolvedPath(const std::string& path)
{
    char buffer[PATH_MAX];
    if (::realpath(path.c_str(), buffer) == nullptr)
        return AbsolutePath(path);
    return buffer;
}

bool ReplaceFileWith(const std::string& path, const std::string& bytes)
{
    std::string temporary = path + ".XXXXXX";
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0)
        return false;
    bool ok = true;
    for (size_t done = 0; ok && done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        ok = n > 0;
        done += ok ? static_cast<size_t>(n) : 0;
    }
    // Readable as a file created the ordinary way would be.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ok = ::fchmod(fd, 0666 & ~mask) == 0 && ok;
    ok = ::close(fd) == 0 && ok;
    if (!ok || ::rename(temporary.c_str(), path.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

bool SetCurrentFolder(const std::string& folder)
{
    return ::chdir(folder.c_str()) == 0;
}

std::string CurrentFolder()
{
    std::string buffer(PATH_MAX, '\0');
    if (::getcwd(buffer.data(), buffer.size()) == nullptr)
        return std::string();
    buffer.resize(std::char_traits<char>::length(buffer.c_str()));
    return buffer;
}

std::string AbsolutePath(const std::string& path)
{
    return path.empty() ? CurrentFolder() : AbsolutePath(path, CurrentFolder());
}

std::string AbsolutePath(const std::string& path, const std::string& folder)
{
    if (path.empty() || IsAbsolutePath(path))
        return path;
    std::string result = folder;
    if (result.empty())
        return path;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find(kPathDelimiter, start);
        if (end == std::string::npos)
            end = path.size();
        const std::string segment = path.substr(start, end - start);
        if (!segment.empty() && segment != ".")
            result = IncludeTrailingDelimiter(result) + segment;
        start = end + 1;
    }
    return result;
}

std::string ExecutablePath()
{
    std::string buffer(PATH_MAX, '\0');
    const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n <= 0 || static_cast<size_t>(n) >= buffer.size())
        return std::string();
    buffer.resize(static_cast<size_t>(n));
    return buffer;
}

std::FILE* OpenFile(const std::string& path, const char* mode)
{
    return std::fopen(path.c_str(), mode);
}

std::filesystem::path FileSystemPath(const std::string& path)
{
    return std::filesystem::path(path);
}

std::string PathText(const std::filesystem::path& path)
{
    return path.string();
}

#endif

std::string ExecutableFolder()
{
    return ExtractFilePath(ExecutablePath());
}

namespace {
// Taken before main runs, and so before any plug-in is loaded.
const std::string gLaunchFolder = CurrentFolder();
} // namespace

const std::string& LaunchFolder()
{
    return gLaunchFolder;
}

} // namespace platform
