// pellan-kpi-host: loads one KPI plug-in and serves its calls to the program over its standard
// input and output (the protocol is in kpi/KpiHostProtocol.h). Built for Linux, and for 32 and
// 64-bit Windows, where it runs Windows plug-ins under Wine.
//
// The protocol's stream is taken away from the standard handles before any plug-in is loaded:
// what a plug-in prints goes to standard error, and it reads nothing from standard input.
#include "host/KpiHostServer.h"
#include "kpi/KpiHostProtocol.h"
#include "platform/SharedMemory.h"

#include <cstdio>
#include <cstring>
#include <string>

#ifdef _WIN32
#include "platform/FileSystem.h"
#include "platform/WindowsText.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace {

#ifdef _WIN32

class HandleChannel : public IHostChannel {
public:
    HandleChannel(HANDLE in, HANDLE out) : FIn(in), FOut(out) {}
    bool Read(void* data, size_t size) override
    {
        auto* bytes = static_cast<char*>(data);
        while (size > 0) {
            DWORD got = 0;
            const DWORD want = static_cast<DWORD>(size < (1u << 30) ? size : (1u << 30));
            if (!ReadFile(FIn, bytes, want, &got, nullptr) || got == 0)
                return false;
            bytes += got;
            size -= got;
        }
        return true;
    }
    bool Write(const void* data, size_t size) override
    {
        const auto* bytes = static_cast<const char*>(data);
        while (size > 0) {
            DWORD put = 0;
            const DWORD want = static_cast<DWORD>(size < (1u << 30) ? size : (1u << 30));
            if (!WriteFile(FOut, bytes, want, &put, nullptr) || put == 0)
                return false;
            bytes += put;
            size -= put;
        }
        return true;
    }

private:
    HANDLE FIn;
    HANDLE FOut;
};

// A plug-in that crashes ends the host at once, with a line for the program, instead of
// calling up a debugger or an error box that nobody answers.
LONG WINAPI EndOnCrash(EXCEPTION_POINTERS* info)
{
    const DWORD code = info->ExceptionRecord->ExceptionCode;
    std::fprintf(stderr, "pellan-kpi-host: exception 0x%08lX at %p\n", code,
                 info->ExceptionRecord->ExceptionAddress);
    std::fflush(stderr);
    TerminateProcess(GetCurrentProcess(), code);
    return EXCEPTION_EXECUTE_HANDLER;
}

std::string MapName(const std::string& path, kpihost::PathStyle style,
                    const std::string& currentFolder)
{
    if (style == kpihost::PathStyle::Unix) {
        const std::string unixPath =
            !path.empty() && path[0] == '/'
                ? path
                : (currentFolder.empty() || currentFolder.back() == '/' ? currentFolder
                                                                        : currentFolder + "/") +
                      path;
        // UTF-8 like every name inside; the plug-in module turns it into the plug-in's ANSI
        // name when it calls the plug-in.
        return platform::WideToUtf8(platform::DosPathOfUnixPath(unixPath));
    }
    if (!currentFolder.empty())
        platform::SetCurrentFolder(currentFolder);
    return path;
}

std::unique_ptr<platform::SharedMemory>
OpenShared(const std::string& name, kpihost::PathStyle style, size_t size, std::string& error)
{
    // The program on Linux made a file, which Wine shows under its DOS name.
    const std::string local = style == kpihost::PathStyle::Unix
                                  ? platform::AnsiFileName(platform::DosPathOfUnixPath(name))
                                  : name;
    return platform::SharedMemory::Open(local, size, error);
}

#else

class FdChannel : public IHostChannel {
public:
    FdChannel(int in, int out) : FIn(in), FOut(out) {}
    bool Read(void* data, size_t size) override
    {
        auto* bytes = static_cast<char*>(data);
        while (size > 0) {
            const ssize_t n = ::read(FIn, bytes, size);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return false;
            bytes += n;
            size -= static_cast<size_t>(n);
        }
        return true;
    }
    bool Write(const void* data, size_t size) override
    {
        const auto* bytes = static_cast<const char*>(data);
        while (size > 0) {
            const ssize_t n = ::write(FOut, bytes, size);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return false;
            bytes += n;
            size -= static_cast<size_t>(n);
        }
        return true;
    }

private:
    int FIn;
    int FOut;
};

std::string MapName(const std::string& path, kpihost::PathStyle, const std::string& currentFolder)
{
    // The plug-in gets the name the program had, relative or not, from the same folder.
    if (!currentFolder.empty() && ::chdir(currentFolder.c_str()) != 0) {
        // A folder that went away leaves relative names to fail like missing files.
    }
    return path;
}

std::unique_ptr<platform::SharedMemory> OpenShared(const std::string& name, kpihost::PathStyle,
                                                   size_t size, std::string& error)
{
    return platform::SharedMemory::Open(name, size, error);
}

#endif

} // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("pellan-kpi-host, protocol %u, %u-bit\n", kpihost::kVersion,
                    static_cast<unsigned>(sizeof(void*) * 8));
        return 0;
    }
#ifdef _WIN32
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    SetUnhandledExceptionFilter(EndOnCrash);
    // Copies of the protocol's handles, kept from the plug-ins and from the C runtime, which
    // closes the originals when its descriptors are redirected below.
    const HANDLE self = GetCurrentProcess();
    HANDLE in = nullptr;
    HANDLE out = nullptr;
    if (!DuplicateHandle(self, GetStdHandle(STD_INPUT_HANDLE), self, &in, 0, FALSE,
                         DUPLICATE_SAME_ACCESS) ||
        !DuplicateHandle(self, GetStdHandle(STD_OUTPUT_HANDLE), self, &out, 0, FALSE,
                         DUPLICATE_SAME_ACCESS))
        return 2;
    const HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
    const HANDLE nothing = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                       nullptr, OPEN_EXISTING, 0, nullptr);
    SetStdHandle(STD_INPUT_HANDLE, nothing);
    SetStdHandle(STD_OUTPUT_HANDLE, error);
    // The C runtime's own descriptors follow the handles.
    _dup2(_fileno(stderr), _fileno(stdout));
    const int nul = _open("NUL", _O_RDONLY);
    if (nul >= 0)
        _dup2(nul, _fileno(stdin));
    HandleChannel channel(in, out);
#else
    // SIGPIPE keeps its default, as it has in the program: a plug-in sees the same process
    // either way. A host whose program went away may end by it.
    const int in = ::fcntl(0, F_DUPFD_CLOEXEC, 3);
    const int out = ::fcntl(1, F_DUPFD_CLOEXEC, 3);
    if (in < 0 || out < 0)
        return 2;
    const int nothing = ::open("/dev/null", O_RDONLY);
    if (nothing >= 0) {
        ::dup2(nothing, 0);
        ::close(nothing);
    }
    ::dup2(2, 1);
    FdChannel channel(in, out);
#endif
    TKpiHostServer server(channel, MapName, OpenShared);
    return server.Run();
}
