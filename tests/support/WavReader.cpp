#include "tests/support/WavReader.h"

#include <sndfile.h>

namespace testsupport {

ReadBackWav ReadWavWithSndfile(const std::string& path)
{
    ReadBackWav result;
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr) {
        result.Error = sf_strerror(nullptr);
        return result;
    }
    result.Rate = info.samplerate;
    result.Channels = info.channels;
    result.Frames = info.frames;
    switch (info.format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_U8:
    case SF_FORMAT_PCM_S8:
        result.Bits = 8;
        break;
    case SF_FORMAT_PCM_16:
        result.Bits = 16;
        break;
    case SF_FORMAT_PCM_24:
        result.Bits = 24;
        break;
    case SF_FORMAT_PCM_32:
        result.Bits = 32;
        break;
    default:
        result.Bits = 0;
        break;
    }
    result.Samples.resize(static_cast<size_t>(info.frames) * static_cast<size_t>(info.channels));
    const sf_count_t read =
        sf_read_int(file, result.Samples.data(), static_cast<sf_count_t>(result.Samples.size()));
    result.Samples.resize(static_cast<size_t>(read));
    if (const char* title = sf_get_string(file, SF_STR_TITLE))
        result.Title = title;
    if (const char* artist = sf_get_string(file, SF_STR_ARTIST))
        result.Artist = artist;
    if (const char* album = sf_get_string(file, SF_STR_ALBUM))
        result.Album = album;
    sf_close(file);
    result.Ok = true;
    return result;
}

std::vector<int32_t> SamplesFromPcm(const std::string& pcm, int bits)
{
    std::vector<int32_t> samples;
    const size_t width = static_cast<size_t>(bits / 8);
    for (size_t at = 0; at + width <= pcm.size(); at += width) {
        uint32_t raw = 0;
        for (size_t b = 0; b < width; ++b)
            raw |= uint32_t(static_cast<uint8_t>(pcm[at + b])) << (8 * b);
        if (bits == 8)
            samples.push_back(static_cast<int32_t>((raw ^ 0x80u) << 24)); // unsigned to signed
        else
            samples.push_back(static_cast<int32_t>(raw << (32 - bits)));
    }
    return samples;
}

} // namespace testsupport
