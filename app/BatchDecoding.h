// Many files converted at once: every input, every song or some songs of a multi-song file, a
// number of decoder threads side by side. Shared by the command line's batch form and its
// playlist form when it runs several jobs.
//
// Threads: everything here runs on the main thread, which schedules the songs and serves the
// decoder threads' calls through the main-thread loop. Each song has its own decoder thread,
// owned by the job from its start until the job has handled its end. A plug-in that cannot open
// another song at the moment (one that is not reentrant and has a song open) is never asked to:
// its songs wait for it. The songs of a multi-song file are planned one at a time as they start,
// so that memory does not grow with the number of songs a file claims.
#pragma once

#include "app/MainThreadLoop.h"
#include "app/SongDecoding.h"
#include "platform/PartFiles.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class TZoKpi;
class TZoKpiDriver;

// Which songs of a file a batch converts.
struct SongSelection {
    enum class Kind {
        First, // the file as one song (song 1 of a multi-song file) into the input's Output
        Exact, // song First into the input's Output, as a playlist entry "name::n" names it
        All,   // every song of a multi-song file
        Range, // songs First to Last of a multi-song file (one song when they are equal)
    } What = Kind::First;
    uint32_t First = 1, Last = 1;
};

// One input of a batch: a file whose songs are to be converted. Output is where its song goes
// when it holds one song ("name.wav"); the songs of a multi-song file go beside it as
// "name[n].wav".
struct BatchInput {
    std::string Source;
    std::string Output;
    SongSelection Songs;
    TZoWavTagInfo Tags;
};

struct BatchCounts {
    int Converted = 0;
    int Failed = 0;
    int Skipped = 0;
    int Running = 0;
    // The songs known so far: done, running and still to start. A multi-song file counts as
    // one song until it is opened, when its songs become known.
    int Total = 0;
    // Songs a stop ended halfway; and, valid once the batch has ended, songs never started.
    int Interrupted = 0;
    int NotReached = 0;
    // Song time, for the estimate of the time left: rendered by the songs converted, rendered
    // so far by the running ones, and still to render by them.
    uint64_t ConvertedMs = 0;
    uint64_t RunningMs = 0;
    uint64_t RunningLeftMs = 0;
};

// Seconds until the batch is done, from the song time rendered per second of the elapsed
// seconds, the running songs' remaining time and, for each song still to start, the average
// length of those converted. None until a song has converted.
std::optional<double> EstimateSecondsLeft(const BatchCounts& counts, double elapsedSeconds);

class TBatchDecodeJob {
public:
    struct Options {
        unsigned Jobs = 1;
        DecodeSetting Setting;
        SoundFormat Requested{};
        // An existing output is skipped with a warning unless this is set.
        bool Overwrite = false;
        // A song that cannot start ends the batch: no further song starts and the running ones
        // finish (the playlist's rule). Otherwise the batch goes on with the next.
        bool StopAtFirstFailure = false;
        // Each line names the song it belongs to, as lines of several songs meet in one log.
        bool LabelLines = true;
        // A file that no output may replace (the playlist being read), besides each song's source.
        std::string Protected;
        // Nothing is written and no plug-in renders: each song that would be converted is
        // logged (multi-song files are still opened, to count their songs), as is each output
        // that would be skipped, and counted as if converted.
        bool DryRun = false;
        // Each song is written as a part file that takes its output's name only once the song
        // has converted completely (the batch form): a failed or stopped song leaves nothing
        // under its name, and an existing output is only ever replaced by a complete one. Part
        // files left in the outputs' folders by a run that was killed are removed at the start.
        // Without it, a failed song keeps what it wrote and a stopped one is deleted (the
        // playlist's rule).
        bool ThroughPartFiles = false;
    };
    // A multi-song file of more songs than this is converted only when a range names its songs.
    static constexpr uint32_t kMostSongsOfAllSongs = 10000;
    struct Hooks {
        LogFunction Log;
        // The counts changed, or a song made progress; for a status line.
        std::function<void(const BatchCounts&)> Status;
    };

    TBatchDecodeJob(IMainThreadLoop& loop, Hooks hooks) : FLoop(loop), FHooks(std::move(hooks)) {}
    ~TBatchDecodeJob();

    // Converts every input; returns when all are done, or when a stop or a failure (with
    // StopAtFirstFailure) has ended the batch and every running song has ended.
    void Run(TZoKpiDriver& driver, std::vector<BatchInput> inputs, const Options& options);
    // Stops every running song (their files are deleted) and starts no further one. Returns
    // whether anything was stopped or left undone.
    bool Stop();

    const BatchCounts& Counts() const { return FCounts; }
    bool WasStopped() const { return FWasStopped; }
    // A song could not start and ended the batch (StopAtFirstFailure).
    bool EndedByFailure() const { return FEndedByFailure; }

private:
    struct Song {
        std::string Source;
        std::optional<uint32_t> SongNumber;
        std::string Output;
        TZoWavTagInfo Tags;
        std::string Label;
    };
    struct Running {
        Song What;
        std::string OutputKey;                    // the output as the file system compares names
        std::unique_ptr<platform::PartFile> Part; // valid only with ThroughPartFiles
        std::unique_ptr<TZoKpiFileDecoderThread> Thread;
        bool Ended = false;
        uint32_t PositionMs = 0; // as last reported by its thread
        uint32_t TotalMs = 0;    // the length its progress is measured against
    };
    // An input whose songs have not all started. Its songs are known once it is planned: one
    // song (Single), or the songs Next to Last of a multi-song file, taken one at a time.
    struct Pending {
        BatchInput Input;
        bool Planned = false;
        bool Multi = false;
        std::optional<uint32_t> Single;
        uint32_t Next = 0, Last = 0;
    };
    enum class Plan { Ready, Busy, Refused };

    // Starts the next song whose plug-in and output are free; false when none can start now.
    bool StartOne();
    // Finds out which songs an input has; Busy when that needs a plug-in that is busy now.
    Plan PlanSongs(Pending& input);
    Song NextSong(const Pending& input) const;
    void StartSong(const Song& song);
    // With DryRun: logs what the song would become; false when it would fail to start.
    bool DryRunSong(const Song& song);
    void SweepPartFiles(const std::vector<BatchInput>& inputs);
    void Reap(); // the threads whose end was handled
    void Finish(Running& running);
    void Log(const Song& song, const LogLine& line);
    void Report();
    bool Busy(const TZoKpi* plugin, const std::string& output) const;

    IMainThreadLoop& FLoop;
    Hooks FHooks;
    TZoKpiDriver* FDriver = nullptr;
    Options FOptions;
    std::deque<Pending> FInputs; // inputs with songs still to start, in order
    int FSongsToStart = 0;       // their songs, as far as known (see BatchCounts::Total)
    std::vector<std::unique_ptr<Running>> FRunning;
    BatchCounts FCounts;
    bool FStopping = false;
    bool FWasStopped = false;
    bool FEndedByFailure = false;
};

// The output of song n of a multi-song file whose own output would be output: "name[n].wav".
std::string SongOutputName(const std::string& output, uint32_t songNumber);
