#include "plugins/gme/GmeWorker.h"

#include "plugins/gme/GmeEmulator.h"

#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gme/gme.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

namespace gmekpi {

namespace {

enum : uint32_t { kStartTrack = 1, kSeek = 2, kPlay = 3, kTrackTexts = 4 };

struct Request {
    uint32_t Op;
    uint32_t Value;
};

struct OpenReport {
    int32_t Ok;
    int32_t WrongType; // libgme does not know the file
    GmeFileFacts Facts;
    char Error[256]; // libgme's reason, when not Ok
};

// The longest track text passed on; libgme's fields are far shorter.
constexpr uint32_t kMaxTextBytes = 4096;

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
    std::string error;
    report.Ok = emulator.Open(path, rate, report.Facts, error) ? 1 : 0;
    report.WrongType = error == gme_wrong_file_type ? 1 : 0;
    std::snprintf(report.Error, sizeof report.Error, "%s", error.c_str());
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
        case kTrackTexts: {
            // A count, then each text as its length and its bytes.
            const std::vector<std::string> texts =
                emulator.TrackTexts(static_cast<int32_t>(request.Value));
            answer = static_cast<int32_t>(texts.size());
            bool sent = SendAll(fd, &answer, sizeof answer);
            for (const std::string& text : texts) {
                const uint32_t length = std::min<uint32_t>(text.size(), kMaxTextBytes);
                sent =
                    sent && SendAll(fd, &length, sizeof length) && SendAll(fd, text.data(), length);
            }
            if (!sent)
                ::_exit(0);
            continue;
        }
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

GmeWorker::Failure GmeWorker::Start(const char* path, int32_t rate, GmeFileFacts& facts,
                                    std::string& detail)
{
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) {
        detail = std::string("socketpair: ") + std::strerror(errno);
        return Failure::System;
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        RunChild(fds[1], path, rate);
    }
    ::close(fds[1]);
    if (pid < 0) {
        detail = std::string("fork: ") + std::strerror(errno);
        ::close(fds[0]);
        return Failure::System;
    }
    FPid = pid;
    FSocket = fds[0];

    OpenReport report{};
    if (!Receive(&report, sizeof report, kStartTimeoutMs)) {
        detail = FEnd;
        return FTimedOut ? Failure::TimedOut : Failure::Died;
    }
    if (report.Ok == 0) {
        report.Error[sizeof report.Error - 1] = '\0';
        detail = report.Error;
        Stop();
        return report.WrongType != 0 ? Failure::WrongType : Failure::Refused;
    }
    facts = report.Facts;
    return Failure::None;
}

std::vector<std::string> GmeWorker::TrackTexts(int32_t index)
{
    int32_t count = 0;
    if (!Ask(kTrackTexts, static_cast<uint32_t>(index), kStartTimeoutMs, count) || count < 0 ||
        count > 16)
        return {};
    std::vector<std::string> texts;
    for (int32_t i = 0; i < count; ++i) {
        uint32_t length = 0;
        if (!Receive(&length, sizeof length, kStartTimeoutMs) || length > kMaxTextBytes)
            return {};
        std::string text(length, '\0');
        if (!Receive(text.data(), length, kStartTimeoutMs))
            return {};
        texts.push_back(std::move(text));
    }
    return texts;
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
        if (ready <= 0) {
            FTimedOut = true;
            break;
        }
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
        // A child that closed its end is on its way out: a moment to see how it ended.
        int status = 0;
        pid_t ended = 0;
        for (int i = 0; i < 100 && !FTimedOut && ended == 0; ++i) {
            ended = ::waitpid(FPid, &status, WNOHANG);
            if (ended == 0)
                ::usleep(10000);
        }
        if (ended == FPid) {
            char how[64];
            if (WIFSIGNALED(status))
                std::snprintf(how, sizeof how, "signal %d", WTERMSIG(status));
            else
                std::snprintf(how, sizeof how, "exit code %d", WEXITSTATUS(status));
            FEnd = how;
        } else {
            ::kill(FPid, SIGKILL);
            while (::waitpid(FPid, nullptr, 0) < 0 && errno == EINTR) {
            }
        }
        FPid = -1;
    }
}

} // namespace gmekpi
