#include "platform/ChildProcess.h"

#include "platform/ThreadAnnotations.h"

#ifdef _WIN32
// The Win32 implementation lives in ChildProcessWin32.cpp.
#else

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <map>
#include <thread>

extern char** environ;

namespace platform {

namespace {

// How much of the child's standard error is kept.
constexpr size_t kErrorTailSize = 4096;
// Replies of a plug-in host come in blocks of up to a few megabytes; a larger pipe saves the
// writer and the reader many turns. The system may grant less; that is only slower.
constexpr int kOutputPipeSize = 1 << 20;

int RemainingMs(ChildProcess::Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - ChildProcess::Clock::now());
    if (left.count() <= 0)
        return 0;
    return static_cast<int>(std::min<int64_t>(left.count() + 1, 60 * 60 * 1000));
}

void CloseFd(int& fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

void SetNonBlocking(int fd)
{
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
}

int OpenPidFd(pid_t pid)
{
#ifdef SYS_pidfd_open
    const long fd = ::syscall(SYS_pidfd_open, pid, 0);
    return fd >= 0 ? static_cast<int>(fd) : -1;
#else
    (void)pid;
    return -1;
#endif
}

// The environment block of the child: this process's variables with the given ones set over
// them. Built before the fork: the child may only make async-signal-safe calls.
std::vector<std::string>
ChildEnvironment(const std::vector<std::pair<std::string, std::string>>& overrides)
{
    std::map<std::string, std::string> variables;
    std::vector<std::string> order;
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        const std::string text(*entry);
        const size_t eq = text.find('=');
        const std::string name = text.substr(0, eq);
        if (variables.emplace(name, text).second)
            order.push_back(name);
    }
    for (const auto& [name, value] : overrides) {
        if (variables.find(name) == variables.end())
            order.push_back(name);
        variables[name] = name + "=" + value;
    }
    std::vector<std::string> block;
    for (const auto& name : order)
        block.push_back(variables[name]);
    return block;
}

// The thread that forks every child. A child asks the kernel to kill it when its parent goes
// (the parent-death signal), but the kernel sends that signal when the *thread* that forked it
// ends, not the process: a host started from a thread that ends before the program would die
// with it. This thread lives as long as the process; it is never joined, and goes with the
// process however that ends. Callers hand it one fork at a time and wait for it.
class Forker {
public:
    static Forker& Instance()
    {
        // Never destroyed: the thread may still wait for work while the process exits. A
        // process forked by other means (a test, a plug-in) has the object but not its thread,
        // and makes its own.
        static std::mutex making;
        static Forker* forker = nullptr;
        static pid_t owner = -1;
        std::lock_guard lock(making);
        if (forker == nullptr || owner != ::getpid()) {
            forker = new Forker;
            owner = ::getpid();
        }
        return *forker;
    }

    // Forks on the forker's thread and runs inChild in the child, which must not return.
    pid_t Fork(const std::function<void()>& inChild)
    {
        platform::MutexLock lock(FLock);
        while (FJob)
            lock.Wait(FChanged);
        pid_t pid = -1;
        int error = 0;
        FJob = [&] {
            pid = ::fork();
            if (pid == 0)
                inChild();
            error = errno;
        };
        FForked = false;
        FChanged.notify_all();
        while (!FForked)
            lock.Wait(FChanged);
        FJob = nullptr;
        FChanged.notify_all();
        errno = error;
        return pid;
    }

private:
    Forker()
    {
        std::thread([this] {
            // Stop signals are for the threads that wait for them, never for this one.
            sigset_t all;
            ::sigfillset(&all);
            ::pthread_sigmask(SIG_BLOCK, &all, nullptr);
            platform::MutexLock lock(FLock);
            for (;;) {
                while (!FJob || FForked)
                    lock.Wait(FChanged);
                FJob();
                FForked = true;
                FChanged.notify_all();
            }
        }).detach();
    }

    platform::Mutex FLock;
    std::condition_variable FChanged;
    // The fork asked for, until its caller has its result.
    std::function<void()> FJob GUARDED_BY(FLock);
    bool FForked GUARDED_BY(FLock) = false; // FJob has run
};

} // namespace

struct ChildProcess::State {
    pid_t Pid = -1;
    int Input = -1;  // the child's standard input, our writing end
    int Output = -1; // the child's standard output, our reading end
    int Error = -1;  // the child's standard error, our reading end
    int PidFd = -1;  // readable once the child has ended; -1 where the kernel has none

    // Guards Reaped and Status, so that a kill never reaches a process id that was reused
    // after the child was collected.
    platform::Mutex ExitLock;
    bool Reaped GUARDED_BY(ExitLock) = false;
    int Status GUARDED_BY(ExitLock) = 0;

    std::string ErrorTail;

    // Collects the child when it has ended; true once it has.
    bool Reap()
    {
        platform::MutexLock lock(ExitLock);
        if (Reaped)
            return true;
        int status = 0;
        const pid_t done = ::waitpid(Pid, &status, WNOHANG);
        if (done == Pid) {
            Reaped = true;
            Status = status;
        } else if (done < 0 && errno == ECHILD) {
            Reaped = true; // collected elsewhere; nothing is known of how it ended
        }
        return Reaped;
    }

    // Reads what standard error holds now. At its end (the child closed it, or ended) the pipe
    // is closed here: a hung-up pipe is always "ready", and watching it again would spin.
    void DrainError()
    {
        char buffer[4096];
        while (Error >= 0) {
            const ssize_t n = ::read(Error, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR)
                continue;
            if (n == 0 || (n < 0 && errno != EAGAIN))
                CloseFd(Error);
            if (n <= 0)
                break;
            ErrorTail.append(buffer, static_cast<size_t>(n));
            if (ErrorTail.size() > kErrorTailSize)
                ErrorTail.erase(0, ErrorTail.size() - kErrorTailSize);
        }
    }

    // Waits for fd to become ready for events, for the child's standard error (drained) and
    // for the child's end, until deadline. Returns 1 when fd is ready, 0 on timeout, -1 when
    // the child has ended.
    int Wait(int fd, short events, Clock::time_point deadline)
    {
        for (;;) {
            pollfd fds[3] = {{fd, events, 0}, {Error, POLLIN, 0}, {PidFd, POLLIN, 0}};
            const nfds_t count = PidFd >= 0 ? 3 : 2;
            // Without a process descriptor the child's end is looked for every 100 ms.
            const int timeout =
                PidFd >= 0 ? RemainingMs(deadline) : std::min(RemainingMs(deadline), 100);
            const int ready = ::poll(fds, count, timeout);
            if (ready < 0 && errno != EINTR)
                return -1;
            if (ready > 0 && (fds[1].revents & (POLLIN | POLLHUP)) != 0)
                DrainError();
            if (ready > 0 && (fds[0].revents & (events | POLLHUP | POLLERR)) != 0)
                return 1;
            if ((count == 3 && fds[2].revents != 0) || (count == 2 && Reap()))
                return -1;
            if (Clock::now() >= deadline)
                return 0;
        }
    }
};

std::unique_ptr<ChildProcess> ChildProcess::Start(const Options& options, std::string& error)
{
    if (options.Arguments.empty()) {
        error = "no program given";
        return nullptr;
    }
    int input[2], output[2], errors[2], report[2];
    int* pipes[] = {input, output, errors, report};
    for (size_t i = 0; i < 4; ++i) {
        if (::pipe2(pipes[i], O_CLOEXEC) != 0) {
            error = std::string("cannot make a pipe: ") + std::strerror(errno);
            for (size_t j = 0; j < i; ++j) {
                ::close(pipes[j][0]);
                ::close(pipes[j][1]);
            }
            return nullptr;
        }
    }
    ::fcntl(output[1], F_SETPIPE_SZ, kOutputPipeSize);

    std::vector<std::string> environment = ChildEnvironment(options.Environment);
    std::vector<char*> envp;
    for (auto& entry : environment)
        envp.push_back(entry.data());
    envp.push_back(nullptr);
    std::vector<std::string> arguments = options.Arguments;
    std::vector<char*> argv;
    for (auto& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    const pid_t parent = ::getpid();
    const pid_t pid = Forker::Instance().Fork([&] {
        // The child: async-signal-safe calls only until exec. It goes when this process goes,
        // however that ends (a crash, SIGKILL, an emergency exit); the signal stays set across
        // the exec, so that it reaches the program that runs the plug-in (Wine's loader keeps
        // its process). A parent that went before the request was made is seen here.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent)
            ::_exit(127);
        // A pipe that already sits at its place keeps it, but loses its close-on-exec flag.
        const int places[3][2] = {{input[0], 0}, {output[1], 1}, {errors[1], 2}};
        for (const auto& [from, to] : places) {
            if (from == to)
                ::fcntl(to, F_SETFD, 0);
            else
                ::dup2(from, to);
        }
        // Descriptors this process opened without close-on-exec (files being written, for
        // one) are not the child's business.
        ::syscall(SYS_close_range, 3u, ~0u, 4u /* CLOSE_RANGE_CLOEXEC */);
        // A terminal's Ctrl+C is meant for the program, which stops its work in order; a
        // child of its own process group does not get it.
        ::setpgid(0, 0);
        sigset_t all;
        ::sigemptyset(&all);
        ::sigprocmask(SIG_SETMASK, &all, nullptr);
        ::signal(SIGPIPE, SIG_DFL);
        ::signal(SIGINT, SIG_DFL);
        ::execve(argv[0], argv.data(), envp.data());
        const int code = errno;
        [[maybe_unused]] const ssize_t n = ::write(report[1], &code, sizeof code);
        ::_exit(127);
    });
    const int forkError = errno;
    ::close(input[0]);
    ::close(output[1]);
    ::close(errors[1]);
    ::close(report[1]);
    if (pid < 0) {
        ::close(input[1]);
        ::close(output[0]);
        ::close(errors[0]);
        ::close(report[0]);
        error = std::string("cannot start a process: ") + std::strerror(forkError);
        return nullptr;
    }
    // The report pipe closes at the exec; before that the child writes why the exec failed.
    int execError = 0;
    ssize_t got;
    do
        got = ::read(report[0], &execError, sizeof execError);
    while (got < 0 && errno == EINTR);
    ::close(report[0]);

    std::unique_ptr<ChildProcess> child(new ChildProcess);
    State& s = *(child->FState = std::make_unique<State>());
    s.Pid = pid;
    s.Input = input[1];
    s.Output = output[0];
    s.Error = errors[0];
    if (got == sizeof execError) {
        error = arguments[0] + ": " + std::strerror(execError);
        return nullptr; // the destructor collects the child
    }
    s.PidFd = OpenPidFd(pid);
    SetNonBlocking(s.Input);
    SetNonBlocking(s.Output);
    SetNonBlocking(s.Error);
    return child;
}

ChildProcess::~ChildProcess()
{
    if (!FState)
        return;
    State& s = *FState;
    CloseFd(s.Input);
    if (!s.Reap()) {
        Kill();
        platform::MutexLock lock(s.ExitLock);
        int status = 0;
        while (::waitpid(s.Pid, &status, 0) < 0 && errno == EINTR) {
        }
        s.Reaped = true;
    }
    CloseFd(s.Output);
    CloseFd(s.Error);
    CloseFd(s.PidFd);
}

ChildProcess::IoResult ChildProcess::Write(const void* data, size_t size,
                                           Clock::time_point deadline)
{
    State& s = *FState;
    const char* bytes = static_cast<const char*>(data);
    // A child that has gone raises SIGPIPE at the write; it is kept from this thread and taken
    // back afterwards, so that the process's own handling of the signal is not touched.
    sigset_t pipeSignal, previous;
    ::sigemptyset(&pipeSignal);
    ::sigaddset(&pipeSignal, SIGPIPE);
    ::pthread_sigmask(SIG_BLOCK, &pipeSignal, &previous);
    sigset_t pendingBefore;
    ::sigpending(&pendingBefore);
    const bool wasPending = ::sigismember(&pendingBefore, SIGPIPE) == 1;

    IoResult result = IoResult::Done;
    while (size > 0) {
        if (s.Input < 0) {
            result = IoResult::Ended;
            break;
        }
        const ssize_t n = ::write(s.Input, bytes, size);
        if (n > 0) {
            bytes += n;
            size -= static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN) {
            result = IoResult::Ended;
            break;
        }
        const int ready = s.Wait(s.Input, POLLOUT, deadline);
        if (ready <= 0) {
            result = ready == 0 ? IoResult::TimedOut : IoResult::Ended;
            break;
        }
    }

    if (result == IoResult::Ended && !wasPending) {
        const timespec none{0, 0};
        while (::sigtimedwait(&pipeSignal, nullptr, &none) < 0 && errno == EINTR) {
        }
    }
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return result;
}

ChildProcess::IoResult ChildProcess::Read(void* data, size_t size, Clock::time_point deadline)
{
    State& s = *FState;
    char* bytes = static_cast<char*>(data);
    bool ended = false;
    while (size > 0) {
        const ssize_t n = ::read(s.Output, bytes, size);
        if (n > 0) {
            bytes += n;
            size -= static_cast<size_t>(n);
            continue;
        }
        if (n == 0)
            return IoResult::Ended;
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN)
            return IoResult::Ended;
        // What the child wrote before it ended is still read; only then is its end final.
        if (ended)
            return IoResult::Ended;
        const int ready = s.Wait(s.Output, POLLIN, deadline);
        if (ready == 0)
            return IoResult::TimedOut;
        if (ready < 0)
            ended = true;
    }
    return IoResult::Done;
}

void ChildProcess::CloseInput()
{
    CloseFd(FState->Input);
}

void ChildProcess::Kill()
{
    State& s = *FState;
    platform::MutexLock lock(s.ExitLock);
    if (!s.Reaped)
        ::kill(s.Pid, SIGKILL);
}

bool ChildProcess::WaitForExit(Clock::time_point deadline)
{
    State& s = *FState;
    for (;;) {
        if (s.Reap())
            return true;
        if (Clock::now() >= deadline)
            return false;
        if (s.PidFd >= 0) {
            pollfd fd{s.PidFd, POLLIN, 0};
            ::poll(&fd, 1, RemainingMs(deadline));
        } else {
            const timespec step{0, 5 * 1000 * 1000};
            ::nanosleep(&step, nullptr);
        }
    }
}

std::string ChildProcess::ExitDescription() const
{
    State& s = *FState;
    s.Reap();
    platform::MutexLock lock(s.ExitLock);
    if (!s.Reaped)
        return "";
    if (WIFEXITED(s.Status))
        return "exit code " + std::to_string(WEXITSTATUS(s.Status));
    if (WIFSIGNALED(s.Status)) {
        const int signal = WTERMSIG(s.Status);
        const char* name = ::strsignal(signal);
        return "signal " + std::to_string(signal) + (name ? std::string(" (") + name + ")" : "");
    }
    return "ended";
}

std::string ChildProcess::ErrorOutput()
{
    State& s = *FState;
    s.DrainError();
    std::string text = s.ErrorTail;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
        text.pop_back();
    return text;
}

int64_t ChildProcess::ProcessId() const
{
    return FState->Pid;
}

std::string FindProgramOnPath(const std::string& name, const std::string& pathVariable)
{
    size_t start = 0;
    while (start <= pathVariable.size()) {
        size_t end = pathVariable.find(':', start);
        if (end == std::string::npos)
            end = pathVariable.size();
        const std::string folder = pathVariable.substr(start, end - start);
        start = end + 1;
        // An empty entry would mean the current folder, which is no place to take programs
        // from.
        if (folder.empty())
            continue;
        const std::string candidate = (folder.back() == '/' ? folder : folder + "/") + name;
        struct stat info;
        if (::stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
            ::access(candidate.c_str(), X_OK) == 0)
            return candidate;
    }
    return std::string();
}

} // namespace platform

#endif
