// An operating-system critical section owned by an object. TZoSong carries one for callers
// that need to guard it; the song itself never enters it.
#pragma once

#include <mutex>

class TZoCriticalSection {
public:
    TZoCriticalSection() = default;
    TZoCriticalSection(const TZoCriticalSection&) = delete;
    TZoCriticalSection& operator=(const TZoCriticalSection&) = delete;

    void Enter() { FSection.lock(); }
    void Leave() { FSection.unlock(); }

private:
    // A Windows critical section may be entered again by the thread that holds it.
    std::recursive_mutex FSection;
};
