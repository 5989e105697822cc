#include "platform/FilesInProgress.h"

#include <atomic>
#include <cstring>

#ifdef _WIN32
#include "platform/FileSystem.h"

#include <windows.h>
#else
#include <unistd.h>
#endif

namespace platform {

namespace {

// Fixed slots that a signal handler can read without taking a lock or touching the heap: a
// slot's path is complete before its state says so, and its state leaves Ready before the path
// is changed again.
enum SlotState : int { kFree, kBusy, kReady };
constexpr int kSlots = 256;
constexpr size_t kPathBytes = 4096;

// On Windows the path is kept as UTF-16, converted when it is added: the console's stop handler
// then only calls DeleteFileW.
#ifdef _WIN32
using PathChar = wchar_t;
#else
using PathChar = char;
#endif

struct Slot {
    std::atomic<int> State{kFree};
    bool Folder = false; // set with Path, before the state says Ready
    PathChar Path[kPathBytes];
};

Slot gSlots[kSlots];

static_assert(std::atomic<int>::is_always_lock_free, "signal handlers need lock-free atomics");

int AddSlot(const std::string& path, bool folder)
{
#ifdef _WIN32
    const std::wstring held = WidePath(path); // long paths too
#else
    const std::string& held = path;
#endif
    if (held.empty() || held.size() >= kPathBytes)
        return -1;
    for (int i = 0; i < kSlots; ++i) {
        int state = kFree;
        if (!gSlots[i].State.compare_exchange_strong(state, kBusy))
            continue;
        std::memcpy(gSlots[i].Path, held.c_str(), (held.size() + 1) * sizeof(PathChar));
        gSlots[i].Folder = folder;
        gSlots[i].State.store(kReady, std::memory_order_release);
        return i;
    }
    return -1;
}

} // namespace

int FilesInProgress::Add(const std::string& path)
{
    return AddSlot(path, false);
}

int FilesInProgress::AddFolder(const std::string& path)
{
    return AddSlot(path, true);
}

void FilesInProgress::Remove(int token)
{
    if (token < 0 || token >= kSlots)
        return;
    gSlots[token].State.store(kBusy, std::memory_order_release);
    gSlots[token].State.store(kFree, std::memory_order_release);
}

void FilesInProgress::DeleteAllNow()
{
    // Files first: a folder goes only once it is empty.
    for (const bool folders : {false, true})
        for (Slot& slot : gSlots) {
            if (slot.State.load(std::memory_order_acquire) != kReady || slot.Folder != folders)
                continue;
#ifdef _WIN32
            folders ? RemoveDirectoryW(slot.Path) : DeleteFileW(slot.Path);
#else
            folders ? ::rmdir(slot.Path) : ::unlink(slot.Path);
#endif
        }
}

} // namespace platform
