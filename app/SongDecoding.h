// The start of one song's decode, shared by the single-file tab, the playlist tab and the
// command-line converter: open the song through the right plug-in, log it, check it, choose the
// song of a multi-song file, and make the decoder thread with the fade-out it needs. Also the
// single-file decode itself: start, stop, progress and end.
#pragma once

#include "app/DecodeSettings.h"
#include "app/LogLines.h"
#include "decoder/kpiFileDecoderThread.h"
#include "kpi/KpiSongInfo.h"
#include "platform/Errors.h"
#include "platform/FileSystem.h"
#include "platform/StandardStreams.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

class TZoKpiDriver;
class TZoSong;

// Milliseconds as "mm:ss.fff"; minutes take as many digits as they need.
std::string FormatPlayTime(uint32_t ms);

// The tags of the WAV file: the request's own texts (a playlist entry's title and artist) field
// by field, and the song's own information where they are empty.
TZoWavTagInfo MergeSongTags(const TZoWavTagInfo& given, const TZoSongInfo& song);

struct SongDecodeRequest {
    std::string Source; // as given: it is logged and handed to the plug-in unchanged
    std::string Output; // used as given: no extension is added
    // The WAV goes to standard output, as taken over by the program (the decoder thread closes
    // it); Output is not used then. Its File is nullptr when standard output was closed.
    std::optional<platform::TakenOutput> StandardOutput;
    // The file the decoder writes, when it is not Output itself: the batch writes a part file
    // that takes Output's name once it is complete. Output is still the name checked and logged.
    std::string WriteTo;
    std::optional<uint32_t> SongNumber; // used only for a multi-song file; none: the first
    std::string Playlist;               // the playlist being decoded, which no output may replace
    DecodeSetting Setting;
    SoundFormat Requested{};
    TZoWavTagInfo Tags; // the song's own information fills the fields left empty
};

struct PreparedSongDecode {
    std::unique_ptr<TZoKpiFileDecoderThread> Thread; // suspended
    uint32_t TotalMs = 0;                            // the length the progress is measured against
};

// Opens the song and makes its decoder thread, logging the start lines. Throws EZoError with
// the line to log (and its reason, when one is known) when the decode cannot start; the song is
// released then, and no file is left behind. A source that is missing, unreadable or no regular
// file (a named pipe would block the plug-in for ever) is refused before any plug-in sees it.
PreparedSongDecode PrepareSongDecode(TZoKpiDriver& driver, const SongDecodeRequest& request,
                                     const LogFunction& log);

// One song decoded into one file, with a stop. The job owns the decode's thread: it learns the
// end on the main thread from the thread's end handler, and right after that handler destroys
// the thread, which completes the file, or deletes it after a stop, and releases the song.
class TSingleDecodeJob {
public:
    struct Hooks {
        LogFunction Log;
        std::function<void(uint32_t totalMs)> Started; // the thread is about to run
        std::function<void(uint32_t positionMs, uint32_t totalMs)> Progress;
        std::function<void()> Ended; // after the end was logged; the thread is going away
    };

    explicit TSingleDecodeJob(Hooks hooks) : FHooks(std::move(hooks)) {}
    // Stops a decode still running and waits until its thread is gone.
    ~TSingleDecodeJob();

    // Starts the decode. False when it could not start; the reason and the failure line are
    // logged.
    bool Start(TZoKpiDriver& driver, const SongDecodeRequest& request);
    // The stop request: the thread ends after the block in hand and its file is deleted. False
    // when there was nothing to stop: no decode runs, or its run had already finished, in which
    // case the file stays complete.
    bool Stop();
    // Stops the decode, if any, and waits until its thread has ended and is gone, serving its
    // calls onto the main thread meanwhile.
    void StopAndWait();
    // From Start until the end has been handled.
    bool Running() const { return FRunning; }
    // Whether the decode's thread still exists (it outlives its end handler briefly).
    bool ThreadAlive() const { return FDecoderThread != nullptr; }
    // How the last decode ended: it ran to its end (true), or was stopped or failed (false).
    bool Succeeded() const { return FSucceeded; }

private:
    void Terminated(TZoKpiFileDecoderThread& thread); // main thread, the worker waiting
    void ReleaseThread();                             // main thread

    Hooks FHooks;
    std::unique_ptr<TZoKpiFileDecoderThread> FDecoderThread;
    uint32_t FTotalMs = 0;
    bool FRunning = false;
    bool FStopped = false;
    bool FSucceeded = false;
    bool FWaitingForThread = false; // StopAndWait is inside the thread's WaitFor
    bool FToStandardOutput = false; // the decode's WAV goes to standard output
    // Lets a release posted from the end handler know whether the job still exists.
    std::shared_ptr<int> FAlive = std::make_shared<int>(0);
};

// Logs a failure's message, and under it the reason when the failure gives one.
void LogFailure(const LogFunction& log, const std::exception& failure);
// Logs the error that ended a decode's run, if one did, with its reason under it.
void LogRunError(const LogFunction& log, const TZoKpiFileDecoderThread& thread);

// Lines that more than one flow logs, filled in.
namespace logtext {
// "エラー: %s は通常のファイルではありません (kind)", for a source that is a folder, a named
// pipe, a device or a socket.
std::string NotARegularFileLine(const std::string& path, platform::FileKind kind);
// "エラー: ファイル %s を開けませんでした (reason)".
std::string CannotOpenLine(const std::string& path, const std::string& reason);
// Why path cannot be decoded, as the line that says so; "" when it is a regular file that opens
// for reading.
std::string InputFileProblemLine(const std::string& path);
} // namespace logtext
