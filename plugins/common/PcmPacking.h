// PCM as a WAV data chunk holds it: signed little-endian samples of 2, 3 or 4 bytes.
#pragma once

#include <cstdint>

namespace kpiplugin {

inline void StoreLittleEndian(uint8_t* out, int32_t sample, uint32_t bytes)
{
    const auto value = static_cast<uint32_t>(sample);
    for (uint32_t i = 0; i < bytes; ++i)
        out[i] = static_cast<uint8_t>(value >> (8 * i));
}

} // namespace kpiplugin
