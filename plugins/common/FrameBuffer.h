// Turns a decoder that delivers whole frames into Render calls of any byte count. The host asks
// for UnitRenderSize bytes, which the plug-ins keep frame-aligned, but a host may ask for any
// size; a frame split between two calls is kept here rather than lost, and only the end of the
// song gives a short render.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace kpiplugin {

class FrameBuffer {
public:
    FrameBuffer(uint32_t frameBytes, uint32_t blockFrames)
        : FFrameBytes(frameBytes), FBlockFrames(blockFrames),
          FBlock(static_cast<size_t>(frameBytes) * blockFrames)
    {}

    // Fills out with size bytes, or fewer when decode reports the end. decode(block, maxFrames)
    // writes up to maxFrames frames of output into block and returns how many; 0 means the
    // song has ended.
    template <class Decode> uint32_t Read(uint8_t* out, uint32_t size, Decode&& decode)
    {
        uint32_t done = 0;
        while (done < size) {
            if (FPos == FFill) {
                FPos = 0;
                FFill = 0;
                const uint32_t frames = std::min(decode(FBlock.data(), FBlockFrames), FBlockFrames);
                if (frames == 0)
                    break;
                FFill = frames * FFrameBytes;
            }
            const uint32_t n = std::min(FFill - FPos, size - done);
            std::memcpy(out + done, FBlock.data() + FPos, n);
            FPos += n;
            done += n;
        }
        return done;
    }

    // Drops what was decoded but not yet handed out, for a new position or song.
    void Clear() { FPos = FFill = 0; }

private:
    uint32_t FFrameBytes;
    uint32_t FBlockFrames;
    std::vector<uint8_t> FBlock;
    uint32_t FPos = 0;
    uint32_t FFill = 0;
};

} // namespace kpiplugin
