#include "platform/FilesInProgress.h"

#include <atomic>
#include <cstring>

#ifdef _WIN32
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

struct Slot {
    std::atomic<int> State{kFree};
    char Path[kPathBytes];
};

Slot gSlots[kSlots];

static_assert(std::atomic<int>::is_always_lock_free, "signal handlers need lock-free atomics");

} // namespace

int FilesInProgress::Add(const std::string& path)
{
    if (path.empty() || path.size() >= kPathBytes)
        return -1;
    for (int i = 0; i < kSlots; ++i) {
        int state = kFree;
        if (!gSlots[i].State.compare_exchange_strong(state, kBusy))
            continue;
        std::memcpy(gSlots[i].Path, path.c_str(), path.size() + 1);
        gSlots[i].State.store(kReady, std::memory_order_release);
        return i;
    }
    return -1;
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
    for (Slot& slot : gSlots) {
        if (slot.State.load(std::memory_order_acquire) != kReady)
            continue;
#ifdef _WIN32
        DeleteFileA(slot.Path);
#else
        ::unlink(slot.Path);
#endif
    }
}

} // namespace platform
