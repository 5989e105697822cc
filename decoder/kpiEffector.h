// Effectors change each rendered block in place before it is written, and may shorten it; a
// shortened block ends the decode.
#pragma once

#include <cstdint>

class TZoSong;

class TZoKpiEffector {
public:
    virtual ~TZoKpiEffector() = default;
    // Decoder thread. Transforms the first length bytes of buffer in place and returns how many
    // bytes from its start are to be written (0 to length). The song's Position is the position
    // at the end of the block.
    virtual int32_t Process(TZoSong& song, uint8_t* buffer, int32_t length) = 0;
    // Decoder thread, after Process: the output has ended with the block just processed, so
    // no further block is to be rendered, however long the block was.
    virtual bool OutputEnded() const { return false; }
};
