#include "platform/PartFiles.h"

#include "platform/FileSystem.h"
#include "platform/FilesInProgress.h"
#include "platform/Paths.h"

#include <atomic>
#include <cstring>
#include <optional>

#ifdef _WIN32
#include "platform/WindowsText.h"

#include <windows.h>
#else
#include <cerrno>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace platform {

namespace {

constexpr const char* kPrefix = ".pellan-";
constexpr const char* kSuffix = ".part";
// The longest name most file systems take: 255 bytes (ext4), 255 UTF-16 units (NTFS).
constexpr size_t kLongestName = 255;

std::atomic<unsigned> gCounter{0};

unsigned long ProcessId()
{
#ifdef _WIN32
    return GetCurrentProcessId();
#else
    return static_cast<unsigned long>(::getpid());
#endif
}

// name cut to at most bytes, never inside a UTF-8 character.
std::string Shortened(const std::string& name, size_t bytes)
{
    if (name.size() <= bytes)
        return name;
    size_t end = bytes;
    while (end > 0 && (static_cast<unsigned char>(name[end]) & 0xC0) == 0x80)
        --end;
    return name.substr(0, end);
}

// The output's own name is kept in the part file's name only as a help to whoever looks into
// the folder; the process id and the counter make the name unique.
std::string PartName(const std::string& target)
{
    const std::string head =
        std::string(kPrefix) + std::to_string(ProcessId()) + "-" + std::to_string(++gCounter) + "-";
    const size_t room = kLongestName - head.size() - std::strlen(kSuffix);
    return head + Shortened(ExtractFileName(target), room) + kSuffix;
}

#ifdef _WIN32

// The lock lies far beyond the end of any file the program writes, so that it never stands in
// the way of the writer's own reads and writes of the file.
OVERLAPPED LockPlace()
{
    OVERLAPPED place{};
    place.OffsetHigh = 0x7FFFFFFF;
    return place;
}

bool LockHandle(HANDLE file, bool wait)
{
    OVERLAPPED place = LockPlace();
    const DWORD flags = LOCKFILE_EXCLUSIVE_LOCK | (wait ? 0 : LOCKFILE_FAIL_IMMEDIATELY);
    return LockFileEx(file, flags, 0, 1, 0, &place) != 0;
}

void UnlockHandle(HANDLE file)
{
    OVERLAPPED place = LockPlace();
    UnlockFileEx(file, 0, 1, 0, &place);
}

std::optional<FileIdentity> HandleIdentity(HANDLE file)
{
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(file, &info))
        return std::nullopt;
    return FileIdentity{info.dwVolumeSerialNumber,
                        (uint64_t(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
}

#else

std::optional<FileIdentity> HandleIdentity(int fd)
{
    struct stat info;
    if (::fstat(fd, &info) != 0)
        return std::nullopt;
    return FileIdentity{static_cast<uint64_t>(info.st_dev), static_cast<uint64_t>(info.st_ino)};
}

#endif

} // namespace

bool IsPartFileName(const std::string& name)
{
    const size_t prefix = std::strlen(kPrefix), suffix = std::strlen(kSuffix);
    return name.size() > prefix + suffix && name.compare(0, prefix, kPrefix) == 0 &&
           name.compare(name.size() - suffix, suffix, kSuffix) == 0;
}

std::unique_ptr<PartFile> PartFile::Create(const std::string& target, std::string& error)
{
    std::unique_ptr<PartFile> part(new PartFile);
    part->FTarget = target;
    const std::string folder = ExtractFilePath(target);
    for (int attempt = 0; attempt < 100; ++attempt) {
        part->FPath = folder + PartName(target);
#ifdef _WIN32
        HANDLE file = CreateFileW(WidePath(part->FPath).c_str(), GENERIC_READ | GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            const DWORD code = GetLastError();
            if (code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS)
                continue;
            error = SystemErrorText(code);
            return nullptr;
        }
        const bool locked = LockHandle(file, true);
        const auto mine = HandleIdentity(file);
        // A run that swept the folder may have taken the new file for an abandoned one before
        // the lock was in place; then it is gone, and another name is tried.
        if (locked && mine && mine == GetFileIdentity(part->FPath)) {
            part->FLock = file;
            break;
        }
        CloseHandle(file);
#else
        const int fd = ::open(part->FPath.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0) {
            if (errno == EEXIST)
                continue;
            error = std::strerror(errno);
            return nullptr;
        }
        const bool locked = ::flock(fd, LOCK_EX) == 0;
        const auto mine = HandleIdentity(fd);
        // As on Windows: a sweeping run may have removed it before the lock was taken.
        if (locked && mine && mine == GetFileIdentity(part->FPath)) {
            part->FLock = fd;
            break;
        }
        ::close(fd);
#endif
    }
    if (!part->Locked()) {
        error = "no free temporary name beside " + target;
        return nullptr;
    }
    part->FInProgress = FilesInProgress::Add(part->FPath);
    return part;
}

PartFile::~PartFile()
{
    Discard();
}

void PartFile::Hide()
{
#ifdef _WIN32
    const std::wstring path = WidePath(FPath);
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES)
        SetFileAttributesW(path.c_str(), attributes | FILE_ATTRIBUTE_HIDDEN);
#endif
}

PartFile::Outcome PartFile::Commit(bool replace, std::string& error)
{
    Outcome outcome = Outcome::Failed;
#ifdef _WIN32
    const std::wstring from = WidePath(FPath), to = WidePath(FTarget);
    const DWORD attributes = GetFileAttributesW(from.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES)
        SetFileAttributesW(from.c_str(), attributes & ~DWORD(FILE_ATTRIBUTE_HIDDEN));
    // The lock's handle allows the move: it was opened sharing deletion.
    if (MoveFileExW(from.c_str(), to.c_str(), replace ? MOVEFILE_REPLACE_EXISTING : 0) != 0) {
        outcome = Outcome::Moved;
    } else {
        const DWORD code = GetLastError();
        if (!replace && (code == ERROR_ALREADY_EXISTS || code == ERROR_FILE_EXISTS))
            outcome = Outcome::TargetExists;
        else
            error = SystemErrorText(code);
    }
#else
    int result = 0;
    if (replace) {
        result = std::rename(FPath.c_str(), FTarget.c_str());
    } else {
        result = ::renameat2(AT_FDCWD, FPath.c_str(), AT_FDCWD, FTarget.c_str(), RENAME_NOREPLACE);
        // A file system that cannot rename without replacing: a hard link is made only where
        // no file stands yet; one without hard links either gets the nearest thing.
        if (result != 0 && (errno == EINVAL || errno == ENOSYS || errno == ENOTSUP)) {
            result = ::link(FPath.c_str(), FTarget.c_str());
            if (result == 0)
                ::unlink(FPath.c_str());
            else if (errno != EEXIST && !FileExists(FTarget) && !FolderExists(FTarget))
                result = std::rename(FPath.c_str(), FTarget.c_str());
        }
    }
    if (result == 0)
        outcome = Outcome::Moved;
    else if (!replace && errno == EEXIST)
        outcome = Outcome::TargetExists;
    else
        error = std::strerror(errno);
#endif
    if (outcome == Outcome::Moved) {
        FDone = true;
        Release();
    } else {
        Discard();
    }
    return outcome;
}

void PartFile::Discard()
{
    if (!FDone) {
        FDone = true;
        RemoveFile(FPath);
    }
    Release();
}

bool PartFile::Locked() const
{
#ifdef _WIN32
    return FLock != nullptr;
#else
    return FLock >= 0;
#endif
}

void PartFile::Release()
{
    FilesInProgress::Remove(FInProgress);
    FInProgress = -1;
#ifdef _WIN32
    if (FLock != nullptr) {
        UnlockHandle(FLock);
        CloseHandle(FLock);
        FLock = nullptr;
    }
#else
    if (FLock >= 0) {
        ::close(FLock); // drops the lock
        FLock = -1;
    }
#endif
}

std::vector<std::string> RemoveAbandonedPartFiles(const std::string& folder)
{
    std::vector<std::string> removed;
    const std::string prefix = folder.empty() ? std::string() : IncludeTrailingDelimiter(folder);
#ifdef _WIN32
    WIN32_FIND_DATAW data;
    HANDLE find =
        FindFirstFileW(WidePath(prefix + std::string(kPrefix) + "*" + kSuffix).c_str(), &data);
    if (find == INVALID_HANDLE_VALUE)
        return removed;
    do {
        const std::string name = WideToUtf8(data.cFileName);
        if (!IsPartFileName(name) || (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
            continue;
        const std::string path = prefix + name;
        // A live writer's handle does not share deletion, and its lock is held: either refuses.
        HANDLE file = CreateFileW(WidePath(path).c_str(), GENERIC_READ | DELETE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            continue;
        if (LockHandle(file, false)) {
            FILE_DISPOSITION_INFO disposition{TRUE};
            if (SetFileInformationByHandle(file, FileDispositionInfo, &disposition,
                                           sizeof disposition))
                removed.push_back(path);
            UnlockHandle(file);
        }
        CloseHandle(file);
    } while (FindNextFileW(find, &data));
    FindClose(find);
#else
    DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
    if (dir == nullptr)
        return removed;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (!IsPartFileName(name))
            continue;
        const std::string path = prefix + name;
        const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            continue;
        struct stat info;
        if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
            ::flock(fd, LOCK_EX | LOCK_NB) == 0 && HandleIdentity(fd) == GetFileIdentity(path) &&
            ::unlink(path.c_str()) == 0)
            removed.push_back(path);
        ::close(fd);
    }
    ::closedir(dir);
#endif
    return removed;
}

} // namespace platform
