#include "app/PlaylistDecoding.h"

#include "app/Conversions.h"
#include "kpi/KpiSong.h"
#include "platform/CodePages.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "platform/WindowsPaths.h"
#include "playlist/kpiPlayListReader.h"

#include <memory>

namespace {

std::string OutputName(const std::string& source, std::optional<uint32_t> songNumber)
{
    if (!songNumber)
        return platform::ChangeFileExt(source, ".wav");
    return platform::ChangeFileExt(source, "") + "[" + std::to_string(*songNumber) + "].wav";
}

// Whether a playlist entry names its file from a root: "/x", "\x" (a UNC path included), or a
// drive ("C:\x", and "C:x", which is relative to that drive's folder, not to the playlist).
bool IsRootedWindowsPath(const std::string& path)
{
    if (!path.empty() && (path[0] == '/' || path[0] == '\\'))
        return true;
    return path.size() >= 2 && path[1] == ':' &&
           ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
}

// Entries no plug-in is asked about: an item of an archive, a track of an audio CD.
bool IsSkippedEntry(const TZoKbmPlayListEntry& entry)
{
    return !entry.ArchiveItem.empty() || entry.FileName.find("::AudioCD::") != std::string::npos;
}

} // namespace

PlaylistEntryNames DerivePlaylistEntryNames(const std::string& fileName)
{
    PlaylistEntryNames names;
    // Safe on Shift_JIS bytes too: no second byte of a double-byte character is a colon.
    const size_t mark = fileName.find("::");
    names.Source = fileName.substr(0, mark);
    if (mark != std::string::npos)
        names.SongNumber = StrToCardinal(fileName.substr(mark + 2));
    names.Output = OutputName(names.Source, names.SongNumber);
    return names;
}

PlaylistEntryNames ResolvePlaylistEntryNames(const std::string& fileName,
                                             const std::string& playlist, const std::string& folder)
{
    PlaylistEntryNames names = DerivePlaylistEntryNames(fileName);
    // The host player finds a relative entry beside its playlist, wherever it is run from; the
    // folder the program started in stays the fallback, so that every playlist that worked
    // before still does.
    const std::string beside = platform::ExtractFilePath(platform::AbsolutePath(playlist, folder));
    if (!beside.empty() && !names.Source.empty() && !IsRootedWindowsPath(names.Source)) {
        // The entry's code page is bridged first: the folder is already this system's text.
        const platform::ForeignPath found =
            platform::ResolveWindowsPath(beside + platform::SystemTextOf(names.Source), folder);
        if (found.Found) {
            names.Source = found.Path;
            names.Output = OutputName(names.Source, names.SongNumber);
            return names;
        }
    }
    names.Source = platform::ResolveWindowsPath(names.Source, folder).Path;
    names.Output = OutputName(names.Source, names.SongNumber);
    return names;
}

void TPlaylistDecodeJob::Run(TZoKpiDriver& driver, const std::string& typedPlaylist,
                             const DecodeSetting& setting, const SoundFormat& requested)
{
    const std::string playlist = platform::AbsolutePath(typedPlaylist, platform::LaunchFolder());
    FFailed = false;
    FDecoded = 0;
    FFailedEntries = FSkippedEntries = FInterrupted = FNotReached = 0;
    FBatchStopped = false;
    FWasStopped = false;
    std::unique_ptr<TZoKbmPlayListReader> reader;
    try {
        reader = std::make_unique<TZoKbmPlayListReader>(playlist);
    } catch (const std::exception& e) {
        FFailed = true;
        FHooks.Log(logtext::FailureLine(e));
        FHooks.Log(logtext::Line(txt::Id::BatchCannotStart));
        return;
    }
    FHooks.Log(logtext::Line(txt::Id::BatchStarts));
    FRunning = true;
    if (FHooks.Running)
        FHooks.Running();

    // An error outside an entry's start is logged after the finish, as it always has been.
    std::optional<LogLine> error;
    try {
        while (!reader->Eof()) {
            TZoKbmPlayListEntry entry;
            reader->ReadEntry(entry);
            if (!DecodeEntry(driver, playlist, entry, setting, requested)) {
                // A stop that came as an entry finished ends the batch all the same; it stopped
                // something only when entries were left.
                if (FBatchStopped && !FWasStopped && !reader->Eof()) {
                    FWasStopped = true;
                    FHooks.Log(logtext::Line(txt::Id::StoppedByUser));
                }
                // What a stop left undone, for the command line's summary.
                while (FWasStopped && !reader->Eof()) {
                    reader->ReadEntry(entry);
                    FNotReached += IsSkippedEntry(entry) ? 0 : 1;
                }
                break;
            }
        }
    } catch (const std::exception& e) {
        error = logtext::FailureLine(e);
        FFailed = true;
    }

    reader.reset();
    FRunning = false;
    FHooks.Log(logtext::Line(txt::Id::BatchDone));
    if (FHooks.Finished)
        FHooks.Finished();
    if (error) {
        FHooks.Log(*error);
        FHooks.Log(logtext::Line(txt::Id::BatchCannotStart));
    }
}

bool TPlaylistDecodeJob::DecodeEntry(TZoKpiDriver& driver, const std::string& playlist,
                                     const TZoKbmPlayListEntry& entry, const DecodeSetting& setting,
                                     const SoundFormat& requested)
{
    if (!entry.ArchiveItem.empty()) {
        // The log is in the system code page; a playlist from Windows is not.
        FHooks.Log(
            logtext::Line(txt::Id::ArchiveSkipped, {platform::SystemTextOf(entry.FileName)}));
        ++FSkippedEntries;
        return true;
    }
    if (entry.FileName.find("::AudioCD::") != std::string::npos) {
        FHooks.Log(logtext::Line(txt::Id::CdAudioSkipped));
        ++FSkippedEntries;
        return true;
    }
    // The log shows the file as it was found here, so that the user can go and look at it;
    // the tags stay the playlist's own bytes.
    const PlaylistEntryNames names =
        ResolvePlaylistEntryNames(entry.FileName, playlist, EntryFolder);

    SongDecodeRequest request;
    request.Source = names.Source;
    request.Output = names.Output;
    request.SongNumber = names.SongNumber;
    request.Setting = setting;
    request.Requested = requested;
    request.Tags.Title = entry.Title;
    request.Tags.Artist = entry.Artist;
    request.Playlist = playlist;
    PreparedSongDecode prepared;
    try {
        prepared = PrepareSongDecode(driver, request, FHooks.Log);
    } catch (const std::exception& e) {
        FFailed = true;
        ++FFailedEntries;
        LogFailure(FHooks.Log, e);
        FHooks.Log(logtext::Line(txt::Id::DecodeFailed));
        return false;
    }
    if (FHooks.EntryStarted)
        FHooks.EntryStarted(prepared.TotalMs);

    // Destroyed here once the entry has ended, before the next one starts.
    std::unique_ptr<TZoKpiFileDecoderThread> thread = std::move(prepared.Thread);
    const uint32_t totalMs = prepared.TotalMs;
    thread->OnProgress = [this, totalMs](TZoSong& song) {
        if (FHooks.Progress)
            FHooks.Progress(song.Position(), totalMs);
    };
    TZoKpiFileDecoderThread* raw = thread.get();
    thread->OnTerminate = [this, raw] { MultiDecodeTerminate(*raw); };
    FDecoderThread = raw;
    FBatchStopped = false;
    FEntryFinished = false;
    thread->Start();

    // Wait for the entry's end or a stop; the window's events go on meanwhile.
    FLoop.RunUntil([this] { return FEntryFinished || FBatchStopped; });

    FDecoderThread = nullptr;
    if (FBatchStopped && FStopTookEffect) {
        FWasStopped = true;
        FInterrupted = 1;
        if (FHooks.Stopped)
            FHooks.Stopped();
        FHooks.Log(logtext::Line(txt::Id::StoppedByUser));
        FHooks.Log(logtext::Line(txt::Id::FileDeleted));
        thread.reset(); // deletes the stopped entry's file
        return false;
    }
    if (raw->FatalMessage().empty()) {
        ++FDecoded;
    } else {
        FFailed = true;
        ++FFailedEntries;
    }
    thread.reset(); // closes the finished file
    if (FBatchStopped) {
        // The stop came after the entry had finished: its file stays, and the batch ends.
        if (FHooks.Stopped)
            FHooks.Stopped();
        return false;
    }
    return true;
}

void TPlaylistDecodeJob::MultiDecodeTerminate(TZoKpiFileDecoderThread& thread)
{
    FEntryFinished = true;
    // A run that ended by an error keeps what it wrote, but is not reported as a success.
    LogRunError(FHooks.Log, thread);
    FHooks.Log(logtext::Line(txt::Id::DecodeDone));
    FLoop.Wake();
}

void TPlaylistDecodeJob::Stop()
{
    if (!FRunning || FDecoderThread == nullptr || FBatchStopped)
        return;
    FStopTookEffect = FDecoderThread->RequestStop();
    FDecoderThread->WaitFor(); // its last progress and its end run meanwhile
    FBatchStopped = true;
    FLoop.Wake();
}
