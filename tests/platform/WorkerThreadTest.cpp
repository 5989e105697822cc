// The worker thread and its main-thread call queue: suspended creation, the end handler on the
// main thread, self-freeing, held errors, and stops that must not deadlock.
#include "platform/WorkerThread.h"
#include "platform/MainThreadQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <random>
#include <stdexcept>
#include <thread>

using platform::MainThreadQueue;
using platform::WorkerThread;
using namespace std::chrono_literals;

namespace {

class Probe : public WorkerThread {
public:
    std::function<void(Probe&)> Body;
    std::atomic<bool> Ran{false};
    std::atomic<bool>* Destroyed = nullptr;
    ~Probe() override
    {
        EnsureRunEnded();
        if (Destroyed != nullptr)
            *Destroyed = true;
    }
    using WorkerThread::Synchronize;

protected:
    void Execute() override
    {
        Ran = true;
        if (Body)
            Body(*this);
    }
};

} // namespace

TEST(WorkerThread, CreatedSuspendedRunsOnlyAfterStart)
{
    Probe probe;
    std::this_thread::sleep_for(20ms);
    EXPECT_FALSE(probe.Ran);
    probe.WaitFor(); // never started: returns at once
    probe.Start();
    probe.WaitFor();
    EXPECT_TRUE(probe.Ran);
    EXPECT_TRUE(probe.Finished());
}

TEST(WorkerThread, EndHandlerRunsOnTheMainThreadAfterTheBody)
{
    Probe probe;
    std::thread::id handlerThread;
    bool bodyDone = false;
    probe.Body = [&](Probe&) { bodyDone = true; };
    probe.OnTerminate = [&] {
        handlerThread = std::this_thread::get_id();
        EXPECT_TRUE(bodyDone);
    };
    probe.Start();
    probe.WaitFor();
    EXPECT_EQ(handlerThread, std::this_thread::get_id());
}

TEST(WorkerThread, StopBeforeStartSkipsTheBodyButNotTheEndHandler)
{
    Probe probe;
    bool ended = false;
    probe.OnTerminate = [&] { ended = true; };
    probe.Terminate();
    probe.Start();
    probe.WaitFor();
    EXPECT_FALSE(probe.Ran);
    EXPECT_TRUE(ended);
}

TEST(WorkerThread, ErrorOutOfTheBodyIsHeldAndReadableInTheEndHandler)
{
    Probe probe;
    probe.Body = [](Probe&) { throw std::runtime_error("broken block"); };
    std::string seen;
    probe.OnTerminate = [&] { seen = probe.FatalMessage(); };
    probe.Start();
    EXPECT_NO_THROW(probe.WaitFor());
    EXPECT_EQ(seen, "broken block");
    EXPECT_TRUE(probe.FatalException() != nullptr);

    Probe clean;
    clean.Start();
    clean.WaitFor();
    EXPECT_EQ(clean.FatalMessage(), "");
}

TEST(WorkerThread, FreeOnTerminateDeletesItselfAfterTheEndHandler)
{
    std::atomic<bool> destroyed{false};
    bool ended = false;
    auto* probe = new Probe;
    probe->Destroyed = &destroyed;
    probe->FreeOnTerminate = true;
    probe->OnTerminate = [&] {
        EXPECT_FALSE(destroyed);
        ended = true;
    };
    probe->Start();
    MainThreadQueue::ServeUntil([&] { return destroyed.load(); });
    EXPECT_TRUE(ended);
}

TEST(WorkerThread, SelfFreeingThreadWithoutEndHandlerMayEndBeforeStartReturns)
{
    std::atomic<int> destroyed{0};
    constexpr int kThreads = 2000;
    for (int i = 0; i < kThreads; ++i) {
        auto* probe = new Probe; // an empty body: the quickest possible run
        probe->Destroyed = nullptr;
        probe->FreeOnTerminate = true;
        probe->Body = [&destroyed](Probe&) {};
        if (i % 2)
            probe->Terminate(); // the body is skipped too
        auto* counter = new std::atomic<bool>(false);
        probe->Destroyed = counter;
        probe->Start();
        std::thread([counter, &destroyed] {
            while (!counter->load())
                std::this_thread::yield();
            delete counter;
            ++destroyed;
        }).detach();
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (destroyed.load() < kThreads && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(1ms);
    EXPECT_EQ(destroyed.load(), kThreads);
}

TEST(WorkerThread, StopWhileTheWorkerWaitsForTheMainThreadDoesNotDeadlock)
{
    Probe probe;
    std::atomic<int> calls{0};
    probe.Body = [&](Probe& self) {
        while (!self.Terminated())
            Probe::Synchronize([&] { ++calls; });
    };
    probe.Start();
    // Let the worker block in a call onto the main thread nobody serves yet.
    std::this_thread::sleep_for(20ms);
    probe.Terminate();
    probe.WaitFor();
    EXPECT_GE(calls.load(), 1);
}

TEST(WorkerThread, ErrorInAMainThreadCallReachesTheWorker)
{
    Probe probe;
    std::string caught;
    probe.Body = [&](Probe&) {
        try {
            Probe::Synchronize([] { throw std::runtime_error("handler failed"); });
        } catch (const std::exception& e) {
            caught = e.what();
        }
    };
    probe.Start();
    probe.WaitFor();
    EXPECT_EQ(caught, "handler failed");
}

TEST(WorkerThread, WakeUpHookHearsOfEveryQueuedCall)
{
    std::atomic<int> wakeUps{0};
    MainThreadQueue::SetWakeUpHook([&] { ++wakeUps; });
    Probe probe;
    probe.Body = [](Probe&) {
        for (int i = 0; i < 3; ++i)
            Probe::Synchronize([] {});
    };
    probe.Start();
    probe.WaitFor();
    MainThreadQueue::SetWakeUpHook({});
    EXPECT_EQ(wakeUps.load(), 3);
}

TEST(WorkerThread, ThousandStartStopCyclesEndCleanly)
{
    std::mt19937 random(1234);
    int ended = 0;
    for (int i = 0; i < 1000; ++i) {
        Probe probe;
        probe.Body = [](Probe& self) {
            while (!self.Terminated()) {
                Probe::Synchronize([] {});
                std::this_thread::yield();
            }
        };
        probe.OnTerminate = [&] { ++ended; };
        probe.Start();
        if (random() % 2)
            std::this_thread::sleep_for(std::chrono::microseconds(random() % 200));
        probe.Terminate();
        probe.WaitFor();
    }
    EXPECT_EQ(ended, 1000);
}

TEST(WorkerThread, DestroyingARunningThreadStopsAndWaitsForIt)
{
    std::atomic<bool> left{false};
    {
        Probe probe;
        probe.Body = [&](Probe& self) {
            while (!self.Terminated())
                Probe::Synchronize([] {});
            left = true;
        };
        probe.Start();
        std::this_thread::sleep_for(5ms);
    }
    EXPECT_TRUE(left);
}
