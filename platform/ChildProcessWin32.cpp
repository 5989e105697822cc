// The Win32 side of ChildProcess: named pipes opened for overlapped I/O on this side, so that
// every wait can have a deadline and can watch the child's process handle at the same time.
#include "platform/ChildProcess.h"

#ifdef _WIN32

#include "platform/WindowsText.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cwctype>
#include <map>

namespace platform {

namespace {

constexpr size_t kErrorTailSize = 4096;
constexpr DWORD kPipeBufferSize = 1 << 20;
// Standard error is looked at this often while a read or a write waits.
constexpr DWORD kErrorPollMs = 100;

// Program names, arguments and the environment are UTF-8 inside the program.
std::wstring Widen(const std::string& text)
{
    return Utf8ToWide(text);
}

// One argument quoted so that the child's command-line parser gives it back unchanged.
std::wstring QuoteArgument(const std::wstring& argument)
{
    if (!argument.empty() && argument.find_first_of(L" \t\"") == std::wstring::npos)
        return argument;
    std::wstring quoted = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, L'\\');
    quoted += L'"';
    return quoted;
}

std::wstring EnvironmentBlock(const std::vector<std::pair<std::string, std::string>>& overrides)
{
    // Variable names ignore letter case on Windows.
    const auto upper = [](std::wstring s) {
        for (wchar_t& c : s)
            c = static_cast<wchar_t>(std::towupper(c));
        return s;
    };
    std::map<std::wstring, std::wstring> variables;
    wchar_t* strings = GetEnvironmentStringsW();
    for (const wchar_t* entry = strings; entry != nullptr && *entry != L'\0';
         entry += wcslen(entry) + 1) {
        const std::wstring text(entry);
        const size_t eq = text.find(L'=', 1); // "=C:=C:\..." entries start with "="
        variables[upper(text.substr(0, eq))] = text;
    }
    if (strings != nullptr)
        FreeEnvironmentStringsW(strings);
    for (const auto& [name, value] : overrides)
        variables[upper(Widen(name))] = Widen(name) + L"=" + Widen(value);
    std::wstring block;
    for (const auto& [key, text] : variables) {
        block += text;
        block += L'\0';
    }
    block += L'\0';
    return block;
}

void CloseOne(HANDLE& handle)
{
    if (handle != nullptr && handle != INVALID_HANDLE_VALUE)
        CloseHandle(handle);
    handle = nullptr;
}

// A pipe whose end on this side is overlapped and whose other end the child inherits.
bool MakePipe(bool childReads, HANDLE& ours, HANDLE& theirs, std::string& error)
{
    static std::atomic<unsigned> counter{0};
    const std::wstring name = L"\\\\.\\pipe\\pellan-child-" +
                              std::to_wstring(GetCurrentProcessId()) + L"-" +
                              std::to_wstring(counter.fetch_add(1));
    ours = CreateNamedPipeW(name.c_str(),
                            (childReads ? PIPE_ACCESS_OUTBOUND : PIPE_ACCESS_INBOUND) |
                                FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
                            PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT |
                                PIPE_REJECT_REMOTE_CLIENTS,
                            1, kPipeBufferSize, kPipeBufferSize, 0, nullptr);
    if (ours == INVALID_HANDLE_VALUE) {
        ours = nullptr;
        error = "cannot make a pipe: " + SystemErrorText(GetLastError());
        return false;
    }
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    theirs = CreateFileW(name.c_str(), childReads ? GENERIC_READ : GENERIC_WRITE, 0, &inherit,
                         OPEN_EXISTING, 0, nullptr);
    if (theirs == INVALID_HANDLE_VALUE) {
        theirs = nullptr;
        CloseOne(ours);
        error = "cannot open a pipe: " + SystemErrorText(GetLastError());
        return false;
    }
    return true;
}

// The job every child of this process runs in. Its one handle is this process's and is never
// closed: the system closes it when the process ends, however it ends (an emergency exit, a
// crash, a kill), and the job then kills whatever still runs in it. nullptr where no job can be
// made; the children then run without one.
HANDLE ChildJob()
{
    static const HANDLE job = [] {
        HANDLE made = CreateJobObjectW(nullptr, nullptr);
        if (made == nullptr)
            return made;
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        if (!SetInformationJobObject(made, JobObjectExtendedLimitInformation, &limits,
                                     sizeof limits)) {
            CloseHandle(made);
            return HANDLE(nullptr);
        }
        return made;
    }();
    return job;
}

DWORD RemainingMs(ChildProcess::Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - ChildProcess::Clock::now());
    return left.count() <= 0 ? 0 : static_cast<DWORD>(std::min<int64_t>(left.count() + 1, 3600000));
}

} // namespace

struct ChildProcess::State {
    HANDLE Process = nullptr;
    DWORD Id = 0;
    HANDLE Input = nullptr;
    HANDLE Output = nullptr;
    HANDLE Error = nullptr;
    HANDLE Event = nullptr;      // the transfer in progress on the input or the output
    HANDLE ErrorEvent = nullptr; // the read of standard error
    std::string ErrorTail;

    // Reads what standard error holds now. Once the child has closed it the pipe is closed here
    // too, and no wait looks at it again.
    void DrainError()
    {
        while (Error != nullptr) {
            DWORD available = 0;
            if (!PeekNamedPipe(Error, nullptr, 0, nullptr, &available, nullptr)) {
                if (GetLastError() == ERROR_BROKEN_PIPE)
                    CloseOne(Error);
                return;
            }
            if (available == 0)
                return;
            char buffer[4096];
            OVERLAPPED ov{};
            ov.hEvent = ErrorEvent;
            ResetEvent(ErrorEvent);
            DWORD got = 0;
            const DWORD want = std::min<DWORD>(available, sizeof buffer);
            if (!ReadFile(Error, buffer, want, nullptr, &ov) && GetLastError() != ERROR_IO_PENDING)
                return;
            if (!GetOverlappedResult(Error, &ov, &got, TRUE) || got == 0)
                return;
            ErrorTail.append(buffer, got);
            if (ErrorTail.size() > kErrorTailSize)
                ErrorTail.erase(0, ErrorTail.size() - kErrorTailSize);
        }
    }

    bool Ended() const { return WaitForSingleObject(Process, 0) == WAIT_OBJECT_0; }

    // One overlapped transfer of up to size bytes; the count moved, or -1 when the pipe or the
    // child is gone, or -2 at the deadline.
    int64_t Transfer(HANDLE pipe, bool write, char* bytes, DWORD size, Clock::time_point deadline)
    {
        OVERLAPPED ov{};
        ov.hEvent = Event;
        ResetEvent(Event);
        const BOOL started = write ? WriteFile(pipe, bytes, size, nullptr, &ov)
                                   : ReadFile(pipe, bytes, size, nullptr, &ov);
        if (!started && GetLastError() != ERROR_IO_PENDING)
            return -1;
        const HANDLE waits[2] = {Event, Process};
        bool ended = false;
        for (;;) {
            // Standard error is looked at while it is open; after that, only the transfer
            // and the child's end wake the wait.
            const DWORD slice = Error != nullptr ? std::min(RemainingMs(deadline), kErrorPollMs)
                                                 : RemainingMs(deadline);
            const DWORD woke = WaitForMultipleObjects(ended ? 1 : 2, waits, FALSE, slice);
            if (woke == WAIT_OBJECT_0)
                break;
            DrainError();
            if (woke == WAIT_OBJECT_0 + 1) {
                // What the child wrote before it ended still arrives; a read that finds
                // nothing more is the end.
                DWORD available = 0;
                if (write || !PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr) ||
                    available == 0) {
                    CancelIoEx(pipe, &ov);
                    DWORD moved = 0;
                    GetOverlappedResult(pipe, &ov, &moved, TRUE);
                    return moved > 0 ? int64_t(moved) : -1;
                }
                ended = true;
                continue;
            }
            if (Clock::now() >= deadline) {
                CancelIoEx(pipe, &ov);
                DWORD moved = 0;
                GetOverlappedResult(pipe, &ov, &moved, TRUE);
                return moved > 0 ? int64_t(moved) : -2;
            }
        }
        DWORD moved = 0;
        if (!GetOverlappedResult(pipe, &ov, &moved, FALSE) || moved == 0)
            return -1;
        return moved;
    }
};

std::unique_ptr<ChildProcess> ChildProcess::Start(const Options& options, std::string& error)
{
    if (options.Arguments.empty()) {
        error = "no program given";
        return nullptr;
    }
    std::unique_ptr<ChildProcess> child(new ChildProcess);
    State& s = *(child->FState = std::make_unique<State>());
    HANDLE theirs[3] = {nullptr, nullptr, nullptr};
    const auto closeTheirs = [&theirs] {
        for (HANDLE& h : theirs)
            CloseOne(h);
    };
    if (!MakePipe(true, s.Input, theirs[0], error) ||
        !MakePipe(false, s.Output, theirs[1], error) ||
        !MakePipe(false, s.Error, theirs[2], error)) {
        closeTheirs();
        return nullptr;
    }
    s.Event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    s.ErrorEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);

    // Only the three pipe ends are inherited, whatever else this process holds.
    SIZE_T attributeSize = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &attributeSize);
    std::vector<char> attributeBuffer(attributeSize);
    auto* attributes = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attributeBuffer.data());
    InitializeProcThreadAttributeList(attributes, 1, 0, &attributeSize);
    UpdateProcThreadAttribute(attributes, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, theirs,
                              sizeof theirs, nullptr, nullptr);
    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof startup;
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdInput = theirs[0];
    startup.StartupInfo.hStdOutput = theirs[1];
    startup.StartupInfo.hStdError = theirs[2];
    startup.lpAttributeList = attributes;

    std::wstring commandLine;
    for (const auto& argument : options.Arguments)
        commandLine += (commandLine.empty() ? L"" : L" ") + QuoteArgument(Widen(argument));
    std::wstring environment = EnvironmentBlock(options.Environment);
    const std::wstring program = Widen(options.Arguments[0]);
    PROCESS_INFORMATION info{};
    // Started suspended, so that it runs no code before it is in the job.
    const BOOL created =
        CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                       EXTENDED_STARTUPINFO_PRESENT | CREATE_UNICODE_ENVIRONMENT |
                           CREATE_NO_WINDOW | CREATE_NEW_PROCESS_GROUP | CREATE_SUSPENDED,
                       environment.data(), nullptr, &startup.StartupInfo, &info);
    const DWORD createError = GetLastError();
    DeleteProcThreadAttributeList(attributes);
    closeTheirs();
    if (!created) {
        error = options.Arguments[0] + ": " + SystemErrorText(createError);
        return nullptr;
    }
    // A system that refuses the job (a program already in a job that allows no other) still
    // gets its child; the child then ends with the program only when asked to.
    if (const HANDLE job = ChildJob())
        AssignProcessToJobObject(job, info.hProcess);
    ResumeThread(info.hThread);
    CloseHandle(info.hThread);
    s.Process = info.hProcess;
    s.Id = info.dwProcessId;
    return child;
}

ChildProcess::~ChildProcess()
{
    if (!FState)
        return;
    State& s = *FState;
    CloseOne(s.Input);
    if (s.Process != nullptr && !s.Ended()) {
        TerminateProcess(s.Process, 1);
        WaitForSingleObject(s.Process, INFINITE);
    }
    CloseOne(s.Output);
    CloseOne(s.Error);
    CloseOne(s.Event);
    CloseOne(s.ErrorEvent);
    CloseOne(s.Process);
}

ChildProcess::IoResult ChildProcess::Write(const void* data, size_t size,
                                           Clock::time_point deadline)
{
    State& s = *FState;
    char* bytes = const_cast<char*>(static_cast<const char*>(data));
    while (size > 0) {
        if (s.Input == nullptr)
            return IoResult::Ended;
        const DWORD step = static_cast<DWORD>(std::min<size_t>(size, 1u << 30));
        const int64_t moved = s.Transfer(s.Input, true, bytes, step, deadline);
        if (moved < 0)
            return moved == -2 ? IoResult::TimedOut : IoResult::Ended;
        bytes += moved;
        size -= static_cast<size_t>(moved);
    }
    return IoResult::Done;
}

ChildProcess::IoResult ChildProcess::Read(void* data, size_t size, Clock::time_point deadline)
{
    State& s = *FState;
    char* bytes = static_cast<char*>(data);
    while (size > 0) {
        const DWORD step = static_cast<DWORD>(std::min<size_t>(size, 1u << 30));
        const int64_t moved = s.Transfer(s.Output, false, bytes, step, deadline);
        if (moved < 0)
            return moved == -2 ? IoResult::TimedOut : IoResult::Ended;
        bytes += moved;
        size -= static_cast<size_t>(moved);
    }
    return IoResult::Done;
}

void ChildProcess::CloseInput()
{
    CloseOne(FState->Input);
}

void ChildProcess::Kill()
{
    if (FState->Process != nullptr)
        TerminateProcess(FState->Process, 1);
}

bool ChildProcess::WaitForExit(Clock::time_point deadline)
{
    return WaitForSingleObject(FState->Process, RemainingMs(deadline)) == WAIT_OBJECT_0;
}

std::string ChildProcess::ExitDescription() const
{
    DWORD code = 0;
    if (!GetExitCodeProcess(FState->Process, &code) || code == STILL_ACTIVE)
        return "";
    if (code >= 0xC0000000u) {
        char text[32];
        std::snprintf(text, sizeof text, "exception 0x%08lX", static_cast<unsigned long>(code));
        return text;
    }
    return "exit code " + std::to_string(code);
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
    return FState->Id;
}

std::string FindProgramOnPath(const std::string& name, const std::string& pathVariable)
{
    size_t start = 0;
    while (start <= pathVariable.size()) {
        size_t end = pathVariable.find(';', start);
        if (end == std::string::npos)
            end = pathVariable.size();
        const std::string folder = pathVariable.substr(start, end - start);
        start = end + 1;
        if (folder.empty())
            continue;
        const char last = folder.back();
        const std::string candidate = folder + (last == '\\' || last == '/' ? "" : "\\") + name;
        const DWORD attributes = GetFileAttributesW(Utf8ToWide(candidate).c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
            return candidate;
    }
    return std::string();
}

} // namespace platform

#endif
