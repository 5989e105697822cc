// The main thread's loop as the decode flows see it: while a flow waits (for a playlist entry's
// end, or for a stopped thread), the loop keeps serving the calls that decoder threads hand to
// the main thread, and whatever else the program's event source brings (the window's input, a
// console's Ctrl+C). The window runs it on its toolkit's event loop; programs without a toolkit
// use the plain loop over the platform's main-thread queue.
#pragma once

#include "platform/MainThreadQueue.h"

#include <functional>

class IMainThreadLoop {
public:
    virtual ~IMainThreadLoop() = default;
    // Main thread: runs the loop until done() holds. done is checked again after each Wake, so
    // whoever makes it true calls Wake. Waits may nest; each ends on its own condition.
    virtual void RunUntil(const std::function<bool()>& done) = 0;
    // Main thread, or any thread for the plain loop: every wait in progress checks its
    // condition again.
    virtual void Wake() = 0;
};

// The loop of a program without a toolkit: it serves the main-thread queue and sleeps in
// between. Other event sources reach it by posting calls to the queue.
class TPlainMainThreadLoop : public IMainThreadLoop {
public:
    void RunUntil(const std::function<bool()>& done) override
    {
        platform::MainThreadQueue::ServeUntil(done);
    }
    void Wake() override { platform::MainThreadQueue::Notify(); }
};
