#include "app/BatchDecoding.h"

#include "kpi/KPI.h"
#include "kpi/KpiSong.h"
#include "kpi/kpiDriver.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"

#include <algorithm>

namespace {

constexpr const char* kSkipped = "警告: 出力先 %s は既にあります。スキップします。";

} // namespace

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
    FSongs.clear();
    for (BatchInput& input : inputs)
        FInputs.push_back({std::move(input)});
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
    FInputs.clear();
    FSongs.clear();
    Report();
}

bool TBatchDecodeJob::Stop()
{
    if (FStopping)
        return FWasStopped;
    FStopping = true;
    // Songs not yet started are left undone: that alone makes it a stop.
    FWasStopped = !FInputs.empty() || !FSongs.empty();
    for (const auto& running : FRunning) {
        if (running->Ended || !running->Thread->RequestStop())
            continue; // its run had finished: its file stays
        FWasStopped = true;
        Log(running->What, logtext::kStoppedByUser);
        Log(running->What, logtext::kFileDeleted);
    }
    FLoop.Wake();
    return FWasStopped;
}

bool TBatchDecodeJob::Busy(const TZoKpi* plugin, const std::string& output) const
{
    if (plugin != nullptr && !plugin->CanOpenSong())
        return true;
    // Two songs never write one file at once (a playlist may name the same entry twice).
    return std::any_of(FRunning.begin(), FRunning.end(),
                       [&](const auto& running) { return running->What.Output == output; });
}

bool TBatchDecodeJob::StartOne()
{
    for (;;) {
        // Songs come before inputs not yet expanded: they belong to earlier inputs.
        for (auto it = FSongs.begin(); it != FSongs.end(); ++it) {
            if (Busy(FDriver->PluginFor(it->Source), it->Output))
                continue;
            const Song song = std::move(*it);
            FSongs.erase(it);
            StartSong(song);
            return true;
        }
        bool expanded = false;
        for (auto it = FInputs.begin(); it != FInputs.end() && !expanded; ++it) {
            if (!Expand(*it))
                continue;
            FInputs.erase(it);
            expanded = true;
        }
        if (!expanded)
            return false;
    }
}

bool TBatchDecodeJob::Expand(Pending& pending)
{
    const BatchInput& input = pending.Input;
    const auto add = [&](std::optional<uint32_t> number, const std::string& output) {
        FSongs.push_back(
            {input.Source, number, output, input.Tags, platform::ExtractFileName(output)});
    };
    const SongSelection& songs = input.Songs;
    if (songs.What == SongSelection::Kind::First) {
        add(std::nullopt, input.Output);
        return true;
    }
    if (songs.What == SongSelection::Kind::Exact) {
        add(songs.First, input.Output);
        return true;
    }
    // Which songs there are, the plug-in alone can tell: the file is opened once to ask it.
    const TZoKpi* plugin = FDriver->PluginFor(input.Source);
    if (plugin != nullptr && !plugin->CanOpenSong())
        return false;
    uint32_t count = 0;
    bool multiSong = false;
    if (plugin != nullptr) {
        const std::unique_ptr<TZoSong> song = FDriver->OpenSong(input.Source, &FOptions.Requested);
        multiSong = song && song->Handle != 0 && song->IsMultiSong();
        count = multiSong ? song->Format.LengthMs / 1000 : 0;
    }
    // A file that is not multi-song, or that cannot be opened, is one song: its start tells why
    // it fails, if it does.
    if (!multiSong) {
        add(std::nullopt, input.Output);
        return true;
    }
    const uint32_t first = songs.What == SongSelection::Kind::All ? 1 : songs.First;
    const uint32_t last = songs.What == SongSelection::Kind::All ? count : songs.Last;
    // A first song beyond the count starts and fails with the song-number error.
    if (first > count) {
        add(first, SongOutputName(input.Output, first));
        return true;
    }
    for (uint32_t n = first; n <= std::min(last, count); ++n)
        add(n, SongOutputName(input.Output, n));
    return true;
}

void TBatchDecodeJob::StartSong(const Song& song)
{
    if (!FOptions.Overwrite && platform::FileExists(song.Output)) {
        std::string line = kSkipped;
        Log(song, line.replace(line.find("%s"), 2, song.Output));
        ++FCounts.Skipped;
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
    PreparedSongDecode prepared;
    try {
        prepared =
            PrepareSongDecode(*FDriver, request, [&](const std::string& line) { Log(song, line); });
    } catch (const std::exception& e) {
        LogFailure([&](const std::string& line) { Log(song, line); }, e);
        Log(song, logtext::kDecodeFailed);
        ++FCounts.Failed;
        if (FOptions.StopAtFirstFailure) {
            FEndedByFailure = true;
            FStopping = true;
        }
        Report();
        return;
    }
    auto running = std::make_unique<Running>();
    running->What = song;
    running->Thread = std::move(prepared.Thread);
    Running* raw = running.get();
    raw->Thread->OnProgress = [this](TZoSong&) { Report(); };
    raw->Thread->OnTerminate = [this, raw] {
        raw->Ended = true;
        LogRunError([&](const std::string& line) { Log(raw->What, line); }, *raw->Thread);
        Log(raw->What, logtext::kDecodeDone);
        FLoop.Wake();
    };
    FRunning.push_back(std::move(running));
    raw->Thread->Start();
    Report();
}

void TBatchDecodeJob::Reap()
{
    for (auto it = FRunning.begin(); it != FRunning.end();) {
        Running& running = **it;
        if (!running.Ended) {
            ++it;
            continue;
        }
        running.Thread->WaitFor();
        // A stopped song counts nowhere: the batch as a whole was stopped.
        if (!running.Thread->Aborted()) {
            if (running.Thread->FatalMessage().empty())
                ++FCounts.Converted;
            else
                ++FCounts.Failed;
        }
        it = FRunning.erase(it); // completes the file, or deletes it after a stop
    }
    Report();
}

void TBatchDecodeJob::Log(const Song& song, const std::string& line)
{
    FHooks.Log(FOptions.LabelLines ? song.Label + ": " + line : line);
}

void TBatchDecodeJob::Report()
{
    FCounts.Running = static_cast<int>(FRunning.size());
    if (FHooks.Status)
        FHooks.Status(FCounts);
}
