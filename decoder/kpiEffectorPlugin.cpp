#include "decoder/kpiEffectorPlugin.h"

#include "kpi/KpiSong.h"
#include "platform/Errors.h"

namespace {

// Scales the whole frames of one block. Width is the sample size in bytes; each sample s
// becomes floor(s * gain / 2^32), which always fits the sample's own width. Returns the bytes
// to keep.
template <unsigned Width>
int32_t FadeFramesOfBlock(uint8_t* buffer, int32_t length, uint32_t channels, uint32_t& gain,
                          uint32_t step)
{
    const uint32_t frameSize = Width * channels;
    if (frameSize == 0 || length <= 0)
        return length;
    const uint32_t wholeFrames = static_cast<uint32_t>(length) / frameSize;
    uint8_t* p = buffer;
    for (uint32_t frame = 0; frame < wholeFrames; ++frame) {
        const int64_t g = gain;
        for (uint32_t c = 0; c < channels; ++c, p += Width) {
            if constexpr (Width == 2) {
                const int16_t s = static_cast<int16_t>(p[0] | (p[1] << 8));
                const int64_t r = (s * g) >> 32;
                p[0] = static_cast<uint8_t>(r);
                p[1] = static_cast<uint8_t>(r >> 8);
            } else if constexpr (Width == 3) {
                const int32_t s =
                    static_cast<int32_t>(
                        (uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16) << 8) >>
                    8;
                const int64_t r = (s * g) >> 32;
                p[0] = static_cast<uint8_t>(r);
                p[1] = static_cast<uint8_t>(r >> 8);
                p[2] = static_cast<uint8_t>(r >> 16);
            } else {
                const int32_t s = static_cast<int32_t>(uint32_t(p[0]) | uint32_t(p[1]) << 8 |
                                                       uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24);
                const int64_t r = (s * g) >> 32;
                p[0] = static_cast<uint8_t>(r);
                p[1] = static_cast<uint8_t>(r >> 8);
                p[2] = static_cast<uint8_t>(r >> 16);
                p[3] = static_cast<uint8_t>(r >> 24);
            }
        }
        if (step != 0)
            gain = step > gain ? 0 : gain - step;
        if (gain == 0)
            return static_cast<int32_t>((frame + 1) * frameSize);
    }
    return length;
}

} // namespace

uint64_t TZoKpiFader::FadeFrames(uint32_t sampleRate, uint32_t fadeLengthMs)
{
    const long double seconds = static_cast<long double>(fadeLengthMs) / 1000.0L;
    return static_cast<uint64_t>(static_cast<long double>(sampleRate) * seconds);
}

int32_t TZoKpiFader::Process(TZoSong& song, uint8_t* buffer, int32_t length)
{
    if (song.Position() < FadeStart)
        return length;
    const uint64_t frames = FadeFrames(song.Format.SampleRate, FadeLength);
    // A fade of no whole frame (a fade-out length of 0) is no fade: the output ends where the
    // fade would have begun, as every setting editor allows 0.
    if (frames == 0) {
        Gain = 0;
        return 0;
    }
    Step = static_cast<uint32_t>(0xFFFFFFFFull / frames);
    switch (song.Format.BitsPerSample) {
    case 16:
        return FadeFramesOfBlock<2>(buffer, length, song.Format.Channels, Gain, Step);
    case 24:
        return FadeFramesOfBlock<3>(buffer, length, song.Format.Channels, Gain, Step);
    case 32:
        return FadeFramesOfBlock<4>(buffer, length, song.Format.Channels, Gain, Step);
    default:
        throw EZoError("Unexpected sample bit-depth");
    }
}
