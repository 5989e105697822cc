// A KBM playlist decoded entry by entry into WAV files beside their sources, shared by the
// playlist tab and the command-line converter. Each entry goes through the same per-song start
// as a single file; the batch waits for each entry on the program's main-thread loop, which
// wakes as soon as the entry's thread ends, so that the window keeps working and can stop the
// batch. The job owns each entry's thread and destroys it before the next entry starts.
#pragma once

#include "app/MainThreadLoop.h"
#include "app/SongDecoding.h"
#include "platform/FileSystem.h"

#include <optional>
#include <string>

struct TZoKbmPlayListEntry;

// What an entry's file name turns into: "name.ext" gives name.wav; "name.ext::n" gives song n
// of name.ext and "name[n].wav".
struct PlaylistEntryNames {
    std::string Source;
    std::optional<uint32_t> SongNumber;
    std::string Output;
};
// Fails with the conversion's message when the text after "::" is not a number of 0 or more.
PlaylistEntryNames DerivePlaylistEntryNames(const std::string& fileName);
// The same names for the file as this system finds it: the source is resolved as a path that
// may have been written on Windows (drive letters, backslashes, Shift_JIS, any letter case),
// and the output lies beside the resolved source. A relative source is looked for beside the
// playlist first, and only when it is not there as written, taken from folder (where the
// program started). A source that resolves to nothing keeps the text that was looked for.
PlaylistEntryNames ResolvePlaylistEntryNames(const std::string& fileName,
                                             const std::string& playlist,
                                             const std::string& folder);

class TPlaylistDecodeJob {
public:
    struct Hooks {
        LogFunction Log;
        std::function<void()> Running; // the batch has started
        std::function<void(uint32_t totalMs)> EntryStarted;
        std::function<void(uint32_t positionMs, uint32_t totalMs)> Progress;
        std::function<void()> Stopped;  // a stop ended the batch
        std::function<void()> Finished; // the batch is over, however it ended
    };

    TPlaylistDecodeJob(IMainThreadLoop& loop, Hooks hooks) : FLoop(loop), FHooks(std::move(hooks))
    {}

    // Decodes every entry of playlist with one setting; returns when the batch is over.
    void Run(TZoKpiDriver& driver, const std::string& playlist, const DecodeSetting& setting,
             const SoundFormat& requested);
    // The stop: waits until the current entry's thread has ended, serving its calls to the
    // main thread meanwhile; the batch then ends and the entry's file is deleted.
    void Stop();
    bool Running() const { return FRunning; }

    // The folder that relative entries are taken from: the folder the program started in,
    // wherever a plug-in has moved the current folder since.
    std::string EntryFolder = platform::LaunchFolder();

    // How the last batch went, for callers that report a result.
    int Decoded() const { return FDecoded; }
    bool Failed() const { return FFailed; }
    // A stop ended the batch with something left undone: an entry's file deleted, or entries
    // not started.
    bool WasStopped() const { return FWasStopped; }
    // For a summary: entries that failed to start or whose run failed, entries skipped
    // (archives, CD audio), the entry a stop ended halfway (0 or 1), and the entries after it
    // that a stop left unread.
    int FailedEntries() const { return FFailedEntries; }
    int SkippedEntries() const { return FSkippedEntries; }
    int Interrupted() const { return FInterrupted; }
    int NotReached() const { return FNotReached; }

private:
    void MultiDecodeTerminate(TZoKpiFileDecoderThread& thread); // main thread
    // Decodes one entry; false when the batch must end.
    bool DecodeEntry(TZoKpiDriver& driver, const std::string& playlist,
                     const TZoKbmPlayListEntry& entry, const DecodeSetting& setting,
                     const SoundFormat& requested);

    IMainThreadLoop& FLoop;
    Hooks FHooks;
    // The current entry's thread, owned by DecodeEntry; set only while it waits for the entry.
    TZoKpiFileDecoderThread* FDecoderThread = nullptr;
    bool FRunning = false;
    bool FEntryFinished = false;
    bool FBatchStopped = false;   // a stop was asked for during this batch
    bool FStopTookEffect = false; // valid once FBatchStopped: it stopped the entry's run
    bool FWasStopped = false;
    bool FFailed = false;
    int FDecoded = 0;
    int FFailedEntries = 0, FSkippedEntries = 0, FInterrupted = 0, FNotReached = 0;
};
