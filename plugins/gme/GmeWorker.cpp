#include "plugins/gme/GmeWorker.h"

#include "plugins/gme/GmeEmulator.h"

#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <vector>

namespace gmekpi {

namespace {

enum : uint32_t { kStartTrack = 1, kSeek = 2, kPlay = 3 };

struct Request {
    uint32_t Op;
    uint32_t Value;
};

struct OpenReport {
    int32_t Ok;
    GmeFileFacts Facts;
};

// A healthy child answers a block in milliseconds, and opens a file or starts a track (which
// emulates through the track's leading silence) well within a second. Open and track start
// run on the host's main thread, where a damaged file must not freeze the window for long. A
// seek within a track emulates the time skipped and may take longer.
constexpr int kStartTimeoutMs = 10000;
constexpr int kSeekTimeoutMs = 30000;
constexpr int kPlayTimeoutMs = 10000;
// The most frames one answer carries; a larger request is cut to it.
constexpr uint32_t kMaxFrames = 1u << 16;

bool SendAll(int fd, const void* data, size_t size)
{
    const auto* p = static_cast<const char*>(data);
    while (size > 0) {
        // MSG_NOSIGNAL: a peer that has gone must give an error, not SIGPIPE.
        const ssize_t n = ::send(fd, p, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// Child side: blocks until the whole request is there; false when the host side has closed.
bool ReadAll(int fd, void* data, size_t size)
{
    auto* p = static_cast<char*>(data);
    while (size > 0) {
        const ssize_t n = ::read(fd, p, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// The child's whole life. It shares nothing with the host but the socket: every other
// descriptor is closed, so that a pipe or file of the host is never held open by it, and the
// host's signal handlers are dropped, so that a crash here runs none of the host's code.
[[noreturn]] void RunChild(int fd, const char* path, int32_t rate)
{
    for (int sig = 1; sig < NSIG; ++sig)
        if (sig != SIGKILL && sig != SIGSTOP)
            ::signal(sig, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    if (fd != 3) {
        ::dup2(fd, 3);
        fd = 3;
    }
    ::close_range(4, ~0u, 0);

    GmeEmulator emulator;
    OpenReport report{};
    report.Ok = emulator.Open(path, rate, report.Facts) ? 1 : 0;
    if (!SendAll(fd, &report, sizeof report) || report.Ok == 0)
        ::_exit(0);

    std::vector<int16_t> samples;
    Request request{};
    while (ReadAll(fd, &request, sizeof request)) {
        int32_t answer = 0;
        switch (request.Op) {
        case kStartTrack:
            answer = emulator.StartTrack(static_cast<int32_t>(request.Value)) ? 1 : 0;
            break;
        case kSeek:
            answer =
                emulator.Seek(static_cast<int32_t>(std::min<uint32_t>(request.Value, INT32_MAX)))
                    ? 1
                    : 0;
            break;
        case kPlay: {
            const uint32_t frames = std::min(request.Value, kMaxFrames);
            samples.resize(size_t(frames) * 2);
            answer = static_cast<int32_t>(emulator.Play(samples.data(), frames));
            if (!SendAll(fd, &answer, sizeof answer) ||
                !SendAll(fd, samples.data(), size_t(answer) * 2 * sizeof(int16_t)))
                ::_exit(0);
            continue;
        }
        default:
            ::_exit(0);
        }
        if (!SendAll(fd, &answer, sizeof answer))
            ::_exit(0);
    }
    ::_exit(0);
}

} // namespace

GmeWorker::~GmeWorker()
{
    Stop();
}

bool GmeWorker::Start(const char* path, int32_t rate, GmeFileFacts& facts)
{
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0)
        return false;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        RunChild(fds[1], path, rate);
    }
    ::close(fds[1]);
    if (pid < 0) {
        ::close(fds[0]);
        return false;
    }
    FPid = pid;
    FSocket = fds[0];

    OpenReport report{};
    if (!Receive(&report, sizeof report, kStartTimeoutMs) || report.Ok == 0) {
        Stop();
        return false;
    }
    facts = report.Facts;
    return true;
}

bool GmeWorker::StartTrack(int32_t index)
{
    int32_t ok = 0;
    return Ask(kStartTrack, static_cast<uint32_t>(index), kStartTimeoutMs, ok) && ok != 0;
}

bool GmeWorker::Seek(uint32_t ms)
{
    int32_t ok = 0;
    return Ask(kSeek, ms, kSeekTimeoutMs, ok) && ok != 0;
}

uint32_t GmeWorker::Play(int16_t* out, uint32_t frames)
{
    frames = std::min(frames, kMaxFrames);
    int32_t played = 0;
    if (!Ask(kPlay, frames, kPlayTimeoutMs, played))
        return 0;
    if (played < 0 || static_cast<uint32_t>(played) > frames) {
        Stop();
        return 0;
    }
    if (!Receive(out, size_t(played) * 2 * sizeof(int16_t), kPlayTimeoutMs))
        return 0;
    return static_cast<uint32_t>(played);
}

bool GmeWorker::Ask(uint32_t op, uint32_t value, int timeoutMs, int32_t& answer)
{
    if (FSocket < 0)
        return false;
    const Request request{op, value};
    if (!SendAll(FSocket, &request, sizeof request)) {
        Stop();
        return false;
    }
    return Receive(&answer, sizeof answer, timeoutMs);
}

// Host side: waits for the whole answer at most timeoutMs; a child that dies or stays silent
// that long is stopped for good.
bool GmeWorker::Receive(void* data, size_t size, int timeoutMs)
{
    if (FSocket < 0)
        return false;
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    auto* p = static_cast<char*>(data);
    while (size > 0) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        pollfd waitFor{FSocket, POLLIN, 0};
        const int ready = left > 0 ? ::poll(&waitFor, 1, static_cast<int>(left)) : 0;
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            break;
        const ssize_t n = ::read(FSocket, p, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        p += n;
        size -= static_cast<size_t>(n);
    }
    if (size == 0)
        return true;
    Stop();
    return false;
}

void GmeWorker::Stop()
{
    if (FSocket >= 0) {
        ::close(FSocket);
        FSocket = -1;
    }
    if (FPid > 0) {
        ::kill(FPid, SIGKILL);
        while (::waitpid(FPid, nullptr, 0) < 0 && errno == EINTR) {
        }
        FPid = -1;
    }
}

} // namespace gmekpi
