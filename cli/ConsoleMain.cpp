// pellan-decode: the window program's decoding for scripts, SSH sessions and batch jobs. It
// shares the whole core and the decode flows with the window, logs the same lines to standard
// error, and never asks anything.
#include "app/DecodeSettings.h"
#include "app/KbMD_Common.h"
#include "app/KbMPath.h"
#include "app/LogLines.h"
#include "app/MainThreadLoop.h"
#include "app/PlaylistDecoding.h"
#include "app/ProgramFiles.h"
#include "app/SongDecoding.h"
#include "app/Version.h"
#include "cli/BatchCommand.h"
#include "cli/CommandLine.h"
#include "cli/Console.h"
#include "kpi/KPI.h"
#include "kpi/kpiDriver.h"
#include "platform/FileSystem.h"
#include "platform/GuiThread.h"
#include "platform/MainThreadQueue.h"
#include "platform/Paths.h"
#include "platform/StandardStreams.h"
#include "platform/StopRequests.h"
#ifdef _WIN32
#include "app/RegistrySettingsStore.h"
#include "platform/WindowsText.h"

#include <windows.h>
#else
#include "qtcore/QtSettingsStore.h"
#endif

#include <cstdio>
#include <memory>
#include <optional>
#include <stdexcept>

namespace {

// A stop by a signal exits with platform::StopRequests::ExitStatus() (130 for Ctrl+C, 143 for
// SIGTERM).
enum ExitStatus { kConverted = 0, kFailed = 1, kBadArguments = 2 };

// Plug-ins run in this process and may move its current folder (some do, in Open): every name
// the command gives is fixed to the folder the program was started in before any of them runs,
// and nothing the program does afterwards depends on the current folder.
void FixNames(CommandLine& command)
{
    const auto fix = [](std::string& name) {
        if (!name.empty())
            name = platform::AbsolutePath(name, platform::LaunchFolder());
    };
    fix(command.Input);
    // "-" is no file but standard output.
    if (!IsStandardOutput(command.Output))
        fix(command.Output);
    for (std::string& input : command.Inputs)
        fix(input);
    for (std::optional<std::string>* folder : {&command.OutDir, &command.PluginFolder})
        if (*folder)
            fix(**folder);
}

std::string ResolveFolder(const CommandLine& command)
{
    if (command.PluginFolder)
        return *command.PluginFolder;
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
    if (!driver->IgnoredTimeLimit.empty()) {
        const LogLine line = logtext::TimeLimitIgnoredLine(driver->IgnoredTimeLimit);
        if (failures != nullptr)
            failures->push_back(line.Text);
        else
            console.Log(line);
    }
    driver->OnPluginLoaded = [&console, failures](TZoKpi& plugin) {
        if (failures == nullptr)
            console.Log(logtext::PluginLoadedLine(plugin));
        return true;
    };
    driver->OnPluginLoadFailed = [&console, failures](const std::string& name,
                                                      const std::string& reason) {
        for (const LogLine& line :
             {logtext::PluginLoadFailedLine(name), logtext::PluginLoadFailedReasonLine(reason)}) {
            if (failures != nullptr)
                failures->push_back(line.Text);
            else
                console.Log(line);
        }
    };
    // In the same place as the window's: beside the program, or for an installed copy in the
    // user's cache folder. Failing both is worth a warning.
    driver->CacheFolder = PluginCacheFolder();
    driver->OnCacheSaveFailed = [&console](const std::string& path) {
        console.Log(logtext::Line(txt::Id::CacheNotWritten, {path}));
    };
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
              const std::optional<platform::TakenOutput>& standardOutput, Console& console)
{
    SongDecodeRequest request;
    try {
        request.Setting = ReadDecodeSetting(row);
        request.Requested = ReadRequestedFormat(row);
    } catch (const std::exception& e) {
        console.Log(logtext::FailureLine(e));
        console.Log(logtext::Line(txt::Id::DecodeFailed));
        return kFailed;
    }
    request.Source = command.Input;
    request.Output = command.Output;
    request.StandardOutput = standardOutput;
    request.SongNumber = command.SongNumber;

    TPlainMainThreadLoop loop;
    bool ended = false;
    TSingleDecodeJob::Hooks hooks;
    hooks.Log = [&console](const LogLine& line) { console.Log(line); };
    hooks.Progress = [&console](uint32_t position, uint32_t total) {
        console.Progress(position, total);
    };
    hooks.Ended = [&] {
        ended = true;
        loop.Wake();
    };
    TSingleDecodeJob job(std::move(hooks));
    bool stopped = false;
    // A stop that comes after the run has finished stops nothing: the file stays complete.
    platform::StopRequests::Install([&] { stopped = job.Stop() || stopped; },
                                    [&driver] { driver.EndBusyHosts(); });
    if (!job.Start(driver, request)) {
        platform::StopRequests::Uninstall();
        return kFailed;
    }
    loop.RunUntil([&] { return ended; });
    job.StopAndWait(); // releases the thread: the file is completed, or deleted after a stop
    platform::StopRequests::Uninstall();
    console.ClearProgress();
    if (stopped)
        return platform::StopRequests::ExitStatus();
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
        console.Log(logtext::FailureLine(e));
        console.Log(logtext::Line(txt::Id::BatchCannotStart));
        return kFailed;
    }
    TPlaylistDecodeJob::Hooks hooks;
    hooks.Log = [&console](const LogLine& line) { console.Log(line); };
    hooks.Progress = [&console](uint32_t position, uint32_t total) {
        console.Progress(position, total);
    };
    TPlainMainThreadLoop loop;
    TPlaylistDecodeJob job(loop, std::move(hooks));
    platform::StopRequests::Install([&] { job.Stop(); }, [&driver] { driver.EndBusyHosts(); });
    job.Run(driver, command.Input, setting, requested);
    platform::StopRequests::Uninstall();
    console.ClearProgress();
    if (job.WasStopped()) {
        BatchCounts counts;
        counts.Converted = job.Decoded();
        counts.Failed = job.FailedEntries();
        counts.Skipped = job.SkippedEntries();
        counts.Interrupted = job.Interrupted();
        counts.NotReached = job.NotReached();
        console.Summary(counts, true);
        return platform::StopRequests::ExitStatus();
    }
    return job.Failed() ? kFailed : kConverted;
}

int Run(const std::vector<std::string>& arguments)
{
    CommandLine command;
    try {
        command = ParseCommandLine(arguments);
    } catch (const std::exception& e) {
        // One line that names what is wrong, as other command-line tools do; the usage is one
        // command away.
        std::fprintf(stderr, "pellan-decode: %s\n%s\n", e.what(), txt::Text(txt::Id::TryHelp));
        return kBadArguments;
    }
    if (command.What == CommandLine::Action::Help) {
        std::printf("%s", UsageText().c_str());
        return kConverted;
    }
    FixNames(command);
    if (command.What == CommandLine::Action::Version) {
        std::printf("pellan-decode %s\nCopyright (c) The PellanDecoder developers\n%s\n",
                    FileVersionText().c_str(), txt::Text(txt::Id::VersionLicence));
        return kConverted;
    }

    platform::MainThreadQueue::SetCurrentThreadAsMain();
    // Plug-ins in this process get their calls as a window program makes them: Open and the
    // rest on this thread, which has COM and keeps dispatching window messages while it waits
    // for the decoder threads. COM stays until the plug-ins have gone.
    const platform::GuiThreadCom com;
    platform::MainThreadQueue::DispatchWindowMessagesWhileWaiting();
    // Taken before any plug-in is loaded, so that nothing a plug-in prints can reach the WAV.
    std::optional<platform::TakenOutput> standardOutput;
    if (command.What == CommandLine::Action::Decode && IsStandardOutput(command.Output))
        standardOutput = platform::TakeStandardOutput();
#ifdef _WIN32
    TRegistrySettingsStore store;
#else
    TQtSettingsStore store;
#endif
    TAppRegistry registry(store);
    AppRegistry = &registry;
    Console console(command.Quiet);
    // A conversion leaves its run log as the window does at exit, after the plug-ins are gone
    // and their cache written; a listing does not, nor a dry run, which would replace the log
    // of the last real conversion with a record of nothing done.
    struct RunLogAtExit {
        Console& console;
        bool wanted;
        ~RunLogAtExit()
        {
            if (wanted)
                console.SaveRunLog();
        }
    } runLogAtExit{console, command.What != CommandLine::Action::ListPlugins && !command.DryRun};

    DecodeSettingRow row;
    // Stored numbers out of range, logged where the window logs them: after the plug-ins.
    std::vector<std::string> settingWarnings;
    if (command.What != CommandLine::Action::ListPlugins) {
        try {
            const auto stored = LoadDecodeSettingRows(registry.Store(), &settingWarnings);
            row = ChooseSetting(command, stored ? *stored : BuiltInDecodeSettings());
        } catch (const std::exception& e) {
            std::fprintf(stderr, "pellan-decode: %s\n", e.what());
            return kBadArguments;
        }
    }

    const std::string folder = ResolveFolder(command);
    if (command.PluginFolder && !platform::FolderExists(folder)) {
        std::fprintf(stderr, "pellan-decode: %s\n",
                     txt::Format(txt::Id::NoPluginsFolder, {folder}).c_str());
        return kBadArguments;
    }
    if (folder.empty() || !platform::FolderExists(folder)) {
        console.Log(folder.empty() ? logtext::Line(txt::Id::NoPluginFolder)
                                   : logtext::Line(txt::Id::PluginFolderMissing, {folder}));
        return kFailed;
    }
    std::vector<std::string> failures;
    const bool listing = command.What == CommandLine::Action::ListPlugins;
    if (!listing) {
        console.Log(logtext::VersionLine());
        if (const auto ignored = logtext::IgnoredLanguageLine())
            console.Log(*ignored);
        console.Log(logtext::LoadingFromLine(folder));
    }
    auto driver =
        LoadPlugins(folder, command.IsolatePlugins, console, listing ? &failures : nullptr);
    if (listing)
        return ListPlugins(*driver, failures);
    console.Log(logtext::PluginCountLine(driver->Plugins().size()));
    for (const std::string& line : settingWarnings)
        console.Log({txt::Severity::Warning, line});

    int status = kFailed;
    switch (command.What) {
    case CommandLine::Action::DecodeBatch:
        status = RunBatch(*driver, command, row, console);
        break;
    case CommandLine::Action::DecodePlaylist:
        // One job runs the entries exactly as the window's playlist tab does.
        status = JobCount(command) == 1 && !command.DryRun
                     ? DecodePlaylist(*driver, command, row, console)
                     : RunPlaylistBatch(*driver, command, row, console);
        break;
    default:
        status = DecodeOne(*driver, command, row, standardOutput, console);
    }
    driver.reset();
    AppRegistry = nullptr;
    return status;
}

} // namespace

#ifdef _WIN32
// The command line as UTF-16, so that a file name in any script arrives whole whatever the ANSI
// code page is; inside, texts are UTF-8, and so is what the console is sent.
int wmain(int argc, wchar_t** argv)
{
    SetConsoleOutputCP(CP_UTF8);
    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i)
        arguments.push_back(platform::WideToUtf8(argv[i]));
    return Run(arguments);
}
#else
int main(int argc, char** argv)
{
    return Run(std::vector<std::string>(argv + 1, argv + argc));
}
#endif
