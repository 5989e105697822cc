#include "platform/MainThreadQueue.h"

#include "platform/GuiThread.h"

#include <condition_variable>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>

namespace platform {

namespace {

struct PendingCall {
    const std::function<void()>* call;
    bool done = false;
    std::exception_ptr error;
    // A posted call: owned by the queue, nobody waits for it.
    std::unique_ptr<std::function<void()>> posted;
};

struct QueueState {
    std::mutex mutex;
    std::condition_variable mainWakeUp; // a call was queued, or a ServeUntil condition changed
    std::condition_variable callDone;   // a queued call has run
    std::deque<PendingCall*> calls;
    std::function<void()> wakeUpHook;
    std::thread::id mainThread = std::this_thread::get_id();
    unsigned notifications = 0;
    // Raised with mainWakeUp, for a main thread that waits for window messages too.
    bool dispatchMessages = false;
    WakeSignal messageWakeUp{WakeSignal::Waiter::WindowThread};
};

QueueState& State()
{
    // Made during static initialisation, on the thread that starts the program, and never
    // destroyed: a self-freeing worker may still be leaving while the program exits.
    static QueueState* state = new QueueState;
    return *state;
}

const bool kStateMadeAtStart = (State(), true);

} // namespace

void MainThreadQueue::SetCurrentThreadAsMain()
{
    std::lock_guard lock(State().mutex);
    State().mainThread = std::this_thread::get_id();
}

bool MainThreadQueue::IsMainThread()
{
    std::lock_guard lock(State().mutex);
    return State().mainThread == std::this_thread::get_id();
}

void MainThreadQueue::SetWakeUpHook(std::function<void()> hook)
{
    std::lock_guard lock(State().mutex);
    State().wakeUpHook = std::move(hook);
}

void MainThreadQueue::Run(const std::function<void()>& call)
{
    if (IsMainThread()) {
        call();
        return;
    }
    QueueState& state = State();
    PendingCall pending{&call, false, nullptr, nullptr};
    std::function<void()> hook;
    {
        std::lock_guard lock(state.mutex);
        state.calls.push_back(&pending);
        hook = state.wakeUpHook;
    }
    state.mainWakeUp.notify_all();
    state.messageWakeUp.Raise();
    if (hook)
        hook();
    std::unique_lock lock(state.mutex);
    state.callDone.wait(lock, [&] { return pending.done; });
    if (pending.error)
        std::rethrow_exception(pending.error);
}

void MainThreadQueue::Post(std::function<void()> call)
{
    QueueState& state = State();
    auto pending = new PendingCall{nullptr, false, nullptr,
                                   std::make_unique<std::function<void()>>(std::move(call))};
    pending->call = pending->posted.get();
    std::function<void()> hook;
    {
        std::lock_guard lock(state.mutex);
        state.calls.push_back(pending);
        hook = state.wakeUpHook;
    }
    state.mainWakeUp.notify_all();
    state.messageWakeUp.Raise();
    if (hook)
        hook();
}

bool MainThreadQueue::Serve()
{
    QueueState& state = State();
    bool ran = false;
    for (;;) {
        PendingCall* pending;
        {
            std::lock_guard lock(state.mutex);
            if (state.calls.empty())
                return ran;
            pending = state.calls.front();
            state.calls.pop_front();
        }
        if (pending->posted) {
            std::unique_ptr<PendingCall> owned(pending);
            try {
                (*owned->call)();
            } catch (...) {
                // Posted calls promise not to throw; one that does has nobody to report to.
            }
            ran = true;
            continue;
        }
        std::exception_ptr error;
        try {
            (*pending->call)();
        } catch (...) {
            error = std::current_exception();
        }
        {
            std::lock_guard lock(state.mutex);
            // Handed over whole: the worker alone holds the error from here on.
            pending->error = std::move(error);
            pending->done = true;
        }
        state.callDone.notify_all();
        ran = true;
    }
}

void MainThreadQueue::ServeUntil(const std::function<bool()>& done)
{
    QueueState& state = State();
    for (;;) {
        Serve();
        std::unique_lock lock(state.mutex);
        const unsigned seen = state.notifications;
        lock.unlock();
        if (done())
            return;
        lock.lock();
        if (state.dispatchMessages) {
            // Every queued call and notification raises the signal after it is counted: one
            // that came after this look wakes the wait below.
            if (state.calls.empty() && state.notifications == seen) {
                lock.unlock();
                state.messageWakeUp.Wait();
            }
            continue;
        }
        state.mainWakeUp.wait(lock,
                              [&] { return !state.calls.empty() || state.notifications != seen; });
    }
}

void MainThreadQueue::Notify()
{
    {
        std::lock_guard lock(State().mutex);
        ++State().notifications;
    }
    State().mainWakeUp.notify_all();
    State().messageWakeUp.Raise();
}

void MainThreadQueue::DispatchWindowMessagesWhileWaiting()
{
    std::lock_guard lock(State().mutex);
    State().dispatchMessages = true;
}

} // namespace platform
