// Reads a WAV file back through libsndfile, a reader independent of the program's writer, so
// that a test sees the file as other programs see it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

struct ReadBackWav {
    bool Ok = false;
    std::string Error;
    int Rate = 0;
    int Channels = 0;
    int64_t Frames = 0;
    int Bits = 0;                 // from the format's sub-type: 8, 16, 24 or 32
    std::vector<int32_t> Samples; // every sample, scaled to the full 32-bit range
    std::string Title;            // the INFO tags
    std::string Artist;
    std::string Album;
};

ReadBackWav ReadWavWithSndfile(const std::string& path);

// The file's own little-endian PCM bytes turned into samples the way ReadWavWithSndfile
// returns them (8-bit is unsigned, the rest signed), for comparing the two.
std::vector<int32_t> SamplesFromPcm(const std::string& pcm, int bits);

} // namespace testsupport
