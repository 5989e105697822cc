#include "app/BatchDecoding.h"

#include "kpi/KPI.h"
#include "kpi/KpiSong.h"
#include "kpi/kpiDriver.h"
#include "platform/Errors.h"
#include "platform/FileSystem.h"
#include "platform/PartFiles.h"
#include "platform/Paths.h"

#include <algorithm>
#include <set>

namespace {

LogLine TooManySongsLine(const std::string& source, uint32_t count)
{
    return logtext::Line(
        txt::Id::TooManySongs,
        {source, std::to_string(count), std::to_string(TBatchDecodeJob::kMostSongsOfAllSongs)});
}

} // namespace

std::optional<double> EstimateSecondsLeft(const BatchCounts& counts, double elapsedSeconds)
{
    const double rendered = double(counts.ConvertedMs) + double(counts.RunningMs);
    if (counts.Converted == 0 || rendered <= 0 || elapsedSeconds <= 0)
        return std::nullopt;
    const int toStart =
        counts.Total - counts.Converted - counts.Failed - counts.Skipped - counts.Running;
    const double averageMs = double(counts.ConvertedMs) / counts.Converted;
    const double leftMs = double(counts.RunningLeftMs) + std::max(toStart, 0) * averageMs;
    // Song time rendered per second, by all jobs together.
    return leftMs / (rendered / elapsedSeconds);
}

std::string SongOutputName(const std::string& output, uint32_t songNumber)
{
    return platform::ChangeFileExt(output, "") + "[" + std::to_string(songNumber) + "].wav";
}

TBatchDecodeJob::~TBatchDecodeJob()
{
    for (const auto& running : FRunning) {
        running->Thread->RequestStop();
        running->Thread->WaitFor();
    }
}

void TBatchDecodeJob::Run(TZoKpiDriver& driver, std::vector<BatchInput> inputs,
                          const Options& options)
{
    FDriver = &driver;
    FOptions = options;
    FOptions.Jobs = std::max(1u, FOptions.Jobs);
    FCounts = BatchCounts();
    FStopping = FWasStopped = FEndedByFailure = false;
    FInputs.clear();
    FSongsToStart = static_cast<int>(inputs.size());
    if (FOptions.ThroughPartFiles && !FOptions.DryRun)
        SweepPartFiles(inputs);
    for (BatchInput& input : inputs) {
        Pending pending;
        pending.Input = std::move(input);
        FInputs.push_back(std::move(pending));
    }
    Report();

    for (;;) {
        while (!FStopping && FRunning.size() < FOptions.Jobs && StartOne()) {
        }
        // Nothing running means nothing is busy either: whatever is left could not start.
        if (FRunning.empty())
            break;
        FLoop.RunUntil([this] {
            return std::any_of(FRunning.begin(), FRunning.end(),
                               [](const auto& running) { return running->Ended; });
        });
        Reap();
    }
    // The songs left stay in the total: the batch was meant to convert them.
    FCounts.NotReached = FSongsToStart;
    FInputs.clear();
    Report();
}

void TBatchDecodeJob::SweepPartFiles(const std::vector<BatchInput>& inputs)
{
    std::set<std::string> folders;
    for (const BatchInput& input : inputs)
        folders.insert(platform::ExtractFilePath(input.Output));
    for (const std::string& folder : folders)
        for (const std::string& path : platform::RemoveAbandonedPartFiles(folder))
            FHooks.Log(logtext::Line(txt::Id::StalePartFileRemoved, {path}));
}

bool TBatchDecodeJob::Stop()
{
    if (FStopping)
        return FWasStopped;
    FStopping = true;
    // Songs not yet started are left undone: that alone makes it a stop.
    FWasStopped = !FInputs.empty();
    for (const auto& running : FRunning) {
        if (running->Ended || !running->Thread->RequestStop())
            continue; // its run had finished: its file stays
        FWasStopped = true;
        Log(running->What, logtext::Line(txt::Id::StoppedByUser));
        Log(running->What, logtext::Line(txt::Id::FileDeleted));
    }
    FLoop.Wake();
    return FWasStopped;
}

bool TBatchDecodeJob::Busy(const TZoKpi* plugin, const std::string& output) const
{
    if (plugin != nullptr && !plugin->CanOpenSong())
        return true;
    if (FRunning.empty())
        return false;
    // Two songs never write one file at once (a playlist may name the same entry twice, in
    // another letter case too).
    const std::string key = platform::ComparablePath(output);
    return std::any_of(FRunning.begin(), FRunning.end(),
                       [&](const auto& running) { return running->OutputKey == key; });
}

bool TBatchDecodeJob::StartOne()
{
    // In the order of the inputs; a song that has to wait lets a later one go first.
    for (auto it = FInputs.begin(); it != FInputs.end();) {
        Pending& pending = *it;
        if (!pending.Planned) {
            const Plan plan = PlanSongs(pending);
            if (plan == Plan::Busy) {
                ++it;
                continue;
            }
            if (plan == Plan::Refused) {
                it = FInputs.erase(it);
                if (FStopping) // StopAtFirstFailure
                    return false;
                continue;
            }
        }
        const Song song = NextSong(pending);
        if (Busy(FDriver->PluginFor(song.Source), song.Output)) {
            ++it;
            continue;
        }
        if (!pending.Multi || pending.Next++ == pending.Last)
            FInputs.erase(it);
        --FSongsToStart;
        StartSong(song);
        return true;
    }
    return false;
}

TBatchDecodeJob::Plan TBatchDecodeJob::PlanSongs(Pending& pending)
{
    const BatchInput& input = pending.Input;
    const SongSelection& songs = input.Songs;
    const auto single = [&](std::optional<uint32_t> number) {
        pending.Planned = true;
        pending.Single = number;
        return Plan::Ready;
    };
    if (songs.What == SongSelection::Kind::First)
        return single(std::nullopt);
    if (songs.What == SongSelection::Kind::Exact)
        return single(songs.First);
    // Which songs there are, the plug-in alone can tell: the file is opened once to ask it. A
    // file the plug-in must not see (missing, a named pipe) is one song, whose start says why
    // it fails.
    const TZoKpi* plugin = FDriver->PluginFor(input.Source);
    if (plugin == nullptr || !logtext::InputFileProblemLine(input.Source).empty())
        return single(std::nullopt);
    if (!plugin->CanOpenSong())
        return Plan::Busy;
    const std::unique_ptr<TZoSong> song = FDriver->OpenSong(input.Source, &FOptions.Requested);
    // A file that is not multi-song, or that cannot be opened, is one song: its start tells why
    // it fails, if it does.
    if (!song || song->Handle == 0 || !song->IsMultiSong())
        return single(std::nullopt);
    const uint32_t count = song->Format.LengthMs / 1000;
    if (songs.What == SongSelection::Kind::All && count > kMostSongsOfAllSongs) {
        Log({input.Source, std::nullopt, input.Output, {}, platform::ExtractFileName(input.Output)},
            TooManySongsLine(input.Source, count));
        ++FCounts.Failed;
        --FSongsToStart;
        if (FOptions.StopAtFirstFailure) {
            FEndedByFailure = true;
            FStopping = true;
        }
        Report();
        return Plan::Refused;
    }
    pending.Planned = true;
    pending.Multi = true;
    pending.Next = songs.What == SongSelection::Kind::All ? 1 : songs.First;
    pending.Last = songs.What == SongSelection::Kind::All ? count : std::min(songs.Last, count);
    // A first song beyond the count starts and fails with the song-number error.
    if (pending.Next > count)
        pending.Last = pending.Next;
    if (pending.Last < pending.Next) // no songs at all
        return single(std::nullopt);
    FSongsToStart += static_cast<int>(pending.Last - pending.Next);
    return Plan::Ready;
}

TBatchDecodeJob::Song TBatchDecodeJob::NextSong(const Pending& pending) const
{
    const BatchInput& input = pending.Input;
    const std::optional<uint32_t> number =
        pending.Multi ? std::optional<uint32_t>(pending.Next) : pending.Single;
    const std::string output =
        pending.Multi ? SongOutputName(input.Output, pending.Next) : input.Output;
    return {input.Source, number, output, input.Tags, platform::ExtractFileName(output)};
}

void TBatchDecodeJob::StartSong(const Song& song)
{
    if (!FOptions.Overwrite && platform::FileExists(song.Output)) {
        Log(song, logtext::Line(txt::Id::OutputExistsSkipped, {song.Output}));
        ++FCounts.Skipped;
        Report();
        return;
    }
    if (FOptions.DryRun) {
        if (DryRunSong(song)) {
            ++FCounts.Converted;
        } else {
            ++FCounts.Failed;
            if (FOptions.StopAtFirstFailure) {
                FEndedByFailure = true;
                FStopping = true;
            }
        }
        Report();
        return;
    }
    SongDecodeRequest request;
    request.Source = song.Source;
    request.Output = song.Output;
    request.SongNumber = song.SongNumber;
    request.Setting = FOptions.Setting;
    request.Requested = FOptions.Requested;
    request.Tags = song.Tags;
    request.Playlist = FOptions.Protected;
    auto running = std::make_unique<Running>();
    PreparedSongDecode prepared;
    try {
        if (FOptions.ThroughPartFiles) {
            std::string error;
            running->Part = platform::PartFile::Create(song.Output, error);
            if (!running->Part)
                throw EZoError(txt::Id::WavNotCreatedBecause, {song.Output, error});
            request.WriteTo = running->Part->Path();
        }
        prepared =
            PrepareSongDecode(*FDriver, request, [&](const LogLine& line) { Log(song, line); });
    } catch (const std::exception& e) {
        LogFailure([&](const LogLine& line) { Log(song, line); }, e);
        Log(song, logtext::Line(txt::Id::DecodeFailed));
        ++FCounts.Failed;
        if (FOptions.StopAtFirstFailure) {
            FEndedByFailure = true;
            FStopping = true;
        }
        Report();
        return;
    }
    if (running->Part)
        running->Part->Hide();
    running->What = song;
    running->OutputKey = platform::ComparablePath(song.Output);
    running->Thread = std::move(prepared.Thread);
    running->TotalMs = prepared.TotalMs;
    Running* raw = running.get();
    raw->Thread->OnProgress = [this, raw](TZoSong& song) {
        raw->PositionMs = song.Position();
        Report();
    };
    raw->Thread->OnTerminate = [this, raw] {
        raw->Ended = true;
        LogRunError([&](const LogLine& line) { Log(raw->What, line); }, *raw->Thread);
        // What it wrote goes with its part file: the output's name stays free (or keeps the
        // older file) for the next run.
        if (!raw->Thread->FatalMessage().empty() && raw->Part)
            Log(raw->What, logtext::Line(txt::Id::FileDeleted));
        Log(raw->What, logtext::Line(txt::Id::DecodeDone));
        FLoop.Wake();
    };
    FRunning.push_back(std::move(running));
    raw->Thread->Start();
    Report();
}

void TBatchDecodeJob::Reap()
{
    for (auto it = FRunning.begin(); it != FRunning.end();) {
        if (!(*it)->Ended) {
            ++it;
            continue;
        }
        Finish(**it);
        it = FRunning.erase(it);
    }
    Report();
}

void TBatchDecodeJob::Finish(Running& running)
{
    running.Thread->WaitFor();
    const bool aborted = running.Thread->Aborted();
    const bool failed = !running.Thread->FatalMessage().empty();
    running.Thread.reset(); // completes the file, or deletes it after a stop
    // A stopped song is neither converted nor failed: it was interrupted with the batch.
    if (aborted || failed) {
        if (running.Part)
            running.Part->Discard();
        FCounts.Failed += failed && !aborted ? 1 : 0;
        FCounts.Interrupted += aborted ? 1 : 0;
        return;
    }
    if (!running.Part) {
        ++FCounts.Converted;
        FCounts.ConvertedMs += running.PositionMs;
        return;
    }
    std::string error;
    switch (running.Part->Commit(FOptions.Overwrite, error)) {
    case platform::PartFile::Outcome::Moved:
        ++FCounts.Converted;
        FCounts.ConvertedMs += running.PositionMs;
        break;
    case platform::PartFile::Outcome::TargetExists: // another program wrote it meanwhile
        Log(running.What, logtext::Line(txt::Id::OutputExistsSkipped, {running.What.Output}));
        ++FCounts.Skipped;
        break;
    case platform::PartFile::Outcome::Failed:
        Log(running.What, logtext::Line(txt::Id::WavNotPlaced, {running.What.Output, error}));
        Log(running.What, logtext::Line(txt::Id::FileDeleted));
        ++FCounts.Failed;
        break;
    }
}

void TBatchDecodeJob::Log(const Song& song, const LogLine& line)
{
    if (!FOptions.LabelLines)
        return FHooks.Log(line);
    FHooks.Log({line.Level, song.Label + ": " + line.Text});
}

bool TBatchDecodeJob::DryRunSong(const Song& song)
{
    // What can be known without opening the song: a file no plug-in takes, or one that is
    // missing or no regular file, would fail to start.
    if (FDriver->PluginFor(song.Source) == nullptr) {
        Log(song, logtext::Line(txt::Id::NoPluginForFile, {song.Source}));
        return false;
    }
    if (const std::string problem = logtext::InputFileProblemLine(song.Source); !problem.empty()) {
        Log(song, {txt::Severity::Error, problem});
        return false;
    }
    if (song.SongNumber)
        Log(song, logtext::Line(txt::Id::WouldConvertSong,
                                {song.Source, std::to_string(*song.SongNumber), song.Output}));
    else
        Log(song, logtext::Line(txt::Id::WouldConvert, {song.Source, song.Output}));
    return true;
}

void TBatchDecodeJob::Report()
{
    FCounts.Running = static_cast<int>(FRunning.size());
    FCounts.Total = FCounts.Converted + FCounts.Failed + FCounts.Skipped + FCounts.Running +
                    FCounts.Interrupted + FSongsToStart;
    FCounts.RunningMs = FCounts.RunningLeftMs = 0;
    for (const auto& running : FRunning) {
        FCounts.RunningMs += running->PositionMs;
        if (running->TotalMs > running->PositionMs)
            FCounts.RunningLeftMs += running->TotalMs - running->PositionMs;
    }
    if (FHooks.Status)
        FHooks.Status(FCounts);
}
