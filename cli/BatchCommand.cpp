#include "cli/BatchCommand.h"

#include "app/PlaylistDecoding.h"
#include "cli/Console.h"
#include "kpi/kpiDriver.h"
#include "platform/CodePages.h"
#include "platform/FileSystem.h"
#include "platform/PartFiles.h"
#include "platform/Paths.h"
#include "platform/StopRequests.h"
#include "playlist/kpiPlayListReader.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <thread>

namespace fs = std::filesystem;

namespace {

enum ExitStatus { kConverted = 0, kFailed = 1, kBadArguments = 2 };

// An input as found: named on the command line, or met in a walked folder (relative: the folders
// between the walked one and the file, each with its delimiter).
struct Found {
    std::string Source;
    std::string Relative;
    bool Named = false;
    std::string Output;
    std::string OutputKey, StemKey; // as the file system compares names; stem: without ".wav"
};

// The files of folder and its sub-folders that a plug-in claims, in name order; hidden names,
// pipes and devices are left out. Linked folders are not entered, so that a link back up the
// tree cannot loop, and neither is the folder the outputs go to, whose files are this command's
// own outputs. Every access goes through the platform layer, which reaches paths of any length.
void Walk(const std::string& folder, const std::string& relative, const TZoKpiDriver& driver,
          const std::optional<platform::FileIdentity>& outDir, std::vector<Found>& found)
{
    std::vector<platform::FolderEntry> entries =
        platform::ListFolder(folder, "*", platform::kSubFolderMask);
    std::sort(entries.begin(), entries.end(),
              [](const auto& a, const auto& b) { return a.Name < b.Name; });
    for (const platform::FolderEntry& entry : entries) {
        if (entry.Name.rfind('.', 0) == 0)
            continue;
        const std::string path = platform::IncludeTrailingDelimiter(folder) + entry.Name;
        if (entry.IsDirectory) {
            if (!entry.IsLink && !(outDir && platform::GetFileIdentity(path) == outDir))
                Walk(path, relative + entry.Name + platform::kPathDelimiter, driver, outDir, found);
        } else if (driver.PluginFor(path)) {
            found.push_back({path, relative, false, {}, {}, {}});
        }
    }
}

// The output of a multi-song file, without ".wav", whose song key (of a path) would be:
// "stem" for "stem[n].wav"; none for a key of no such form.
std::optional<std::string> SongOutputStem(const std::string& key)
{
#ifdef _WIN32
    const std::string wav = "].WAV"; // keys are in upper case there
#else
    const std::string wav = "].wav";
#endif
    if (key.size() < wav.size() + 2 || key.compare(key.size() - wav.size(), wav.size(), wav) != 0)
        return std::nullopt;
    const size_t open = key.rfind('[');
    const size_t digits = open == std::string::npos ? 0 : key.size() - wav.size() - open - 1;
    if (digits == 0 || key.find_first_not_of("0123456789", open + 1) != key.size() - wav.size())
        return std::nullopt;
    return key.substr(0, open);
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
    std::vector<Found> found;
    const std::optional<platform::FileIdentity> outDir =
        command.OutDir ? platform::GetFileIdentity(*command.OutDir) : std::nullopt;
    for (const std::string& name : command.Inputs) {
        const platform::FileCheck check = platform::CheckInputFile(name);
        if (check.Kind == platform::FileKind::Folder) {
            if (!command.Recursive)
                throw std::invalid_argument(txt::Format(txt::Id::InputIsFolder, {name}));
            Walk(name, "", driver, outDir, found);
        } else if (check.Kind == platform::FileKind::Missing) {
            throw EBatchRefused(logtext::CannotOpenLine(name, check.Reason));
        } else if (check.Kind != platform::FileKind::Regular) {
            throw EBatchRefused(logtext::NotARegularFileLine(name, check.Kind));
        } else if (platform::IsPartFileName(platform::ExtractFileName(name))) {
            throw EBatchRefused(txt::Format(txt::Id::InputIsPartFile, {name}));
        } else {
            found.push_back({name, "", true, {}, {}, {}});
        }
    }
    const bool songsOfMany = command.Songs.What == SongSelection::Kind::All ||
                             command.Songs.What == SongSelection::Kind::Range;
    // Each output as the file system tells names apart (letter case ignored on Windows, links
    // followed), so that two names of one file count as one; and the output without ".wav",
    // to which the songs of a multi-song file add "[n]".
    std::map<std::string, size_t> outputs, stems;
    for (size_t i = 0; i < found.size(); ++i) {
        Found& input = found[i];
        const std::string folder =
            command.OutDir ? platform::IncludeTrailingDelimiter(*command.OutDir) + input.Relative
                           : platform::ExtractFilePath(input.Source);
        const std::string name =
            platform::PathText(platform::FileSystemPath(platform::ExtractFileName(input.Source))
                                   .replace_extension(".wav"));
        input.Output = folder + name;
        input.OutputKey = platform::ComparablePath(input.Output);
        input.StemKey = platform::ChangeFileExt(input.OutputKey, "");
        outputs.emplace(input.OutputKey, i);
        stems.emplace(input.StemKey, i);
    }
    // An input that is another input's output would be read while it is replaced. A walked one
    // is this command's output from an earlier run and is left out; a named one is refused.
    std::vector<bool> dropped(found.size(), false);
    for (size_t i = 0; i < found.size(); ++i) {
        const std::string key = platform::ComparablePath(found[i].Source);
        std::optional<size_t> writer;
        if (const auto it = outputs.find(key); it != outputs.end() && it->second != i)
            writer = it->second;
        if (const auto stem = songsOfMany ? SongOutputStem(key) : std::nullopt; stem && !writer)
            if (const auto it = stems.find(*stem); it != stems.end() && it->second != i)
                writer = it->second;
        if (!writer)
            continue;
        if (found[i].Named)
            throw EBatchRefused(
                txt::Format(txt::Id::InputIsOutput, {found[i].Source, found[*writer].Source}));
        dropped[i] = true;
    }
    std::map<std::string, std::string> written; // stem -> the input that writes it
    std::vector<BatchInput> inputs;
    for (size_t i = 0; i < found.size(); ++i) {
        if (dropped[i])
            continue;
        const Found& input = found[i];
        const auto [it, added] = written.emplace(input.StemKey, input.Source);
        if (!added)
            throw std::invalid_argument(
                txt::Format(txt::Id::OutputClash, {it->second, input.Source, input.Output}));
        BatchInput batchInput;
        batchInput.Source = input.Source;
        batchInput.Output = input.Output;
        batchInput.Songs = command.Songs;
        inputs.push_back(std::move(batchInput));
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

// A dry run has no status line: it is over before anyone could read one.
TBatchDecodeJob::Hooks ConsoleHooks(Console& console, bool dryRun)
{
    TBatchDecodeJob::Hooks hooks;
    hooks.Log = [&console](const LogLine& line) { console.Log(line); };
    if (!dryRun)
        hooks.Status = [&console](const BatchCounts& counts) { console.Status(counts); };
    return hooks;
}

// A dry run's lines name their songs' outputs themselves.
void SetDryRun(TBatchDecodeJob::Options& options, bool dryRun)
{
    options.DryRun = dryRun;
    options.LabelLines = !dryRun;
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
        console.Log(logtext::FailureLine(e));
        console.Log(logtext::Line(txt::Id::BatchCannotStart));
        return kFailed;
    }
    std::vector<BatchInput> inputs;
    try {
        inputs = CollectBatchInputs(command, driver);
    } catch (const EBatchRefused& e) {
        console.Log(logtext::FailureLine(e));
        return kBadArguments;
    } catch (const std::invalid_argument& e) {
        std::fprintf(stderr, "pellan-decode: %s\n", e.what());
        return kBadArguments;
    }
    if (command.OutDir && !command.DryRun) {
        std::set<std::string> folders;
        for (const BatchInput& input : inputs)
            folders.insert(platform::ExtractFilePath(input.Output));
        for (const std::string& folder : folders)
            platform::CreateFolders(folder);
    }
    options.Jobs = JobCount(command);
    options.Overwrite = command.Overwrite;
    options.ThroughPartFiles = true;
    SetDryRun(options, command.DryRun);
    TPlainMainThreadLoop loop;
    TBatchDecodeJob job(loop, ConsoleHooks(console, command.DryRun));
    const int status = RunJob(driver, job, std::move(inputs), options);
    if (command.DryRun)
        console.DryRunSummary(job.Counts());
    else
        console.Summary(job.Counts(), job.WasStopped());
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
        console.Log(logtext::FailureLine(e));
        console.Log(logtext::Line(txt::Id::BatchCannotStart));
        return kFailed;
    }
    console.Log(logtext::Line(txt::Id::BatchStarts));
    // The entries up to the first whose song number does not convert; that one ends the batch
    // once the entries before it are done, as in the window.
    std::vector<BatchInput> inputs;
    std::optional<LogLine> error;
    while (!reader->Eof() && !error) {
        TZoKbmPlayListEntry entry;
        reader->ReadEntry(entry);
        if (!entry.ArchiveItem.empty()) {
            console.Log(
                logtext::Line(txt::Id::ArchiveSkipped, {platform::SystemTextOf(entry.FileName)}));
            continue;
        }
        if (entry.FileName.find("::AudioCD::") != std::string::npos) {
            console.Log(logtext::Line(txt::Id::CdAudioSkipped));
            continue;
        }
        try {
            const PlaylistEntryNames names =
                ResolvePlaylistEntryNames(entry.FileName, command.Input, platform::LaunchFolder());
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
            error = logtext::FailureLine(e);
        }
    }
    reader.reset();
    options.Jobs = JobCount(command);
    // The playlist's own rules: outputs are replaced, a song that cannot start ends the batch,
    // and no output replaces the playlist.
    options.Overwrite = true;
    options.StopAtFirstFailure = true;
    options.Protected = command.Input;
    SetDryRun(options, command.DryRun);
    TPlainMainThreadLoop loop;
    TBatchDecodeJob job(loop, ConsoleHooks(console, command.DryRun));
    int status = RunJob(driver, job, std::move(inputs), options);
    console.ClearProgress();
    console.Log(logtext::Line(txt::Id::BatchDone));
    if (error && !job.WasStopped() && !job.EndedByFailure()) {
        console.Log(*error);
        console.Log(logtext::Line(txt::Id::BatchCannotStart));
        status = kFailed;
    }
    if (command.DryRun)
        console.DryRunSummary(job.Counts());
    else if (job.WasStopped())
        console.Summary(job.Counts(), true);
    return status;
}
