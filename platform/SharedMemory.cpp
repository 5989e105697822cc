#include "platform/SharedMemory.h"

#include "platform/FileSystem.h"

#ifdef _WIN32
#include <windows.h>

#include <atomic>
#else
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#endif

namespace platform {

#ifdef _WIN32

std::unique_ptr<SharedMemory> SharedMemory::Create(size_t size, std::string& error)
{
    static std::atomic<unsigned> counter{0};
    const std::string name = "Local\\pellan-kpi-" + std::to_string(GetCurrentProcessId()) + "-" +
                             std::to_string(counter.fetch_add(1));
    const uint64_t size64 = size;
    HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE,
                                        static_cast<DWORD>(size64 >> 32),
                                        static_cast<DWORD>(size64), name.c_str());
    if (mapping == nullptr) {
        error = "cannot make shared memory (error " + std::to_string(GetLastError()) + ")";
        return nullptr;
    }
    void* view = MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, size);
    if (view == nullptr) {
        error = "cannot map shared memory (error " + std::to_string(GetLastError()) + ")";
        CloseHandle(mapping);
        return nullptr;
    }
    std::unique_ptr<SharedMemory> memory(new SharedMemory);
    memory->FData = static_cast<uint8_t*>(view);
    memory->FSize = size;
    memory->FName = name;
    memory->FHandle = mapping;
    return memory;
}

std::unique_ptr<SharedMemory> SharedMemory::Open(const std::string& name, size_t size,
                                                 std::string& error)
{
    // A path names a file (a Unix file that a host under Wine sees through its DOS name);
    // anything else a mapping made by Create.
    HANDLE mapping = nullptr;
    if (name.find(':') != std::string::npos || name.rfind("\\\\", 0) == 0) {
        HANDLE file = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            error = "cannot open " + name + " (error " + std::to_string(GetLastError()) + ")";
            return nullptr;
        }
        LARGE_INTEGER length{};
        if (!GetFileSizeEx(file, &length) || static_cast<uint64_t>(length.QuadPart) < size) {
            CloseHandle(file);
            error = name + " is smaller than asked";
            return nullptr;
        }
        mapping = CreateFileMappingA(file, nullptr, PAGE_READWRITE, 0, 0, nullptr);
        CloseHandle(file);
    } else {
        mapping = OpenFileMappingA(FILE_MAP_WRITE, FALSE, name.c_str());
    }
    if (mapping == nullptr) {
        error = "cannot open the shared memory " + name + " (error " +
                std::to_string(GetLastError()) + ")";
        return nullptr;
    }
    void* view = MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, size);
    if (view == nullptr) {
        error = "cannot map " + name + " (error " + std::to_string(GetLastError()) + ")";
        CloseHandle(mapping);
        return nullptr;
    }
    std::unique_ptr<SharedMemory> memory(new SharedMemory);
    memory->FData = static_cast<uint8_t*>(view);
    memory->FSize = size;
    memory->FName = name;
    memory->FHandle = mapping;
    return memory;
}

SharedMemory::~SharedMemory()
{
    if (FData != nullptr)
        UnmapViewOfFile(FData);
    if (FHandle != nullptr)
        CloseHandle(static_cast<HANDLE>(FHandle));
}

void SharedMemory::RemoveName()
{
    // A mapping's name goes with its last handle; there is nothing to remove before that.
    FName.clear();
}

#else

namespace {

// tmpfs where there is one: the pages never go to a disk.
std::string SharedFolder()
{
    if (FolderExists("/dev/shm"))
        return "/dev/shm";
    const char* tmp = std::getenv("TMPDIR");
    return tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
}

uint8_t* MapFile(int fd, size_t size)
{
    void* data = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    return data == MAP_FAILED ? nullptr : static_cast<uint8_t*>(data);
}

} // namespace

std::unique_ptr<SharedMemory> SharedMemory::Create(size_t size, std::string& error)
{
    std::string name = SharedFolder() + "/pellan-kpi-XXXXXX";
    const int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) {
        error = "cannot make " + name + ": " + std::strerror(errno);
        return nullptr;
    }
    uint8_t* data = ::ftruncate(fd, static_cast<off_t>(size)) == 0 ? MapFile(fd, size) : nullptr;
    const int failure = errno;
    ::close(fd);
    if (data == nullptr) {
        ::unlink(name.c_str());
        error = "cannot map " + name + ": " + std::strerror(failure);
        return nullptr;
    }
    std::unique_ptr<SharedMemory> memory(new SharedMemory);
    memory->FData = data;
    memory->FSize = size;
    memory->FName = name;
    memory->FOwnsName = true;
    return memory;
}

std::unique_ptr<SharedMemory> SharedMemory::Open(const std::string& name, size_t size,
                                                 std::string& error)
{
    const int fd = ::open(name.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        error = "cannot open " + name + ": " + std::strerror(errno);
        return nullptr;
    }
    struct stat info;
    uint8_t* data = nullptr;
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
        static_cast<uint64_t>(info.st_size) >= size)
        data = MapFile(fd, size);
    ::close(fd);
    if (data == nullptr) {
        error = "cannot map " + name;
        return nullptr;
    }
    std::unique_ptr<SharedMemory> memory(new SharedMemory);
    memory->FData = data;
    memory->FSize = size;
    memory->FName = name;
    return memory;
}

SharedMemory::~SharedMemory()
{
    RemoveName();
    if (FData != nullptr)
        ::munmap(FData, FSize);
}

void SharedMemory::RemoveName()
{
    if (FOwnsName && !FName.empty())
        ::unlink(FName.c_str());
    FName.clear();
}

#endif

} // namespace platform
