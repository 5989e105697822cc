// A worker thread object, created suspended. The owner sets OnTerminate, then calls Start;
// Terminate only raises the stop flag that Execute polls. After the run, however it ended,
// OnTerminate runs on the main thread while the worker waits. The object never frees itself:
// its owner destroys it once the run has ended (after WaitFor, or once Finished holds).
#pragma once

#include <atomic>
#include <exception>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace platform {

class WorkerThread {
public:
    WorkerThread() = default;
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;
    // A thread that is still running is stopped and waited for first; a derived class whose
    // destructor needs the run to have ended calls EnsureRunEnded itself.
    virtual ~WorkerThread();

    void Start();
    // The stop request: sets Terminated and returns at once.
    void Terminate() { FTerminated.store(true, std::memory_order_relaxed); }
    bool Terminated() const { return FTerminated.load(std::memory_order_relaxed); }
    // Blocks until the run (OnTerminate included) has ended. On the main thread it keeps
    // running the worker's calls onto the main thread meanwhile. Returns at once for a thread
    // that was never started.
    void WaitFor();
    bool Started() const { return FStarted; }
    bool Finished() const { return FFinished.load(std::memory_order_acquire); }

    // The error that ended Execute, if any (kept, never thrown again).
    std::exception_ptr FatalException() const { return FFatalException; }
    // Its message text ("" when the run did not end by an error).
    std::string FatalMessage() const;
    // Its reason, when it is an EZoError that gives one ("" otherwise).
    std::string FatalReason() const;

    std::function<void()> OnTerminate; // runs on the main thread after the run

protected:
    // The body, on the worker thread. Skipped when Terminate came before Start.
    virtual void Execute() = 0;
    // Runs call on the main thread and waits for it (worker thread).
    static void Synchronize(const std::function<void()>& call);
    // Stops a running thread and waits for its end; for destructors of derived classes, whose
    // members the run may still be using.
    void EnsureRunEnded();

private:
    void Run(); // worker thread

    std::thread FThread;
    // Held by Start until the thread object is in place: the worker may not touch it before
    // then.
    std::mutex FStarting;
    bool FStarted = false;
    std::atomic<bool> FTerminated{false};
    std::atomic<bool> FFinished{false};
    std::exception_ptr FFatalException;
};

} // namespace platform
