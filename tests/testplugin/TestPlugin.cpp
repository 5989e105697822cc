// A scriptable KPI plug-in for the tests.
//
// Module behaviour comes from "<plug-in path>.conf" beside the library, read each time the
// host asks for the module (key=value lines):
//   version=N  interface=N  reentrant=0|1  module=nil  init=0  deinit=0
//   extensions=.tst,.MP3,.  (comma-separated entries as the plug-in lists them; "nil": none)
//   nil_entry=Open|Close|Render|SetPosition  crash=init (the plug-in crashes in Init)
// Song behaviour comes from the opened file itself (key=value lines):
//   rate=N channels=N bits=N   (absent: the requested value, or 44100 / 2 / 16)
//   length=N|none  songs=N (multi-song, LengthMs = N * 1000)  endless=0|1  unit=N
//   frames=N|inf   (frames rendered before the short render; default one second)
//   pattern=ramp|const|silence  value=N  delay_ms=N (sleep per Render)  overrender=0|1
//   open=ok|refuse|zero|fail_keep
//   crash=open|render  hang=open|render  (the plug-in crashes, or never returns, in that call)
//   spin=open|render   (never returns from that call, keeping a processor busy)
//   chdir=PATH  (Open makes PATH the process's current folder, as some plug-ins do)
//   garbage=open|render  (writes into its host's reply stream: junk at Open; at Render a reply
//                         that claims more bytes than were asked for)
//   chatter=1  (prints to standard output and standard error at every call)
//   open_error=TEXT  (the reason pellan_GetOpenError gives when this open fails)
//   title= artist= album= track= date= comment= copyright=  (what pellan_GetSongInfo gives;
//                         title.N= and the like for song N of a multi-song file)
//   info_claim=N  (pellan_GetSongInfo answers N as every text's length, whatever it copied)
// Windows builds only, as plug-ins written for the host player behave (each failure makes Open
// fail, with the reason as open_error):
//   com=open      (Open creates a COM object, which Close releases: COM must be initialised on
//                  the thread that opens)
//   window=timer  (Open makes a window with a timer on its thread, which Close destroys; Render
//                  returns nothing until that thread has dispatched the timer's first message)
//   hold_mb=N     (Open takes N MB of memory in blocks of 64 MB and keeps them until Close)
//   message_box=open  (Open shows a message box and goes on once it is answered or gone)
// A file that cannot be read is refused (Open returns 0 and leaves the format untouched).
// Built with TESTKPI_NO_EXTENSION it exports neither pellan_GetSongInfo nor pellan_GetOpenError.
//
// The plug-in is also built as a 32-bit (__stdcall) and a 64-bit Windows DLL and renders the
// same bytes there. A test cannot read a DLL's counts through its exports, so with publish=1 in
// the module configuration every call rewrites "<plug-in path>.counts.<process id>" with them,
// and with the id of the Linux process it runs in (under Wine, the Windows id is another).
#include "kpi/KpiExtension.h"
#include "kpi/KpiInterface.h"
#include "tests/testplugin/TestPluginApi.h"
#include "tests/testplugin/TestSongPcm.h"

#ifdef _WIN32
#include <direct.h>
#include <objbase.h>
#include <shlobj.h>
#include <windows.h>
#else
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using Settings = std::map<std::string, std::string>;

Settings ReadSettings(const std::string& path, bool& ok)
{
    Settings settings;
    std::ifstream in(path);
    ok = static_cast<bool>(in);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const size_t eq = line.find('=');
        if (eq != std::string::npos)
            settings[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return settings;
}

uint32_t Number(const Settings& s, const char* key, uint32_t fallback)
{
    const auto it = s.find(key);
    if (it == s.end() || it->second.empty())
        return fallback;
    return static_cast<uint32_t>(std::strtoul(it->second.c_str(), nullptr, 10));
}

std::string Text(const Settings& s, const char* key, const std::string& fallback = "")
{
    const auto it = s.find(key);
    return it == s.end() ? fallback : it->second;
}

struct Song {
    SoundFormat format{};
    uint64_t totalBytes = 0; // UINT64_MAX: endless stream
    uint64_t position = 0;   // bytes rendered since the last SetPosition
    uint32_t song = 0;
    testkpi::Pattern pattern = testkpi::Pattern::Ramp;
    bool silence = false; // zero bytes at memory speed, for benchmarks
    int64_t constValue = 0;
    uint32_t delayMs = 0;
    bool overRender = false;
    uint64_t frames = 0;
    bool endlessStream = false;
    std::string crash, hang, spin, garbage;
    bool chatter = false;
    Settings info; // the song information keys, as the file has them
#ifdef _WIN32
    IUnknown* comObject = nullptr;
    HWND window = nullptr;
    std::atomic<bool> timerDispatched{false};
    std::vector<void*> held;
#endif
};

// The reason of the last failed Open, per thread as the optional entry asks; a plain array, so
// that no destructor of a thread keeps the library loaded.
thread_local char tOpenError[1024];

void SetOpenError(const Settings& s)
{
    const std::string text = Text(s, "open_error");
    const size_t n = std::min(text.size(), sizeof tOpenError - 1);
    std::memcpy(tOpenError, text.data(), n);
    tOpenError[n] = '\0';
}

// A text into the caller's buffer as the optional entries do it: the whole length back, at most
// size bytes written, NUL included.
[[maybe_unused]] uint32_t CopyOut(const std::string& text, char* buffer, uint32_t size)
{
    if (size > 0) {
        const size_t n = std::min<size_t>(text.size(), size - 1);
        std::memcpy(buffer, text.data(), n);
        buffer[n] = '\0';
    }
    return static_cast<uint32_t>(text.size());
}

std::mutex gMutex;
std::map<KPI_HANDLE, std::unique_ptr<Song>> gSongs;
KPI_HANDLE gNextHandle = 1;
TestKpiCounts gCounts{};
std::vector<TestKpiSetPositionCall> gSetPositionCalls;
SoundFormat gLastRequest{};
std::string gLastOpenName;

KpiModule gModule{};
std::vector<std::string> gExtensionTexts;
std::vector<const char*> gExtensionList;
bool gPublish = false;
bool gCrashInInit = false;

std::string OwnPath();

unsigned long ProcessId()
{
#ifdef _WIN32
    return GetCurrentProcessId();
#else
    return static_cast<unsigned long>(::getpid());
#endif
}

// The id of the Linux process this one is: under Wine, asked of Linux itself, whose system call
// a program under Wine can make as any Linux program does (Windows has no such call; the answer
// is 0 there). Every file a process under Wine opens is opened by Wine's server, so /proc/self
// would name the server.
unsigned long LinuxProcessId()
{
#ifdef _WIN32
    if (GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") == nullptr)
        return 0;
    long pid = 0;
#if defined(__x86_64__)
    asm volatile("syscall" : "=a"(pid) : "a"(39L) : "rcx", "r11", "memory");
#elif defined(__i386__)
    asm volatile("int $0x80" : "=a"(pid) : "a"(20L) : "memory");
#endif
    return pid > 0 ? static_cast<unsigned long>(pid) : 0;
#else
    return ProcessId();
#endif
}

// The thread of the first Init: the main thread, as the host player calls it (gMutex held).
std::thread::id gMainThread;

// Counts a call that is not Render made on another thread than the main one (gMutex held).
void NoteMainThreadCall()
{
    if (gMainThread != std::thread::id() && gMainThread != std::this_thread::get_id())
        ++gCounts.CallsOffMainThread;
}

// Rewrites this process's counts file (gMutex held).
void Publish()
{
    if (!gPublish)
        return;
    std::ofstream out(OwnPath() + ".counts." + std::to_string(ProcessId()),
                      std::ios::binary | std::ios::trunc);
    out << "Init=" << gCounts.Init << "\nDeinit=" << gCounts.Deinit << "\nOpen=" << gCounts.Open
        << "\nClose=" << gCounts.Close << "\nRender=" << gCounts.Render
        << "\nSetPosition=" << gCounts.SetPosition << "\nOpenNow=" << gCounts.OpenNow
        << "\nMaxOpenNow=" << gCounts.MaxOpenNow
        << "\nCallsOffMainThread=" << gCounts.CallsOffMainThread
        << "\nRendersOnMainThread=" << gCounts.RendersOnMainThread
        << "\nRequestRate=" << gLastRequest.SampleRate
        << "\nRequestChannels=" << gLastRequest.Channels
        << "\nRequestBits=" << gLastRequest.BitsPerSample << "\nLastOpenName=" << gLastOpenName
        << "\nLinuxProcess=" << LinuxProcessId() << "\n";
}

[[noreturn]] void Crash()
{
    // A store to an address no process maps: a real access violation, as a faulty plug-in
    // makes one.
    volatile uintptr_t address = 16;
    *reinterpret_cast<volatile int*>(address) = 1;
    std::abort();
}

[[noreturn]] void Hang()
{
    for (;;)
        std::this_thread::sleep_for(std::chrono::hours(1));
}

[[noreturn]] void Spin()
{
    volatile uint64_t turns = 0;
    for (;;)
        turns = turns + 1;
}

// Writes bytes into every pipe this process may write to except standard error: in a host,
// that is the stream the program reads the replies from.
void Scribble(const std::string& bytes)
{
#ifdef _WIN32
    const HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
    for (uintptr_t value = 4; value < 4096; value += 4) {
        const HANDLE handle = reinterpret_cast<HANDLE>(value);
        if (handle == error || GetFileType(handle) != FILE_TYPE_PIPE)
            continue;
        DWORD written = 0;
        WriteFile(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    }
#else
    struct stat errorInfo {};
    ::fstat(2, &errorInfo);
    for (int fd = 3; fd < 1024; ++fd) {
        struct stat info {};
        if (::fstat(fd, &info) != 0 || !S_ISFIFO(info.st_mode) ||
            (info.st_dev == errorInfo.st_dev && info.st_ino == errorInfo.st_ino))
            continue;
        const int flags = ::fcntl(fd, F_GETFL);
        if (flags >= 0 && (flags & O_ACCMODE) == O_WRONLY) {
            [[maybe_unused]] const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        }
    }
#endif
}

// A RenderShared reply of the host protocol (the blocks lie in the song's shared memory, the
// reply holds their lengths) for one block of size + 4 bytes: longer than asked.
std::string OverlongRenderReply(uint32_t size)
{
    std::string frame;
    const auto put32 = [&frame](uint32_t v) {
        for (int i = 0; i < 4; ++i)
            frame += static_cast<char>(v >> (8 * i));
    };
    put32(8);
    put32(10u | 0x80000000u);
    put32(1);
    put32(size + 4);
    return frame;
}

void Chatter(const char* call)
{
    std::printf("test plug-in: %s\n", call);
    std::fflush(stdout);
    std::fprintf(stderr, "test plug-in: %s\n", call);
}

#ifdef _WIN32
constexpr UINT_PTR kTimer = 1;
constexpr wchar_t kWindowClass[] = L"PellanTestPluginWindow";

LRESULT CALLBACK SongWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_TIMER && wParam == kTimer) {
        auto* song = reinterpret_cast<Song*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        KillTimer(window, kTimer);
        if (song != nullptr)
            song->timerDispatched = true;
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

// This library's own module: its window class is registered for it, so that another copy of the
// plug-in, or this one loaded again elsewhere, has a class of its own that calls its own code.
HINSTANCE OwnModule()
{
    HMODULE self = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                           GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&SongWindowProc), &self);
    return self;
}

std::string HexText(long value)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(value));
    return text;
}

// The Windows-only behaviours of Open; the reason when one fails.
std::string OpenWindowsParts(const Settings& s, Song& song)
{
    if (Text(s, "message_box") == "open")
        MessageBoxA(nullptr, "The test plug-in asks nothing.", "Pellan test plug-in",
                    MB_OK | MB_ICONINFORMATION);
    if (Text(s, "com") == "open") {
        const HRESULT made =
            CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                             reinterpret_cast<void**>(&song.comObject));
        if (FAILED(made))
            return "CoCreateInstance failed with " + HexText(made);
    }
    if (Text(s, "window") == "timer") {
        WNDCLASSW kind{};
        kind.lpfnWndProc = SongWindowProc;
        kind.hInstance = OwnModule();
        kind.lpszClassName = kWindowClass;
        RegisterClassW(&kind); // fails harmlessly when a song open now registered it
        song.window = CreateWindowExW(0, kWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                      kind.hInstance, nullptr);
        if (song.window == nullptr)
            return "CreateWindowEx failed with " + std::to_string(GetLastError());
        SetWindowLongPtrW(song.window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&song));
        if (SetTimer(song.window, kTimer, 10, nullptr) == 0)
            return "SetTimer failed with " + std::to_string(GetLastError());
    }
    const uint32_t holdMb = Number(s, "hold_mb", 0);
    constexpr uint32_t kBlockMb = 64;
    for (uint32_t taken = 0; taken < holdMb; taken += kBlockMb) {
        const size_t size = size_t(std::min(kBlockMb, holdMb - taken)) << 20;
        void* block = VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
        if (block == nullptr)
            return "could hold only " + std::to_string(taken) + " of " + std::to_string(holdMb) +
                   " MB";
        song.held.push_back(block);
        // Touched at its ends, so that the memory is really there.
        static_cast<char*>(block)[0] = 1;
        static_cast<char*>(block)[size - 1] = 1;
    }
    return std::string();
}

// Close's side of them, on the thread that opened: the window belongs to that thread.
void CloseWindowsParts(Song& song)
{
    if (song.window != nullptr) {
        DestroyWindow(song.window);
        // Fails harmlessly while another song's window still uses the class.
        UnregisterClassW(kWindowClass, OwnModule());
    }
    if (song.comObject != nullptr)
        song.comObject->Release();
    for (void* block : song.held)
        VirtualFree(block, 0, MEM_RELEASE);
}

// Render waits this long at most for the timer of the song's window to be dispatched.
constexpr auto kTimerPatience = std::chrono::seconds(5);
#endif

void KPI_CALL Init()
{
    if (gCrashInInit)
        Crash();
    std::lock_guard lock(gMutex);
    if (gMainThread == std::thread::id())
        gMainThread = std::this_thread::get_id();
    NoteMainThreadCall();
    ++gCounts.Init;
    Publish();
}

void KPI_CALL Deinit()
{
    std::lock_guard lock(gMutex);
    NoteMainThreadCall();
    ++gCounts.Deinit;
    Publish();
}

KPI_HANDLE KPI_CALL Open(const char* fileName, SoundFormat* format)
{
    {
        std::lock_guard lock(gMutex);
        ++gCounts.Open;
        NoteMainThreadCall();
        gLastRequest = *format;
        gLastOpenName = fileName;
        Publish();
    }
    tOpenError[0] = '\0';
    bool readable = false;
    const Settings s = ReadSettings(fileName, readable);
    if (!readable)
        return 0;
    SetOpenError(s);
    if (Number(s, "chatter", 0) != 0)
        Chatter("Open");
    if (Text(s, "crash") == "open")
        Crash();
    if (Text(s, "hang") == "open")
        Hang();
    if (Text(s, "spin") == "open")
        Spin();
    if (!Text(s, "chdir").empty()) {
#ifdef _WIN32
        [[maybe_unused]] const int changed = _chdir(Text(s, "chdir").c_str());
#else
        [[maybe_unused]] const int changed = ::chdir(Text(s, "chdir").c_str());
#endif
    }
    if (Text(s, "garbage") == "open")
        Scribble("this is no reply");
    const std::string mode = Text(s, "open", "ok");
    if (mode == "refuse")
        return 0;

    auto song = std::make_unique<Song>();
    SoundFormat& f = song->format;
    f.SampleRate = Number(s, "rate", format->SampleRate ? format->SampleRate : 44100);
    f.Channels = Number(s, "channels", format->Channels ? format->Channels : 2);
    f.BitsPerSample = Number(s, "bits", format->BitsPerSample ? format->BitsPerSample : 16);
    const uint32_t songs = Number(s, "songs", 0);
    f.MultiSong = songs > 0 ? 1 : 0;
    const std::string length = Text(s, "length");
    if (length == "none")
        f.LengthMs = KPI_NO_LENGTH;
    else if (!length.empty())
        f.LengthMs = static_cast<uint32_t>(std::strtoul(length.c_str(), nullptr, 10));
    else
        f.LengthMs = songs > 0 ? songs * 1000 : KPI_NO_LENGTH;
    f.UnitRenderSize = Number(s, "unit", 0);
    f.Endless = Number(s, "endless", 0);
    f.Spare5 = 0;

    const std::string frames = Text(s, "frames");
    song->endlessStream = frames == "inf";
    song->frames = frames.empty() || frames == "inf" ? f.SampleRate
                                                     : std::strtoull(frames.c_str(), nullptr, 10);
    song->pattern =
        Text(s, "pattern") == "const" ? testkpi::Pattern::Const : testkpi::Pattern::Ramp;
    song->silence = Text(s, "pattern") == "silence";
    song->constValue = std::strtoll(Text(s, "value", "0").c_str(), nullptr, 10);
    song->delayMs = Number(s, "delay_ms", 0);
    song->overRender = Number(s, "overrender", 0) != 0;
    song->crash = Text(s, "crash");
    song->hang = Text(s, "hang");
    song->spin = Text(s, "spin");
    song->garbage = Text(s, "garbage");
    song->chatter = Number(s, "chatter", 0) != 0;
    for (const auto& [key, value] : s)
        if (key.rfind("title", 0) == 0 || key.rfind("artist", 0) == 0 ||
            key.rfind("album", 0) == 0 || key.rfind("track", 0) == 0 || key.rfind("date", 0) == 0 ||
            key.rfind("comment", 0) == 0 || key.rfind("copyright", 0) == 0 || key == "info_claim")
            song->info[key] = value;
    const uint64_t frameSize = uint64_t(f.BitsPerSample / 8) * f.Channels;
    song->totalBytes = song->endlessStream ? UINT64_MAX : song->frames * frameSize;
#ifdef _WIN32
    if (const std::string failure = OpenWindowsParts(s, *song); !failure.empty()) {
        CloseWindowsParts(*song);
        const size_t n = std::min(failure.size(), sizeof tOpenError - 1);
        std::memcpy(tOpenError, failure.data(), n);
        tOpenError[n] = '\0';
        return 0;
    }
#endif

    if (mode == "zero") {
        *format = SoundFormat{};
    } else if (mode == "fail_keep") {
        *format = f;
        return 0;
    } else {
        *format = f;
    }
    if (mode != "zero")
        tOpenError[0] = '\0';
    std::lock_guard lock(gMutex);
    const KPI_HANDLE handle = gNextHandle++;
    gSongs[handle] = std::move(song);
    ++gCounts.OpenNow;
    gCounts.MaxOpenNow = std::max(gCounts.MaxOpenNow, gCounts.OpenNow);
    Publish();
    return handle;
}

Song* Find(KPI_HANDLE handle)
{
    const auto it = gSongs.find(handle);
    return it == gSongs.end() ? nullptr : it->second.get();
}

void KPI_CALL Close(KPI_HANDLE handle)
{
    std::lock_guard lock(gMutex);
    ++gCounts.Close;
    NoteMainThreadCall();
#ifdef _WIN32
    if (Song* song = Find(handle))
        CloseWindowsParts(*song);
#endif
    if (gSongs.erase(handle) > 0)
        --gCounts.OpenNow;
    Publish();
}

uint32_t KPI_CALL Render(KPI_HANDLE handle, uint8_t* buffer, uint32_t size)
{
    Song* song;
    {
        std::lock_guard lock(gMutex);
        ++gCounts.Render;
        if (gMainThread == std::this_thread::get_id())
            ++gCounts.RendersOnMainThread;
        Publish();
        song = Find(handle);
    }
    if (song == nullptr)
        return 0;
    if (song->chatter)
        Chatter("Render");
    if (song->crash == "render")
        Crash();
    if (song->hang == "render")
        Hang();
    if (song->spin == "render")
        Spin();
    if (song->garbage == "render")
        Scribble(OverlongRenderReply(size));
    if (song->delayMs > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(song->delayMs));
#ifdef _WIN32
    if (song->window != nullptr) {
        const auto until = std::chrono::steady_clock::now() + kTimerPatience;
        while (!song->timerDispatched && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        // Nothing rendered: the song ends here, as such a plug-in's does.
        if (!song->timerDispatched)
            return 0;
    }
#endif
    const uint64_t left = song->totalBytes - song->position;
    const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(size, left));
    if (song->silence)
        std::memset(buffer, 0, n);
    else
        testkpi::Generate(buffer, song->position, n, song->format.Channels,
                          song->format.BitsPerSample, song->song, song->pattern, song->constValue);
    song->position += n;
    // A plug-in that claims more than it was given room for, on every full block.
    return song->overRender && n == size ? n + 100 : n;
}

uint32_t KPI_CALL SetPosition(KPI_HANDLE handle, uint32_t positionMs)
{
    std::lock_guard lock(gMutex);
    ++gCounts.SetPosition;
    NoteMainThreadCall();
    gSetPositionCalls.push_back({handle, positionMs});
    Publish();
    Song* song = Find(handle);
    if (song == nullptr)
        return 0;
    if (song->format.MultiSong != 0) {
        song->song = positionMs / 1000;
        song->position = 0;
    } else {
        const uint64_t frameSize = uint64_t(song->format.BitsPerSample / 8) * song->format.Channels;
        song->position = uint64_t(positionMs) * song->format.SampleRate / 1000 * frameSize;
        if (song->position > song->totalBytes)
            song->position = song->totalBytes;
    }
    return positionMs;
}

std::string OwnPath()
{
#ifdef _WIN32
    HMODULE self = nullptr;
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCSTR>(&Init), &self))
        return std::string();
    char path[MAX_PATH * 2];
    const DWORD n = GetModuleFileNameA(self, path, sizeof path);
    return std::string(path, n);
#else
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&Init), &info) == 0 || info.dli_fname == nullptr)
        return std::string();
    return info.dli_fname;
#endif
}

} // namespace

extern "C" {

#ifdef TESTKPI_NO_EXPORT
// A library with everything but the entry the host looks for.
KPI_EXPORT const KpiModule* KPI_CALL kmp_GetSomethingElse(void)
#else
KPI_EXPORT const KpiModule* KPI_CALL kmp_GetTestModule(void)
#endif
{
    bool readable = false;
    const Settings s = ReadSettings(OwnPath() + ".conf", readable);
    if (Text(s, "module") == "nil")
        return nullptr;
    {
        std::lock_guard lock(gMutex);
        gPublish = Number(s, "publish", 0) != 0;
        gCrashInInit = Text(s, "crash") == "init";
    }

    gModule = KpiModule{};
    gModule.InterfaceVersion = Number(s, "interface", KPI_INTERFACE_VERSION);
    gModule.PluginVersion = Number(s, "version", 1);
    gModule.InfoText1 = "Pellan test plug-in";
    gModule.InfoText2 = "scriptable";
    gModule.Reentrant = Number(s, "reentrant", 1);
    gModule.Init = Number(s, "init", 1) ? &Init : nullptr;
    gModule.Deinit = Number(s, "deinit", 1) ? &Deinit : nullptr;
    gModule.Open = &Open;
    gModule.Close = &Close;
    gModule.Render = &Render;
    gModule.SetPosition = &SetPosition;

    const std::string nilEntry = Text(s, "nil_entry");
    if (nilEntry == "Open")
        gModule.Open = nullptr;
    else if (nilEntry == "Close")
        gModule.Close = nullptr;
    else if (nilEntry == "Render")
        gModule.Render = nullptr;
    else if (nilEntry == "SetPosition")
        gModule.SetPosition = nullptr;

    const std::string extensions = Text(s, "extensions", ".tst");
    gExtensionTexts.clear();
    gExtensionList.clear();
    if (extensions != "nil") {
        std::stringstream list(extensions);
        std::string item;
        while (std::getline(list, item, ','))
            gExtensionTexts.push_back(item);
        for (const auto& text : gExtensionTexts)
            gExtensionList.push_back(text.c_str());
        gExtensionList.push_back(nullptr);
        gModule.SupportedExtensions = gExtensionList.data();
    }
    return &gModule;
}

#ifndef TESTKPI_NO_EXTENSION
KPI_EXPORT uint32_t KPI_CALL pellan_GetOpenError(char* buffer, uint32_t size)
{
    return CopyOut(tOpenError, buffer, size);
}

KPI_EXPORT uint32_t KPI_CALL pellan_GetSongInfo(KPI_HANDLE handle, uint32_t field, char* buffer,
                                                uint32_t size)
{
    static const char* const names[] = {"title", "artist",  "album",    "track",
                                        "date",  "comment", "copyright"};
    if (field < PELLAN_INFO_TITLE || field > PELLAN_INFO_COPYRIGHT)
        return 0;
    std::lock_guard lock(gMutex);
    const Song* song = Find(handle);
    if (song == nullptr)
        return 0;
    const std::string name = names[field - PELLAN_INFO_TITLE];
    // The song's own line (title.2=) before the file's (title=).
    std::string text = Text(song->info, (name + "." + std::to_string(song->song)).c_str(),
                            Text(song->info, name.c_str()));
    const uint32_t length = CopyOut(text, buffer, size);
    return song->info.count("info_claim") ? Number(song->info, "info_claim", 0) : length;
}
#endif

KPI_EXPORT void testkpi_GetCounts(TestKpiCounts* out)
{
    std::lock_guard lock(gMutex);
    *out = gCounts;
}

KPI_EXPORT uint32_t testkpi_GetSetPositionCalls(TestKpiSetPositionCall* out, uint32_t max)
{
    std::lock_guard lock(gMutex);
    const uint32_t n = static_cast<uint32_t>(std::min<size_t>(max, gSetPositionCalls.size()));
    std::copy_n(gSetPositionCalls.begin(), n, out);
    return static_cast<uint32_t>(gSetPositionCalls.size());
}

KPI_EXPORT void testkpi_GetLastRequest(SoundFormat* out)
{
    std::lock_guard lock(gMutex);
    *out = gLastRequest;
}

KPI_EXPORT void testkpi_GetLastOpenName(char* out, uint32_t size)
{
    std::lock_guard lock(gMutex);
    if (size == 0)
        return;
    const size_t n = std::min<size_t>(size - 1, gLastOpenName.size());
    std::memcpy(out, gLastOpenName.data(), n);
    out[n] = '\0';
}

KPI_EXPORT void testkpi_Reset(void)
{
    std::lock_guard lock(gMutex);
    gCounts = TestKpiCounts{};
    gSetPositionCalls.clear();
    gSongs.clear();
}

} // extern "C"
