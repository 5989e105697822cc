#include "platform/WorkerThread.h"

#include "platform/Errors.h"

#include "platform/MainThreadQueue.h"

namespace platform {

WorkerThread::~WorkerThread()
{
    EnsureRunEnded();
}

void WorkerThread::Start()
{
    if (FStarted)
        return;
    FStarted = true;
    std::lock_guard starting(FStarting);
    FThread = std::thread([this] { Run(); });
}

void WorkerThread::Run()
{
    {
        std::lock_guard started(FStarting);
    }
    try {
        if (!Terminated())
            Execute();
    } catch (...) {
        FFatalException = std::current_exception();
    }
    if (OnTerminate) {
        try {
            Synchronize(OnTerminate);
        } catch (...) {
            // An end handler's failure has nobody left to report to.
        }
    }
    FFinished.store(true, std::memory_order_release);
    MainThreadQueue::Notify();
}

void WorkerThread::WaitFor()
{
    if (!FStarted || !FThread.joinable())
        return;
    if (MainThreadQueue::IsMainThread())
        MainThreadQueue::ServeUntil([this] { return Finished(); });
    FThread.join();
}

void WorkerThread::EnsureRunEnded()
{
    if (FThread.joinable()) {
        Terminate();
        WaitFor();
    }
}

void WorkerThread::Synchronize(const std::function<void()>& call)
{
    MainThreadQueue::Run(call);
}

std::string WorkerThread::FatalReason() const
{
    if (!FFatalException)
        return std::string();
    try {
        std::rethrow_exception(FFatalException);
    } catch (const EZoError& e) {
        return e.Reason();
    } catch (...) {
        return std::string();
    }
}

std::string WorkerThread::FatalMessage() const
{
    if (!FFatalException)
        return std::string();
    try {
        std::rethrow_exception(FFatalException);
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "unknown error";
    }
}

} // namespace platform
