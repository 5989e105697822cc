// How the channels of a file become the one or two channels a decode asks for: mono is copied
// to both sides, stereo is averaged into mono, and more channels are folded into stereo with
// the usual coefficients (the centre and the surrounds at -3 dB into their sides, the LFE
// left out), then into mono by averaging the two sides. A matrix whose outputs could exceed
// full scale is scaled down as a whole, so that no sample clips and the balance stays.
#pragma once

#include <cstdint>
#include <vector>

namespace sndfilekpi {

enum class Speaker {
    FrontLeft,
    FrontRight,
    FrontCenter,
    Lfe,
    BackLeft,
    BackRight,
    SideLeft,
    SideRight,
    BackCenter,
    Other, // a place that belongs to no side: mixed into both, as the centre is
};

// The speakers of a file of count channels that carries no map of its own, in the order of a
// WAV file's default channel masks.
std::vector<Speaker> DefaultSpeakers(int count);

// outChannels (1 or 2) rows of in.size() coefficients each, row after row. A single input
// channel goes to every output unchanged.
std::vector<double> MixMatrix(const std::vector<Speaker>& in, uint32_t outChannels);

// out[frame][o] = sum of matrix[o][i] * in[frame][i], for interleaved frames.
void Mix(const std::vector<double>& matrix, const double* in, uint32_t inChannels, double* out,
         uint32_t outChannels, uint32_t frames);

} // namespace sndfilekpi
