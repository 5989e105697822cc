#include "plugins/sndfile/Resampler.h"

#include <soxr.h>

#include <algorithm>

namespace sndfilekpi {

namespace {

// Input frames read from the file at a time.
constexpr uint32_t kInputFrames = 4096;

} // namespace

Resampler::Resampler(uint32_t inRate, uint32_t outRate, uint32_t channels, bool veryHigh)
    : FInRate(inRate), FOutRate(outRate), FChannels(channels), FIn(size_t(kInputFrames) * channels)
{
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT64_I, SOXR_FLOAT64_I);
    const soxr_quality_spec_t quality = soxr_quality_spec(veryHigh ? SOXR_VHQ : SOXR_HQ, 0);
    const soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
    soxr_error_t error = nullptr;
    FSoxr = soxr_create(inRate, outRate, channels, &error, &io, &quality, &runtime);
    if (FSoxr == nullptr || error != nullptr) {
        FError = soxr_strerror(error);
        if (FSoxr != nullptr)
            soxr_delete(FSoxr);
        FSoxr = nullptr;
    }
}

Resampler::~Resampler()
{
    if (FSoxr != nullptr)
        soxr_delete(FSoxr);
}

uint64_t Resampler::OutputFrames(uint64_t inFrames, uint32_t inRate, uint32_t outRate)
{
    const auto product = static_cast<unsigned __int128>(inFrames) * outRate;
    return static_cast<uint64_t>((product + inRate / 2) / inRate);
}

void Resampler::Restart(uint64_t inStart)
{
    if (FSoxr != nullptr)
        soxr_clear(FSoxr);
    FInOffset = FInLeft = 0;
    FInputEnded = false;
    FInFrames = inStart;
    FOutFrames = OutputFrames(inStart, FInRate, FOutRate);
    FOutEnd = 0;
}

uint32_t Resampler::Pull(double* out, uint32_t maxFrames, const Reader& read)
{
    if (FSoxr == nullptr)
        return 0;
    uint32_t done = 0;
    while (done < maxFrames) {
        if (!FInputEnded && FInLeft == 0) {
            FInLeft = read(FIn.data(), kInputFrames);
            FInOffset = 0;
            FInFrames += FInLeft;
            if (FInLeft == 0) {
                FInputEnded = true;
                FOutEnd = OutputFrames(FInFrames, FInRate, FOutRate);
            }
        }
        size_t room = maxFrames - done;
        if (FInputEnded) {
            if (FOutFrames >= FOutEnd)
                break;
            room = static_cast<size_t>(std::min<uint64_t>(room, FOutEnd - FOutFrames));
        }
        double* at = out + size_t(done) * FChannels;
        size_t taken = 0, given = 0;
        if (FInLeft > 0) {
            soxr_process(FSoxr, FIn.data() + FInOffset * FChannels, FInLeft, &taken, at, room,
                         &given);
            FInOffset += taken;
            FInLeft -= taken;
            // A filter that neither takes nor gives has failed; the song ends where it is.
            if (taken == 0 && given == 0)
                break;
        } else {
            soxr_process(FSoxr, nullptr, 0, nullptr, at, room, &given);
            // The filter has given all it held; the exact length is made up with silence.
            if (given == 0) {
                given = room;
                std::fill(at, at + given * FChannels, 0.0);
            }
        }
        done += static_cast<uint32_t>(given);
        FOutFrames += given;
    }
    return done;
}

} // namespace sndfilekpi
