#include "platform/StopRequests.h"

#include "platform/FilesInProgress.h"
#include "platform/MainThreadQueue.h"
#include "platform/ThreadAnnotations.h"

#include <chrono>
#include <csignal>
#include <future>
#include <memory>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>
#endif

namespace platform {

namespace {

constexpr int kSignalBase = 128;
std::function<void()> gOnFirst; // main thread only
Mutex gAtOnceLock;
std::function<void()> gAtOnce GUARDED_BY(gAtOnceLock); // the receiving thread runs it
volatile std::sig_atomic_t gRequests = 0;
volatile std::sig_atomic_t gFirst = 0;

void SetAtOnce(std::function<void()> action)
{
    MutexLock lock(gAtOnceLock);
    gAtOnce = std::move(action);
}

// The longest the immediate action waits for the main thread to take the stop first.
constexpr auto kMainThreadGrace = std::chrono::seconds(1);

// On the thread that received the first request. The main thread takes the stop first, so
// that what the immediate action then ends (a plug-in host's call) ends as part of the stop,
// never as a failure of its own; a main thread that does not come to it in a moment (held up by
// a plug-in's call itself) does not hold up the immediate action.
void PostFirst()
{
    auto taken = std::make_shared<std::promise<void>>();
    std::future<void> stopTaken = taken->get_future();
    MainThreadQueue::Post([taken] {
        if (gOnFirst)
            gOnFirst();
        taken->set_value();
    });
    stopTaken.wait_for(kMainThreadGrace);
    MutexLock lock(gAtOnceLock);
    if (gAtOnce)
        gAtOnce();
}

#ifdef _WIN32

constexpr int kCtrlC = 2; // as SIGINT

BOOL WINAPI OnConsoleEvent(DWORD event)
{
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT)
        return FALSE;
    // Runs on a thread of its own: it may post directly.
    const int seen = gRequests;
    gRequests = seen + 1;
    if (seen == 0) {
        gFirst = kCtrlC;
        PostFirst();
        return TRUE;
    }
    FilesInProgress::DeleteAllNow();
    ExitProcess(kSignalBase + kCtrlC);
}

} // namespace

bool StopRequests::Install(std::function<void()> onFirst, std::function<void()> atOnce)
{
    gOnFirst = std::move(onFirst);
    SetAtOnce(std::move(atOnce));
    return SetConsoleCtrlHandler(OnConsoleEvent, TRUE) != 0;
}

void StopRequests::Uninstall()
{
    SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
    SetAtOnce(nullptr);
    gOnFirst = nullptr;
}

#else

// The handler only writes a byte; a watcher thread posts the stop to the main thread. The
// signals are blocked in the main thread, and so in the decoder threads it starts, and open in
// the watcher alone: a plug-in's call on a decoder thread is never cut short by them.
int gPipe[2] = {-1, -1};
std::thread gWatcher;
sigset_t gMainMask;

sigset_t StopSignals()
{
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    return signals;
}

void OnSignal(int signal)
{
    const int seen = gRequests;
    gRequests = seen + 1;
    if (seen == 0) {
        gFirst = signal;
        const char byte = 1;
        [[maybe_unused]] const ssize_t n = ::write(gPipe[1], &byte, 1);
        return;
    }
    FilesInProgress::DeleteAllNow();
    ::_exit(kSignalBase + signal);
}

void Watch()
{
    const sigset_t signals = StopSignals();
    pthread_sigmask(SIG_UNBLOCK, &signals, nullptr);
    char byte;
    for (;;) {
        const ssize_t n = ::read(gPipe[0], &byte, 1);
        if (n == 1)
            PostFirst();
        else if (n == 0 || errno != EINTR)
            return;
    }
}

} // namespace

bool StopRequests::Install(std::function<void()> onFirst, std::function<void()> atOnce)
{
    gOnFirst = std::move(onFirst);
    SetAtOnce(std::move(atOnce));
    if (gPipe[0] < 0 && ::pipe2(gPipe, O_CLOEXEC) != 0)
        return false;
    if (!gWatcher.joinable())
        gWatcher = std::thread(Watch);
    struct sigaction action {};
    action.sa_handler = OnSignal;
    // Neither signal interrupts the handler of the other.
    sigemptyset(&action.sa_mask);
    sigaddset(&action.sa_mask, SIGINT);
    sigaddset(&action.sa_mask, SIGTERM);
    action.sa_flags = SA_RESTART;
    return ::sigaction(SIGINT, &action, nullptr) == 0 &&
           ::sigaction(SIGTERM, &action, nullptr) == 0;
}

void StopRequests::Uninstall()
{
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    pthread_sigmask(SIG_SETMASK, &gMainMask, nullptr);
    if (gWatcher.joinable()) {
        ::close(gPipe[1]); // ends the watcher
        gWatcher.join();
        ::close(gPipe[0]);
        gPipe[0] = gPipe[1] = -1;
    }
    SetAtOnce(nullptr);
    gOnFirst = nullptr;
}

#endif

int StopRequests::ExitStatus()
{
    return kSignalBase + gFirst;
}

} // namespace platform
