#include "cli/BatchCommand.h"

#include "app/PlaylistDecoding.h"
#include "cli/Console.h"
#include "kpi/kpiDriver.h"
#include "platform/CodePages.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "platform/StopRequests.h"
#include "playlist/kpiPlayListReader.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <stdexcept>
#include <thread>

namespace fs = std::filesystem;

namespace {

enum ExitStatus { kConverted = 0, kFailed = 1, kBadArguments = 2 };

// The files of folder and its sub-folders that a plug-in claims, in name order. Linked folders
// are not entered, so that a link back up the tree cannot loop.
void Walk(const fs::path& folder, const fs::path& relative, const TZoKpiDriver& driver,
          std::vector<std::pair<fs::path, fs::path>>& found)
{
    std::vector<fs::directory_entry> entries;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error))
        if (platform::PathText(entry.path().filename()).rfind('.', 0) != 0)
            entries.push_back(entry);
    std::sort(entries.begin(), entries.end());
    for (const auto& entry : entries) {
        const fs::path name = entry.path().filename();
        if (entry.is_symlink(error) && entry.is_directory(error))
            continue;
        if (entry.is_directory(error))
            Walk(entry.path(), relative / name, driver, found);
        else if (entry.is_regular_file(error) && driver.PluginFor(platform::PathText(entry.path())))
            found.push_back({entry.path(), relative});
    }
}

std::string Normal(const fs::path& path)
{
    return platform::PathText(fs::absolute(path).lexically_normal());
}

} // namespace

unsigned JobCount(const CommandLine& command)
{
    if (command.Jobs != 0)
        return command.Jobs;
    if (command.What == CommandLine::Action::DecodePlaylist)
        return 1;
    return std::max(1u, std::thread::hardware_concurrency());
}

std::vector<BatchInput> CollectBatchInputs(const CommandLine& command, const TZoKpiDriver& driver)
{
    std::vector<BatchInput> inputs;
    // output without ".wav" -> the input it comes from; songs of a multi-song file add "[n]"
    // to that stem, so two inputs clash exactly when their stems do.
    std::map<std::string, std::string> stems;
    const auto add = [&](const fs::path& source, const fs::path& relative) {
        const fs::path folder = command.OutDir
                                    ? platform::FileSystemPath(*command.OutDir) / relative
                                    : source.parent_path();
        const fs::path output = folder / source.filename().replace_extension(".wav");
        const std::string stem = Normal(fs::path(output).replace_extension());
        const auto [it, added] = stems.emplace(stem, platform::PathText(source));
        if (!added)
            throw std::invalid_argument(it->second + " and " + platform::PathText(source) +
                                        " would both write " + platform::PathText(output));
        BatchInput input;
        input.Source = platform::PathText(source);
        input.Output = platform::PathText(output);
        input.Songs = command.Songs;
        inputs.push_back(std::move(input));
    };
    for (const std::string& name : command.Inputs) {
        std::error_code error;
        const fs::path path = platform::FileSystemPath(name);
        if (fs::is_directory(path, error)) {
            if (!command.Recursive)
                throw std::invalid_argument(name + " is a folder: give --recursive to walk it");
            std::vector<std::pair<fs::path, fs::path>> found;
            Walk(path, fs::path(), driver, found);
            for (const auto& [file, relative] : found)
                add(file, relative);
        } else if (fs::exists(path, error)) {
            add(path, fs::path());
        } else {
            throw std::invalid_argument("no file " + name);
        }
    }
    return inputs;
}

namespace {

// Runs job over inputs with Ctrl+C and SIGTERM stopping it; returns the exit status.
int RunJob(TZoKpiDriver& driver, TBatchDecodeJob& job, std::vector<BatchInput> inputs,
           const TBatchDecodeJob::Options& options)
{
    platform::StopRequests::Install([&job] { job.Stop(); }, [&driver] { driver.EndBusyHosts(); });
    job.Run(driver, std::move(inputs), options);
    platform::StopRequests::Uninstall();
    if (job.WasStopped())
        return platform::StopRequests::ExitStatus();
    return job.Counts().Failed > 0 || job.EndedByFailure() ? kFailed : kConverted;
}

TBatchDecodeJob::Hooks ConsoleHooks(Console& console)
{
    TBatchDecodeJob::Hooks hooks;
    hooks.Log = [&console](const std::string& line) { console.Log(line); };
    hooks.Status = [&console](const BatchCounts& counts) { console.Status(counts); };
    return hooks;
}

} // namespace

int RunBatch(TZoKpiDriver& driver, const CommandLine& command, const DecodeSettingRow& row,
             Console& console)
{
    TBatchDecodeJob::Options options;
    try {
        options.Setting = ReadDecodeSetting(row);
        options.Requested = ReadRequestedFormat(row);
    } catch (const std::exception& e) {
        console.Log(e.what());
        console.Log(logtext::kBatchCannotStart);
        return kFailed;
    }
    std::vector<BatchInput> inputs;
    try {
        inputs = CollectBatchInputs(command, driver);
    } catch (const std::invalid_argument& e) {
        std::fprintf(stderr, "pellan-decode: %s\n", e.what());
        return kBadArguments;
    }
    if (command.OutDir) {
        std::error_code error;
        for (const BatchInput& input : inputs)
            fs::create_directories(platform::FileSystemPath(input.Output).parent_path(), error);
    }
    options.Jobs = JobCount(command);
    options.Overwrite = command.Overwrite;
    TPlainMainThreadLoop loop;
    TBatchDecodeJob job(loop, ConsoleHooks(console));
    const int status = RunJob(driver, job, std::move(inputs), options);
    console.Summary(job.Counts());
    return status;
}

int RunPlaylistBatch(TZoKpiDriver& driver, const CommandLine& command, const DecodeSettingRow& row,
                     Console& console)
{
    TBatchDecodeJob::Options options;
    std::unique_ptr<TZoKbmPlayListReader> reader;
    try {
        options.Setting = ReadDecodeSetting(row);
        options.Requested = ReadRequestedFormat(row);
        reader = std::make_unique<TZoKbmPlayListReader>(command.Input);
    } catch (const std::exception& e) {
        console.Log(e.what());
        console.Log(logtext::kBatchCannotStart);
        return kFailed;
    }
    console.Log(logtext::kBatchStarts);
    // The entries up to the first whose song number does not convert; that one ends the batch
    // once the entries before it are done, as in the window.
    std::vector<BatchInput> inputs;
    std::string error;
    while (!reader->Eof() && error.empty()) {
        TZoKbmPlayListEntry entry;
        reader->ReadEntry(entry);
        if (!entry.ArchiveItem.empty()) {
            console.Log("警告：書庫ファイル " + platform::SystemTextOf(entry.FileName) +
                        " はサポートしていません。スキップします。");
            continue;
        }
        if (entry.FileName.find("::AudioCD::") != std::string::npos) {
            console.Log("警告：CD-DA はサポートしていません。スキップします。");
            continue;
        }
        try {
            const PlaylistEntryNames names =
                ResolvePlaylistEntryNames(entry.FileName, platform::LaunchFolder());
            BatchInput input;
            input.Source = names.Source;
            input.Output = names.Output;
            if (names.SongNumber) {
                input.Songs.What = SongSelection::Kind::Exact;
                input.Songs.First = *names.SongNumber;
            }
            input.Tags = {entry.Title, entry.Artist};
            inputs.push_back(std::move(input));
        } catch (const std::exception& e) {
            error = e.what();
        }
    }
    reader.reset();
    options.Jobs = JobCount(command);
    // The playlist's own rules: outputs are replaced, a song that cannot start ends the batch,
    // and no output replaces the playlist.
    options.Overwrite = true;
    options.StopAtFirstFailure = true;
    options.Protected = command.Input;
    TPlainMainThreadLoop loop;
    TBatchDecodeJob job(loop, ConsoleHooks(console));
    int status = RunJob(driver, job, std::move(inputs), options);
    console.ClearProgress();
    console.Log(logtext::kBatchDone);
    if (!error.empty() && !job.WasStopped() && !job.EndedByFailure()) {
        console.Log(error);
        console.Log(logtext::kBatchCannotStart);
        status = kFailed;
    }
    return status;
}
