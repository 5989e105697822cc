// One game-music file in libgme, played as 16-bit stereo at a chosen rate. It runs inside the
// worker process (GmeWorker.h), never in the host.
#pragma once

#include "plugins/gme/GmeMapping.h"

#include <cstdint>
#include <string>
#include <vector>

struct Music_Emu;

namespace gmekpi {

class GmeEmulator {
public:
    GmeEmulator() = default;
    GmeEmulator(const GmeEmulator&) = delete;
    GmeEmulator& operator=(const GmeEmulator&) = delete;
    ~GmeEmulator();

    // Loads path and starts its first track; false when libgme cannot read or start it, with
    // libgme's reason in error.
    bool Open(const char* path, int32_t rate, GmeFileFacts& facts, std::string& error);
    // The texts of track index (0-based) that libgme knows: song, author, game, copyright,
    // comment; empty where there are none.
    std::vector<std::string> TrackTexts(int32_t index);
    // Starts track index (0-based) from its beginning.
    bool StartTrack(int32_t index);
    // Moves within the current track.
    bool Seek(int32_t ms);
    // Up to frames stereo frames into out; 0 once the track has ended.
    uint32_t Play(int16_t* out, uint32_t frames);

private:
    Music_Emu* FEmu = nullptr;
    int32_t FTrack = -1;
    bool FPlayed = false; // whether the current track has played since its start
};

} // namespace gmekpi
