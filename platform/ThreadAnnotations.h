// Which lock guards which field, said in the code so that clang checks it: a field marked
// GUARDED_BY(FLock) read or written without FLock held, or a function marked REQUIRES(FLock)
// called without it, fails the clang build (-Wthread-safety, an error there). Other compilers
// see empty macros.
//
// std::mutex and std::lock_guard carry no such marks in the standard libraries we build with,
// so annotated fields are guarded by platform::Mutex and locked with platform::MutexLock.
#pragma once

#include <condition_variable>
#include <mutex>

#if defined(__clang__)
#define PELLAN_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define PELLAN_THREAD_ANNOTATION(x)
#endif

#define CAPABILITY(x) PELLAN_THREAD_ANNOTATION(capability(x))
#define SCOPED_CAPABILITY PELLAN_THREAD_ANNOTATION(scoped_lockable)
#define GUARDED_BY(x) PELLAN_THREAD_ANNOTATION(guarded_by(x))
#define ACQUIRED_AFTER(...) PELLAN_THREAD_ANNOTATION(acquired_after(__VA_ARGS__))
#define REQUIRES(...) PELLAN_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define ACQUIRE(...) PELLAN_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define RELEASE(...) PELLAN_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define TRY_ACQUIRE(...) PELLAN_THREAD_ANNOTATION(try_acquire_capability(__VA_ARGS__))
#define EXCLUDES(...) PELLAN_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))

namespace platform {

// A std::mutex that the analysis knows as a lock.
class CAPABILITY("mutex") Mutex {
public:
    Mutex() = default;
    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;

    void lock() ACQUIRE() { FMutex.lock(); }
    void unlock() RELEASE() { FMutex.unlock(); }
    bool try_lock() TRY_ACQUIRE(true) { return FMutex.try_lock(); }

private:
    friend class MutexLock;
    std::mutex FMutex;
};

// Holds a Mutex for its scope, like std::unique_lock, and waits on condition variables with it.
// Waits take no predicate: a predicate runs outside the function that holds the lock, where
// the analysis cannot see it held, so callers loop on their condition around Wait themselves.
class SCOPED_CAPABILITY MutexLock {
public:
    explicit MutexLock(Mutex& mutex) ACQUIRE(mutex) : FLock(mutex.FMutex) {}
    ~MutexLock() RELEASE() {}
    MutexLock(const MutexLock&) = delete;
    MutexLock& operator=(const MutexLock&) = delete;

    // Lets the mutex go until changed is notified (or wakes spuriously), then holds it again.
    void Wait(std::condition_variable& changed) { changed.wait(FLock); }

private:
    std::unique_lock<std::mutex> FLock;
};

} // namespace platform
