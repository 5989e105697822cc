// Little-endian byte writers for the file formats the program produces. Records are always
// written field by field through these, never as raw structs, so that the bytes do not depend
// on the host's endianness or on structure padding.
#pragma once

#include <cstdint>
#include <string>

namespace le {

inline void Put16(uint8_t* p, uint16_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

inline void Put32(uint8_t* p, uint32_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}

inline void Append8(std::string& out, uint8_t v)
{
    out.push_back(static_cast<char>(v));
}

inline void Append16(std::string& out, uint16_t v)
{
    uint8_t b[2];
    Put16(b, v);
    out.append(reinterpret_cast<const char*>(b), 2);
}

inline void Append32(std::string& out, uint32_t v)
{
    uint8_t b[4];
    Put32(b, v);
    out.append(reinterpret_cast<const char*>(b), 4);
}

inline void AppendFourCC(std::string& out, const char (&id)[5])
{
    out.append(id, 4);
}

} // namespace le
