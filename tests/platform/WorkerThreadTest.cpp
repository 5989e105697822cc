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
#include <vector>

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

TEST(MainThreadQueue, PostedCallsRunOnTheMainThreadInOrderWhenTheQueueIsServed)
{
    std::vector<int> ran;
    MainThreadQueue::Post([&] { ran.push_back(1); }); // from the main thread: not at once
    EXPECT_TRUE(ran.empty());
    std::thread worker([&] { MainThreadQueue::Post([&] { ran.push_back(2); }); });
    worker.join();
    // A posted call that throws has nobody to report to and must not stop the others.
    MainThreadQueue::Post([] { throw std::runtime_error("ignored"); });
    MainThreadQueue::Post([&] { ran.push_back(3); });
    EXPECT_TRUE(MainThreadQueue::Serve());
    EXPECT_EQ(ran, (std::vector<int>{1, 2, 3}));
    EXPECT_FALSE(MainThreadQueue::Serve());
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
    std::atomic<bool> running{false}, left{false};
    {
        Probe probe;
        probe.Body = [&](Probe& self) {
            running = true;
            while (!self.Terminated())
                Probe::Synchronize([] {});
            left = true;
        };
        probe.Start();
        // Destroyed only once the body runs: before that, a stop would skip it.
        MainThreadQueue::ServeUntil([&] { return running.load(); });
    }
    EXPECT_TRUE(left);
}
