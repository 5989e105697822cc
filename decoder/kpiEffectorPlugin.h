// The fade-out: a linear fade that starts at a song position, runs for a given time and ends
// the output at the frame where the gain reaches zero.
#pragma once

#include "decoder/kpiEffector.h"

#include <cstdint>

class TZoKpiFader : public TZoKpiEffector {
public:
    TZoKpiFader(uint32_t fadeStartMs, uint32_t fadeLengthMs)
        : FadeStart(fadeStartMs), FadeLength(fadeLengthMs)
    {}

    // Blocks that end before FadeStart pass untouched. From the first block that reaches it,
    // every frame is scaled by Gain, which falls by Step per frame; the block is cut after the
    // frame whose scaling brought Gain to 0. A fade of no whole frame ends the output at the
    // first block that reaches FadeStart, before its first frame.
    int32_t Process(TZoSong& song, uint8_t* buffer, int32_t length) override;
    // Silence is reached: the frame that brought Gain to 0 was the last one to write. A block of
    // one frame or less never comes back short, so this is what ends such a decode.
    bool OutputEnded() const override { return Gain == 0; }

    // Frames of a fade of fadeLengthMs at sampleRate: sampleRate x (fadeLengthMs / 1000),
    // divided first and taken in extended precision, truncated.
    static uint64_t FadeFrames(uint32_t sampleRate, uint32_t fadeLengthMs);

    uint32_t FadeStart;          // ms
    uint32_t FadeLength;         // ms
    uint32_t Gain = 0xFFFFFFFFu; // a fraction of 2^32; only falls
    uint32_t Step = 0;           // recomputed by every call that fades
};
