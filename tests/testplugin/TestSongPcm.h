// The PCM that the test plug-in renders, shared with the tests so that they can compute the
// bytes they expect in a WAV file.
#pragma once

#include <cstdint>
#include <cstring>

namespace testkpi {

enum class Pattern : uint32_t {
    Ramp = 0,  // a value that changes with frame, channel and song
    Const = 1, // every sample holds ConstValue
};

// One sample of the stream, already cut to the sample's width (little-endian two's
// complement for 16, 24 and 32 bits, unsigned for 8).
inline int64_t SampleValue(Pattern pattern, int64_t constValue, uint64_t frame, uint32_t channel,
                           uint32_t song)
{
    if (pattern == Pattern::Const)
        return constValue;
    return static_cast<int64_t>(frame * 3 + channel * 1000 + song * 7919);
}

// Writes size bytes of the stream starting at byte offset of the whole song.
inline void Generate(uint8_t* out, uint64_t offset, uint32_t size, uint32_t channels, uint32_t bits,
                     uint32_t song, Pattern pattern, int64_t constValue)
{
    const uint32_t bytesPerSample = bits / 8;
    if (bytesPerSample == 0 || channels == 0) {
        std::memset(out, 0, size);
        return;
    }
    const uint64_t frameSize = uint64_t(bytesPerSample) * channels;
    uint64_t frame = offset / frameSize;
    uint32_t skip = static_cast<uint32_t>(offset % frameSize);
    uint8_t frameBytes[64 * 4];
    uint32_t written = 0;
    const bool smallFrame = frameSize <= sizeof frameBytes;
    while (written < size) {
        if (!smallFrame) {
            std::memset(out + written, 0, size - written);
            return;
        }
        for (uint32_t c = 0; c < channels; ++c) {
            uint64_t v = static_cast<uint64_t>(SampleValue(pattern, constValue, frame, c, song));
            for (uint32_t b = 0; b < bytesPerSample; ++b)
                frameBytes[c * bytesPerSample + b] = static_cast<uint8_t>(v >> (8 * b));
        }
        const uint32_t take = static_cast<uint32_t>(
            frameSize - skip < size - written ? frameSize - skip : size - written);
        std::memcpy(out + written, frameBytes + skip, take);
        written += take;
        skip = 0;
        ++frame;
    }
}

} // namespace testkpi
