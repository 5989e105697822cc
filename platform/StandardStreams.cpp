#include "platform/StandardStreams.h"

#include <csignal>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <pthread.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace platform {

#ifdef _WIN32

TakenOutput TakeStandardOutput()
{
    std::fflush(stdout);
    const int fd = _dup(1);
    if (fd < 0)
        return {};
    const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    // A plug-in host started later must not hold the reader's end of a pipe open.
    SetHandleInformation(handle, HANDLE_FLAG_INHERIT, 0);
    _setmode(fd, _O_BINARY);
    TakenOutput taken;
    // A file opened for appending (">>") starts past its beginning, and so is not taken as one.
    taken.Seekable = GetFileType(handle) == FILE_TYPE_DISK && _lseeki64(fd, 0, SEEK_CUR) == 0;
    _dup2(2, 1);
    SetStdHandle(STD_OUTPUT_HANDLE, GetStdHandle(STD_ERROR_HANDLE));
    taken.File = _fdopen(fd, "wb");
    if (taken.File == nullptr)
        _close(fd);
    return taken;
}

void KeepBrokenPipesFromEndingThisThread()
{
    // A write to a closed pipe fails with an error there; no signal ends the process.
}

bool CutFileTo(std::FILE* file, uint64_t size)
{
    std::fflush(file);
    struct _stati64 info;
    const int fd = _fileno(file);
    if (_fstati64(fd, &info) != 0 || (info.st_mode & _S_IFREG) == 0 ||
        static_cast<uint64_t>(info.st_size) <= size)
        return true;
    return _chsize_s(fd, static_cast<long long>(size)) == 0;
}

int StandardErrorColumns()
{
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info))
        return 0;
    return info.srWindow.Right - info.srWindow.Left + 1;
}

void WatchTerminalSize() {}

bool TerminalSizeChanged()
{
    return true;
}

#else

namespace {

volatile std::sig_atomic_t gResized = 0;

void OnResize(int)
{
    gResized = 1;
}

} // namespace

TakenOutput TakeStandardOutput()
{
    std::fflush(stdout);
    const int fd = ::fcntl(1, F_DUPFD_CLOEXEC, 3);
    if (fd < 0)
        return {};
    TakenOutput taken;
    struct stat info;
    const int flags = ::fcntl(fd, F_GETFL);
    taken.Seekable = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && flags != -1 &&
                     (flags & O_APPEND) == 0 && ::lseek(fd, 0, SEEK_CUR) == 0;
    ::dup2(2, 1);
    taken.File = ::fdopen(fd, "wb");
    if (taken.File == nullptr)
        ::close(fd);
    return taken;
}

void KeepBrokenPipesFromEndingThisThread()
{
    // A SIGPIPE raised by this thread's write then stays pending on this thread, which ends
    // with it unhandled; the write itself fails with EPIPE.
    sigset_t pipeSignal;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr);
}

bool CutFileTo(std::FILE* file, uint64_t size)
{
    std::fflush(file);
    struct stat info;
    const int fd = ::fileno(file);
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) ||
        static_cast<uint64_t>(info.st_size) <= size)
        return true;
    return ::ftruncate(fd, static_cast<off_t>(size)) == 0;
}

int StandardErrorColumns()
{
    struct winsize size {};
    if (::ioctl(2, TIOCGWINSZ, &size) != 0)
        return 0;
    return size.ws_col;
}

void WatchTerminalSize()
{
    struct sigaction action {};
    action.sa_handler = OnResize;
    sigemptyset(&action.sa_mask);
    // Calls that a resize interrupts go on: the signal only asks for a new measurement.
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGWINCH, &action, nullptr);
}

bool TerminalSizeChanged()
{
    // Cleared before the caller measures: a change after this read sets it again.
    const bool changed = gResized != 0;
    gResized = 0;
    return changed;
}

#endif

} // namespace platform
