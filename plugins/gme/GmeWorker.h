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

namespace gmekpi {

class GmeWorker {
public:
    GmeWorker() = default;
    GmeWorker(const GmeWorker&) = delete;
    GmeWorker& operator=(const GmeWorker&) = delete;
    // Kills and reaps the child.
    ~GmeWorker();

    // Starts the child, which opens path at rate and starts the first track.
    bool Start(const char* path, int32_t rate, GmeFileFacts& facts);
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
};

} // namespace gmekpi
