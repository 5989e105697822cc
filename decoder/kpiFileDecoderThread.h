// Renders one opened song into one WAV file on a worker thread: block by block through the
// effectors into the file's data chunk, with a progress report to the main thread about once
// per second of song time. A run ended by a stop request leaves no file behind.
#pragma once

#include "decoder/WavFile.h"
#include "decoder/kpiEffector.h"
#include "platform/WorkerThread.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class TZoSong;

// Title and artist written as the INAM and IART tags; bytes as given, no conversion.
struct TZoWavTagInfo {
    std::string Title;
    std::string Artist;
};

class TZoKpiFileDecoderThread : public platform::WorkerThread {
public:
    // Takes the song over, creates the file and writes the header. On failure (a format that
    // does not fit the header's 16-bit fields, or a file that cannot be created) it throws, and
    // the song has been released; no file is left.
    TZoKpiFileDecoderThread(std::unique_ptr<TZoSong> song, const std::string& fileName);
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
    // Whether the run ended on a stop request (its file is then deleted at destruction).
    bool Aborted() const { return FAborted; }

protected:
    void Execute() override;

private:
    // Appends length bytes to the data chunk, failing when the file would outgrow its limit or
    // the write does not succeed.
    void WriteBlock(const uint8_t* bytes, size_t length, uint64_t tailSize);

    std::unique_ptr<TZoSong> FSong;
    WavFileWriter FWav;
    bool FAborted = false;
    std::string FFileName;
};
