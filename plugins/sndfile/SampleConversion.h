// Samples as libsndfile reads them, turned into the 16, 24 or 32-bit integers of the output.
// Both conversions round to nearest and clip, as a careful converter would: plain truncation
// would bias every sample downwards, and a lossy decoder's output may overshoot full scale.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace sndfilekpi {

// sample: full-scale 32-bit integer (how libsndfile returns integer PCM of any depth).
inline int32_t IntToDepth(int32_t sample, uint32_t bits)
{
    if (bits >= 32)
        return sample;
    const uint32_t shift = 32 - bits;
    const int64_t rounded = (int64_t(sample) + (int64_t(1) << (shift - 1))) >> shift;
    return static_cast<int32_t>(std::min<int64_t>(rounded, (int64_t(1) << (bits - 1)) - 1));
}

// sample: 1.0 is full scale (how libsndfile returns float and lossy-coded data).
inline int32_t FloatToDepth(double sample, uint32_t bits)
{
    if (std::isnan(sample))
        return 0;
    const double scale = std::ldexp(1.0, static_cast<int>(bits) - 1);
    const double rounded = std::floor(sample * scale + 0.5);
    return static_cast<int32_t>(std::clamp(rounded, -scale, scale - 1));
}

} // namespace sndfilekpi
