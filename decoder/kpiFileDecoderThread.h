// Renders one opened song into one WAV file on a worker thread: block by block through the
// effectors into the file's data chunk, with a progress report to the main thread about once
// per second of song time. A run ended by a stop request leaves no file behind (a stream on
// standard output, which cannot be taken back, is marked as cut short instead).
//
// Threads: the owner (the main thread) constructs the object, sets its properties, starts it,
// may ask it to stop, and destroys it once the run has ended. The worker alone renders, runs the
// effectors and writes the file. Whether a stop deletes the file is settled by one atomic
// exchange between RequestStop and the worker's end of the run, so that the owner learns
// exactly which of the two came first.
#pragma once

#include "decoder/WavFile.h"
#include "decoder/kpiEffector.h"
#include "platform/WorkerThread.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class TZoSong;

class TZoKpiFileDecoderThread : public platform::WorkerThread {
public:
    // Takes the song over, creates the file and writes the header. On failure (a format that
    // does not fit the header's 16-bit fields, or a file that cannot be created) it throws, and
    // the song has been released; no file is left.
    TZoKpiFileDecoderThread(std::unique_ptr<TZoSong> song, const std::string& fileName);
    // The same into standard output, taken over (platform::TakeStandardOutput): a stream that
    // nothing can delete, so a stop or a failure leaves it marked as cut short instead. name
    // stands for it in messages.
    TZoKpiFileDecoderThread(std::unique_ptr<TZoSong> song, std::FILE* stream, bool seekable,
                            const std::string& name);
    // Closes the file, deletes it when the run was stopped, then releases the song and the
    // effectors. A run still going is stopped and waited for first.
    ~TZoKpiFileDecoderThread() override;

    // Main thread, with the worker waiting; read the song's Position here.
    std::function<void(TZoSong&)> OnProgress;
    TZoWavTagInfo TagInfo;
    // Applied to every block in this order.
    std::vector<std::unique_ptr<TZoKpiEffector>> Effectors;
    // The largest file the run may produce; a RIFF file cannot describe more. Lowered by tests.
    uint64_t FileSizeLimit = WavFileWriter::kMaxFileSize;

    TZoSong& Song() { return *FSong; }
    const std::string& FileName() const { return FFileName; }
    // The file the constructor created: FileName with every symbolic link followed. This is the
    // file a stop deletes, never a link that led to it.
    const std::string& CreatedPath() const { return FCreatedPath; }

    // The stop request (main thread). True when it will stop the run, whose file is then
    // deleted at destruction; false when the run had already finished and keeps its file.
    bool RequestStop();
    // Whether the run ended on a stop request (its file is then deleted at destruction), or a
    // stop request kept the run from starting. Valid once the run has ended.
    bool Aborted() const { return FAborted || FStopState.load() == kStopRequested; }

protected:
    void Execute() override;

private:
    // Appends length bytes to the data chunk, failing when the file would outgrow its limit or
    // the write does not succeed.
    void WriteBlock(const uint8_t* bytes, size_t length, uint64_t tailSize);
    [[noreturn]] void ThrowNotWritten() const;

    void Create(const WavFormatRecord& format, std::FILE* stream, bool seekable);
    // Worker thread: ends the WAV of a run that ended early; see WavFileWriter::EndIncomplete.
    void EndIncomplete();

    // Decided once per run: the worker's end and a stop request race for it.
    enum StopState : int { kRunning, kStopRequested, kFinished };
    // Worker thread: settles the race; true when a stop request came first.
    bool StoppedBeforeTheEnd();

    std::unique_ptr<TZoSong> FSong;
    WavFileWriter FWav;
    bool FAborted = false;
    std::atomic<int> FStopState{kRunning};
    std::string FFileName;
    std::string FCreatedPath;
    bool FToStream = false; // standard output rather than a file of FFileName
    // The file's place in the list an emergency exit deletes; -1 once it is complete.
    int FInProgress = -1;
};
