// One song's sample-rate conversion through libsoxr, as a stream: input frames go in as the
// file is read, and the output ends at exactly the frame that the input's length gives at the
// new rate (rounded to the nearest frame), whatever the filter still holds or lacks at the end.
// The same input always gives the same output: one thread, and no dither (the output is
// floating point; rounding to integers comes after).
//
// Threads: used by one thread at a time (the song's lock is held around every call).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct soxr;

namespace sndfilekpi {

class Resampler {
public:
    // veryHigh: the filter for 24 and 32-bit output (soxr's very high quality); otherwise its
    // high quality, which is already beyond what 16 bits can show.
    Resampler(uint32_t inRate, uint32_t outRate, uint32_t channels, bool veryHigh);
    ~Resampler();
    Resampler(const Resampler&) = delete;
    Resampler& operator=(const Resampler&) = delete;

    // "" when it was made; else libsoxr's reason.
    const std::string& Error() const { return FError; }

    // Frames at the output rate for frames at the input rate, rounded to the nearest.
    static uint64_t OutputFrames(uint64_t inFrames, uint32_t inRate, uint32_t outRate);

    // Starts again with input that begins at input frame inStart (after a seek).
    void Restart(uint64_t inStart);

    // Up to maxFrames frames of output into out (interleaved). read(buffer, maxFrames) fills
    // buffer with up to maxFrames input frames and returns how many; 0 means the input has
    // ended. Fewer than maxFrames frames come back only at the end of the output.
    using Reader = std::function<uint32_t(double* buffer, uint32_t maxFrames)>;
    uint32_t Pull(double* out, uint32_t maxFrames, const Reader& read);

private:
    soxr* FSoxr = nullptr;
    std::string FError;
    uint32_t FInRate, FOutRate, FChannels;
    std::vector<double> FIn; // input read but not yet taken by the filter
    size_t FInOffset = 0;    // frames of FIn already taken
    size_t FInLeft = 0;      // frames of FIn still to take
    bool FInputEnded = false;
    uint64_t FInFrames = 0;  // the input frame after the last one read
    uint64_t FOutFrames = 0; // the output frame after the last one given out
    uint64_t FOutEnd = 0;    // the output's end; valid once the input has ended
};

} // namespace sndfilekpi
