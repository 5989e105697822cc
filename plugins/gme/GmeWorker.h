// Runs libgme for one song in a child process of the host.
//
// Debian's libgme keeps its assertions, and a damaged file can make it fail one, crash or run
// without end. In a child process that costs the song, not the host: a child that dies or
// stops answering fails the open or ends the song early. The child is forked without a new
// program image, so the plug-in stays one file; after the fork it runs only this plug-in's
// code and libgme, which need nothing but memory and the file.
#pragma once

#include "plugins/gme/GmeMapping.h"

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace gmekpi {

class GmeWorker {
public:
    GmeWorker() = default;
    GmeWorker(const GmeWorker&) = delete;
    GmeWorker& operator=(const GmeWorker&) = delete;
    // Kills and reaps the child.
    ~GmeWorker();

    // Why a start failed; detail is libgme's reason, or how the child ended.
    enum class Failure { None, System, WrongType, Refused, TimedOut, Died };
    // Starts the child, which opens path at rate and starts the first track.
    Failure Start(const char* path, int32_t rate, GmeFileFacts& facts, std::string& detail);
    // The texts of track index (0-based): song, author, game, copyright, comment; empty when
    // the child has failed.
    std::vector<std::string> TrackTexts(int32_t index);
    bool StartTrack(int32_t index);
    bool Seek(uint32_t ms);
    // Up to frames stereo frames of native 16-bit samples into out; 0 when the track has ended
    // or the child has failed.
    uint32_t Play(int16_t* out, uint32_t frames);

private:
    bool Ask(uint32_t op, uint32_t value, int timeoutMs, int32_t& answer);
    bool Receive(void* data, size_t size, int timeoutMs);
    void Stop();

    pid_t FPid = -1;
    int FSocket = -1;
    // How the child failed, once it has: it did not answer in time, or it ended ("signal 6").
    bool FTimedOut = false;
    std::string FEnd;
};

} // namespace gmekpi
