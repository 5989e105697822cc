// pellan-decode: the window program's decoding for scripts, SSH sessions and batch jobs. It
// shares the whole core and the decode flows with the window, logs the same lines to standard
// error, and never asks anything.
#include "app/DecodeSettings.h"
#include "app/KbMD_Common.h"
#include "app/KbMPath.h"
#include "app/LogLines.h"
#include "app/MainThreadLoop.h"
#include "app/PlaylistDecoding.h"
#include "app/SongDecoding.h"
#include "app/Version.h"
#include "cli/CommandLine.h"
#include "kpi/KPI.h"
#include "kpi/kpiDriver.h"
#include "platform/FileSystem.h"
#include "platform/MainThreadQueue.h"
#include "platform/Paths.h"
#include "ui/QtSettingsStore.h"

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <stdexcept>
#include <thread>
#include <unistd.h>

namespace {

enum ExitStatus { kConverted = 0, kFailed = 1, kBadArguments = 2, kStopped = 130 };

// Log lines on standard error; on a terminal a progress line below them, rewritten in place.
class Console {
public:
    explicit Console(bool quiet) : FQuiet(quiet), FTerminal(::isatty(STDERR_FILENO) != 0) {}

    void Log(const std::string& line)
    {
        // Quiet keeps the lines that tell of a problem.
        if (FQuiet && line.find("エラー") == std::string::npos &&
            line.find("警告") == std::string::npos)
            return;
        ClearProgress();
        std::fprintf(stderr, "%s\n", line.c_str());
        std::fflush(stderr);
    }
    void Progress(uint32_t positionMs, uint32_t totalMs)
    {
        if (FQuiet || !FTerminal)
            return;
        std::fprintf(stderr, "\r  %s / %s", FormatPlayTime(positionMs).c_str(),
                     FormatPlayTime(totalMs).c_str());
        std::fflush(stderr);
        FProgressShown = true;
    }
    void ClearProgress()
    {
        if (FProgressShown) {
            std::fprintf(stderr, "\r\033[K");
            FProgressShown = false;
        }
    }

private:
    bool FQuiet;
    bool FTerminal;
    bool FProgressShown = false;
};

// Ctrl+C reaches the main thread through a pipe: the handler only writes a byte, and a watcher
// thread posts the stop to the main thread's loop.
int gInterruptPipe[2] = {-1, -1};
// Main thread: what a Ctrl+C does at the moment.
std::function<void()> gOnInterrupt;

void OnInterrupt(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(gInterruptPipe[1], &byte, 1);
    // A second Ctrl+C ends the program at once.
    std::signal(SIGINT, SIG_DFL);
}

// Reads the interrupt pipe until its writing end is closed.
void WatchInterrupts()
{
    char byte;
    while (::read(gInterruptPipe[0], &byte, 1) == 1)
        platform::MainThreadQueue::Post([] {
            if (gOnInterrupt)
                gOnInterrupt();
        });
}

std::string ResolveFolder(const CommandLine& command)
{
    if (command.PluginFolder)
        return platform::AbsolutePath(*command.PluginFolder);
    return ResolvePluginFolderWithoutAsking();
}

// Loads the plug-ins; the current folder is given back afterwards, so that relative paths on
// the command line keep their meaning.
std::unique_ptr<TZoKpiDriver> LoadPlugins(const std::string& folder, bool isolate, Console& console,
                                          std::vector<std::string>* failures)
{
    auto driver = std::make_unique<TZoKpiDriver>();
    if (isolate)
        driver->IsolateNativePlugins = true;
    driver->OnPluginLoaded = [&console, failures](TZoKpi& plugin) {
        if (failures == nullptr)
            console.Log(logtext::PluginLoadedLine(plugin));
        return true;
    };
    driver->OnPluginLoadFailed = [&console, failures](const std::string& name,
                                                      const std::string& reason) {
        for (const std::string& line :
             {logtext::PluginLoadFailedLine(name), logtext::PluginLoadFailedReasonLine(reason)}) {
            if (failures != nullptr)
                failures->push_back(line);
            else
                console.Log(line);
        }
    };
    // The cache is written for the host player's tools and read by nobody; a program folder
    // that is not writable is no reason to complain on every run.
    driver->OnCacheSaveFailed = [](const std::string&) {};
    const std::string startFolder = platform::CurrentFolder();
    driver->LoadFolder(folder);
    platform::SetCurrentFolder(startFolder);
    return driver;
}

int ListPlugins(TZoKpiDriver& driver, const std::vector<std::string>& failures)
{
    for (const auto& plugin : driver.Plugins()) {
        std::string extensions;
        for (const auto& ext : plugin->Extensions())
            extensions +=
                (extensions.empty() ? "" : " ") + (ext.empty() ? std::string("(none)") : ext);
        std::printf("%s\tver.%d\t%s\t%s\n", platform::ExtractFileName(plugin->FileName()).c_str(),
                    static_cast<int32_t>(plugin->PluginVersion()), plugin->FileName().c_str(),
                    extensions.c_str());
    }
    for (const auto& line : failures)
        std::fprintf(stderr, "%s\n", line.c_str());
    return driver.Plugins().empty() ? kFailed : kConverted;
}

int DecodeOne(TZoKpiDriver& driver, const CommandLine& command, const DecodeSettingRow& row,
              Console& console)
{
    SongDecodeRequest request;
    try {
        request.Setting = ReadDecodeSetting(row);
        request.Requested = ReadRequestedFormat(row);
    } catch (const std::exception& e) {
        console.Log(e.what());
        console.Log(logtext::kDecodeFailed);
        return kFailed;
    }
    request.Source = command.Input;
    request.Output = command.Output;
    request.SongNumber = command.SongNumber;

    TPlainMainThreadLoop loop;
    bool ended = false;
    TSingleDecodeJob::Hooks hooks;
    hooks.Log = [&console](const std::string& line) { console.Log(line); };
    hooks.Progress = [&console](uint32_t position, uint32_t total) {
        console.Progress(position, total);
    };
    hooks.Ended = [&] {
        ended = true;
        loop.Wake();
    };
    TSingleDecodeJob job(std::move(hooks));
    bool stopped = false;
    gOnInterrupt = [&] {
        stopped = true;
        job.Stop();
    };
    if (!job.Start(driver, request)) {
        gOnInterrupt = nullptr;
        return kFailed;
    }
    loop.RunUntil([&] { return ended; });
    job.StopAndWait(); // releases the thread: the file is completed, or deleted after a stop
    gOnInterrupt = nullptr;
    console.ClearProgress();
    if (stopped)
        return kStopped;
    return job.Succeeded() ? kConverted : kFailed;
}

int DecodePlaylist(TZoKpiDriver& driver, const CommandLine& command, const DecodeSettingRow& row,
                   Console& console)
{
    DecodeSetting setting;
    SoundFormat requested{};
    try {
        setting = ReadDecodeSetting(row);
        requested = ReadRequestedFormat(row);
    } catch (const std::exception& e) {
        console.Log(e.what());
        console.Log(logtext::kBatchCannotStart);
        return kFailed;
    }
    TPlaylistDecodeJob::Hooks hooks;
    hooks.Log = [&console](const std::string& line) { console.Log(line); };
    hooks.Progress = [&console](uint32_t position, uint32_t total) {
        console.Progress(position, total);
    };
    TPlainMainThreadLoop loop;
    TPlaylistDecodeJob job(loop, std::move(hooks));
    gOnInterrupt = [&] { job.Stop(); };
    job.Run(driver, command.Input, setting, requested);
    gOnInterrupt = nullptr;
    console.ClearProgress();
    if (job.WasStopped())
        return kStopped;
    return job.Failed() ? kFailed : kConverted;
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> arguments(argv + 1, argv + argc);
    CommandLine command;
    try {
        command = ParseCommandLine(arguments);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "pellan-decode: %s\n\n%s", e.what(), UsageText().c_str());
        return kBadArguments;
    }
    if (command.What == CommandLine::Action::Help) {
        std::printf("%s", UsageText().c_str());
        return kConverted;
    }
    if (command.What == CommandLine::Action::Version) {
        std::printf("pellan-decode %s\n", FileVersionText().c_str());
        return kConverted;
    }

    platform::MainThreadQueue::SetCurrentThreadAsMain();
    TQtSettingsStore store;
    TAppRegistry registry(store);
    AppRegistry = &registry;
    Console console(command.Quiet);

    DecodeSettingRow row;
    if (command.What != CommandLine::Action::ListPlugins) {
        try {
            const auto stored = LoadDecodeSettingRows(registry.Store());
            row = ChooseSetting(command, stored ? *stored : BuiltInDecodeSettings());
        } catch (const std::exception& e) {
            std::fprintf(stderr, "pellan-decode: %s\n", e.what());
            return kBadArguments;
        }
    }

    const std::string folder = ResolveFolder(command);
    if (command.PluginFolder && !platform::FolderExists(folder)) {
        std::fprintf(stderr, "pellan-decode: --plugins: no folder %s\n", folder.c_str());
        return kBadArguments;
    }
    if (folder.empty() || !platform::FolderExists(folder)) {
        console.Log(
            folder.empty()
                ? "エラー: プラグインフォルダが見つかりません (--plugins DIR で指定してください)"
                : "エラー: プラグインフォルダ " + folder + " がありません");
        return kFailed;
    }
    std::vector<std::string> failures;
    const bool listing = command.What == CommandLine::Action::ListPlugins;
    if (!listing) {
        console.Log(logtext::VersionLine());
        console.Log(logtext::LoadingFromLine(folder));
    }
    auto driver =
        LoadPlugins(folder, command.IsolatePlugins, console, listing ? &failures : nullptr);
    if (listing)
        return ListPlugins(*driver, failures);
    console.Log(logtext::PluginCountLine(driver->Plugins().size()));

    if (::pipe2(gInterruptPipe, O_CLOEXEC) != 0) {
        std::perror("pellan-decode");
        return kFailed;
    }
    std::thread watcher(WatchInterrupts);
    std::signal(SIGINT, OnInterrupt);
    std::signal(SIGTERM, OnInterrupt);
    const int status = command.What == CommandLine::Action::DecodePlaylist
                           ? DecodePlaylist(*driver, command, row, console)
                           : DecodeOne(*driver, command, row, console);
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    ::close(gInterruptPipe[1]); // ends the watcher
    watcher.join();
    driver.reset();
    AppRegistry = nullptr;
    return status;
}
