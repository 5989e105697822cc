// Calls that worker threads hand to the main thread. A worker queues a call and blocks until
// the main thread has run it; the main thread serves the queue from its event loop (through
// the wake-up hook) and while it waits for a worker, so that neither side can deadlock.
#pragma once

#include <functional>

namespace platform {

class MainThreadQueue {
public:
    // Makes the calling thread the main thread. By default it is the thread that started the
    // program.
    static void SetCurrentThreadAsMain();
    static bool IsMainThread();

    // Called (from any thread) each time a call is queued, so that an event loop can wake up
    // and call Serve. Pass an empty function to remove it.
    static void SetWakeUpHook(std::function<void()> hook);

    // Runs call on the main thread and returns when it has run; an exception thrown by call
    // is thrown again here. On the main thread itself call runs at once.
    static void Run(const std::function<void()>& call);

    // Queues call to run on the main thread and returns at once (any thread, the main thread
    // included: there it runs the next time the queue is served). Such a call must not throw;
    // there is nobody to hand its error to.
    static void Post(std::function<void()> call);

    // Main thread: runs every queued call. Returns whether any ran.
    static bool Serve();

    // Main thread: serves queued calls until done() holds. done is checked after every wake-up;
    // whoever makes it true calls Notify.
    static void ServeUntil(const std::function<bool()>& done);

    // Wakes ServeUntil so that it checks its condition again.
    static void Notify();

    // Main thread of a program without a window loop of its own (the command line): from now
    // on ServeUntil dispatches the thread's window messages while it waits, as a window
    // program's main thread does while plug-ins work on other threads. Only Windows has such
    // messages.
    static void DispatchWindowMessagesWhileWaiting();
};

} // namespace platform
