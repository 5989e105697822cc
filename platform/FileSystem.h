// File-system services of the platform: file times, folder listings, the current folder, the
// program's own path and file identities.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// Last-write time of the file at path in local time, packed as an MS-DOS date-time (bits 25-31
// year - 1980, 21-24 month, 16-20 day, 11-15 hour, 5-10 minute, 0-4 seconds / 2); -1 when
// there is none: no such file, a folder, or a time outside the format's range.
int32_t FileDosDateTime(const std::string& path);

// Packs a broken-down local time; -1 when the year lies outside 1980..2107.
int32_t PackDosDateTime(int year, int month, int day, int hour, int minute, int second);

// Attribute bits of a listing's mask: entries that carry an attribute outside the mask are
// left out (read-only and archive entries always pass).
enum FolderAttribute : uint32_t {
    kAttrReadOnly = 0x01,
    kAttrHidden = 0x02,
    kAttrSystem = 0x04,
    kAttrVolumeLabel = 0x08,
    kAttrDirectory = 0x10,
    kAttrArchive = 0x20,
};
// The two listings the plug-in scan makes: its files, and its sub-folders.
inline constexpr uint32_t kPluginFileMask = kAttrReadOnly | kAttrArchive;
inline constexpr uint32_t kSubFolderMask = kAttrReadOnly | kAttrDirectory | kAttrArchive;

struct FolderEntry {
    std::string Name;
    bool IsDirectory = false;
    bool IsLink = false; // a symbolic link (on Windows a reparse point) to what IsDirectory says
};

// The entries of folder whose names match pattern ("*" and "?" wildcards, letter case
// ignored, "*.*" matching every name) and whose attributes fit mask, in the order the file
// system returns them. On POSIX a name beginning with "." counts as hidden, devices, pipes and
// sockets count as system entries, and a symbolic link counts as what it points to. A folder that
// cannot be listed gives no entries.
std::vector<FolderEntry> ListFolder(const std::string& folder, const std::string& pattern,
                                    uint32_t mask);

// Identity of a file or folder (device and inode, or volume and file index), following links.
struct FileIdentity {
    uint64_t Device = 0;
    uint64_t Index = 0;
    bool operator==(const FileIdentity&) const = default;
};
std::optional<FileIdentity> GetFileIdentity(const std::string& path);

// What a path names, following links.
enum class FileKind { Missing, Regular, Folder, Pipe, Device, Socket };
struct FileCheck {
    FileKind Kind = FileKind::Missing;
    // Why it cannot be read: the system's message for a Missing path, or for a Regular file that
    // does not open for reading; "" for a file that does.
    std::string Reason;
};
// Whether path can be handed to a reader. Only a regular file is opened to find out, so that a
// named pipe or a device is never waited on.
FileCheck CheckInputFile(const std::string& path);

// The text under which the file system files path, whether or not it exists yet, for telling
// whether two paths name one file: the full path with "." and ".." resolved and every link of
// the part that exists followed; on Windows in upper case, as its file systems compare names.
std::string ComparablePath(const std::string& path);

// Creates folder and the folders above it that are missing; true when it exists afterwards.
bool CreateFolders(const std::string& folder);

bool FileExists(const std::string& path);    // a file that is not a folder
bool IsRegularFile(const std::string& path); // a plain file: not a folder, device or pipe
bool FolderExists(const std::string& path);
// Named so as not to meet the Windows headers' DeleteFile macro.
bool RemoveFile(const std::string& path);

// The file path leads to once every symbolic link is followed, as an absolute path; path made
// absolute when nothing is there to resolve.
std::string ResolvedPath(const std::string& path);

// Replaces the file at path by bytes in one step: they go into a new file beside it, which is
// then renamed over path. Whatever stood at path (a symbolic link, a pipe) is replaced, never
// written through or waited on. False when it failed; path is then as it was.
bool ReplaceFileWith(const std::string& path, const std::string& bytes);

bool SetCurrentFolder(const std::string& folder);
std::string CurrentFolder();
// path made absolute against the current folder; an absolute path comes back as it is, and so
// does any path when the current folder is unknown. On POSIX "." segments of a relative path
// are dropped and ".." is kept, since a symbolic link may stand before it.
std::string AbsolutePath(const std::string& path);
// The same against folder (an absolute path) instead of the current folder; "" stays "".
std::string AbsolutePath(const std::string& path, const std::string& folder);
// The current folder as it was when the program started, before any plug-in ran: the folder
// that relative names given to the program mean. A plug-in may move the process's current
// folder at any time; this one stays.
const std::string& LaunchFolder();

// Full path of the running executable, and its folder with a trailing delimiter.
std::string ExecutablePath();

// Paths are UTF-8 inside the program. These reach files by them on every system: on Windows
// through the wide functions, since the C library and std::filesystem read a narrow name in the
// ANSI code page there.
std::FILE* OpenFile(const std::string& path, const char* mode);
std::filesystem::path FileSystemPath(const std::string& path);
std::string PathText(const std::filesystem::path& path);
std::string ExecutableFolder();

#ifdef _WIN32
// path as the wide functions take it at any length: a full path that reaches MAX_PATH carries
// the extended-length prefix "\\?\", made from the path's full form, since the prefix also turns
// off the system's clean-up of slashes, "." and "..". Shorter paths pass unchanged.
std::wstring WidePath(const std::string& path);
#endif

} // namespace platform
