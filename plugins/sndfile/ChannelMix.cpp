#include "plugins/sndfile/ChannelMix.h"

#include <algorithm>
#include <cmath>

namespace sndfilekpi {

std::vector<Speaker> DefaultSpeakers(int count)
{
    using S = Speaker;
    switch (count) {
    case 1:
        return {S::FrontCenter};
    case 2:
        return {S::FrontLeft, S::FrontRight};
    case 3:
        return {S::FrontLeft, S::FrontRight, S::FrontCenter};
    case 4:
        return {S::FrontLeft, S::FrontRight, S::BackLeft, S::BackRight};
    case 5:
        return {S::FrontLeft, S::FrontRight, S::FrontCenter, S::BackLeft, S::BackRight};
    case 6:
        return {S::FrontLeft, S::FrontRight, S::FrontCenter, S::Lfe, S::BackLeft, S::BackRight};
    case 7:
        return {S::FrontLeft,  S::FrontRight, S::FrontCenter, S::Lfe,
                S::BackCenter, S::SideLeft,   S::SideRight};
    case 8:
        return {S::FrontLeft, S::FrontRight, S::FrontCenter, S::Lfe,
                S::BackLeft,  S::BackRight,  S::SideLeft,    S::SideRight};
    default:
        return std::vector<Speaker>(static_cast<size_t>(std::max(count, 0)), S::Other);
    }
}

std::vector<double> MixMatrix(const std::vector<Speaker>& in, uint32_t outChannels)
{
    const size_t n = in.size();
    if (n == 1)
        return std::vector<double>(outChannels, 1.0);
    const double half = std::sqrt(0.5); // -3 dB
    std::vector<double> left(n, 0.0), right(n, 0.0);
    for (size_t i = 0; i < n; ++i) {
        switch (in[i]) {
        case Speaker::FrontLeft:
            left[i] = 1;
            break;
        case Speaker::FrontRight:
            right[i] = 1;
            break;
        case Speaker::BackLeft:
        case Speaker::SideLeft:
            left[i] = half;
            break;
        case Speaker::BackRight:
        case Speaker::SideRight:
            right[i] = half;
            break;
        case Speaker::BackCenter:
            left[i] = right[i] = half * half;
            break;
        case Speaker::Lfe:
            break;
        case Speaker::FrontCenter:
        case Speaker::Other:
            left[i] = right[i] = half;
            break;
        }
    }
    std::vector<double> matrix;
    if (outChannels == 1) {
        for (size_t i = 0; i < n; ++i)
            matrix.push_back((left[i] + right[i]) / 2);
    } else {
        matrix = left;
        matrix.insert(matrix.end(), right.begin(), right.end());
    }
    double loudest = 0;
    for (uint32_t o = 0; o < outChannels; ++o) {
        double sum = 0;
        for (size_t i = 0; i < n; ++i)
            sum += std::fabs(matrix[o * n + i]);
        loudest = std::max(loudest, sum);
    }
    if (loudest > 1)
        for (double& c : matrix)
            c /= loudest;
    return matrix;
}

void Mix(const std::vector<double>& matrix, const double* in, uint32_t inChannels, double* out,
         uint32_t outChannels, uint32_t frames)
{
    for (uint32_t f = 0; f < frames; ++f, in += inChannels, out += outChannels)
        for (uint32_t o = 0; o < outChannels; ++o) {
            const double* row = matrix.data() + size_t(o) * inChannels;
            double sum = 0;
            for (uint32_t i = 0; i < inChannels; ++i)
                sum += row[i] * in[i];
            out[o] = sum;
        }
}

} // namespace sndfilekpi
