#include "platform/LibraryFormat.h"

#include "platform/FileSystem.h"

#include <cstdint>
#include <fstream>

namespace platform {

namespace {

constexpr uint16_t kElfMachineX86 = 3;
constexpr uint16_t kElfMachineX64 = 62;
constexpr uint16_t kElfMachineArm = 40;
constexpr uint16_t kElfMachineArm64 = 183;
constexpr uint16_t kPeMachineX86 = 0x014C;
constexpr uint16_t kPeMachineX64 = 0x8664;
// The PE header's offset is a 32-bit field; a sane image keeps it near the start. Reading stops
// there, so that a huge offset in a random file costs nothing.
constexpr uint32_t kLargestPeHeaderOffset = 64 * 1024;

uint16_t Read16(const std::string& b, size_t at, bool bigEndian)
{
    const auto u = [&](size_t i) { return static_cast<uint16_t>(static_cast<uint8_t>(b[at + i])); };
    return bigEndian ? static_cast<uint16_t>(u(0) << 8 | u(1))
                     : static_cast<uint16_t>(u(1) << 8 | u(0));
}

uint32_t Read32(const std::string& b, size_t at)
{
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = v << 8 | static_cast<uint8_t>(b[at + i]);
    return v;
}

// The ELF e_machine value of the code this process runs.
constexpr uint16_t ThisElfMachine()
{
#if defined(__x86_64__)
    return kElfMachineX64;
#elif defined(__i386__)
    return kElfMachineX86;
#elif defined(__aarch64__)
    return kElfMachineArm64;
#elif defined(__arm__)
    return kElfMachineArm;
#else
    return 0xFFFF;
#endif
}

LibraryFormat SniffElf(const std::string& b)
{
    // e_ident (16 bytes), e_type (2), e_machine (2)
    if (b.size() < 20)
        return LibraryFormat::Unknown;
    const uint8_t elfClass = static_cast<uint8_t>(b[4]);
    const uint8_t data = static_cast<uint8_t>(b[5]);
    if ((elfClass != 1 && elfClass != 2) || (data != 1 && data != 2))
        return LibraryFormat::Unknown;
    const bool bigEndian = data == 2;
    const uint16_t machine = Read16(b, 18, bigEndian);
    const uint8_t ownClass = sizeof(void*) == 8 ? 2 : 1;
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    const bool ownBigEndian = true;
#else
    const bool ownBigEndian = false;
#endif
#ifdef _WIN32
    (void)ownClass;
    (void)ownBigEndian;
    (void)machine;
    return LibraryFormat::ElfOther; // a Windows process loads no ELF object
#else
    if (elfClass == ownClass && bigEndian == ownBigEndian && machine == ThisElfMachine())
        return LibraryFormat::ElfThisMachine;
    return LibraryFormat::ElfOther;
#endif
}

LibraryFormat SniffPe(const std::string& b)
{
    if (b.size() < 64)
        return LibraryFormat::Unknown;
    const uint32_t offset = Read32(b, 0x3C);
    // "PE\0\0", then the file header whose first field is the machine.
    if (offset > kLargestPeHeaderOffset || uint64_t(offset) + 6 > b.size())
        return LibraryFormat::Unknown;
    if (b.compare(offset, 4, std::string("PE\0\0", 4)) != 0)
        return LibraryFormat::Unknown;
    switch (Read16(b, offset + 4, false)) {
    case kPeMachineX86:
        return LibraryFormat::PeX86;
    case kPeMachineX64:
        return LibraryFormat::PeX64;
    default:
        return LibraryFormat::PeOther;
    }
}

} // namespace

LibraryFormat SniffLibraryHeader(const std::string& bytes)
{
    if (bytes.compare(0, 4,
                      "\x7f"
                      "ELF") == 0)
        return SniffElf(bytes);
    if (bytes.compare(0, 2, "MZ") == 0)
        return SniffPe(bytes);
    return LibraryFormat::Unknown;
}

LibraryFormat SniffLibrary(const std::string& path)
{
    // Only a plain file is opened: a pipe or a device in a plug-in folder would block or never
    // end.
    if (!IsRegularFile(path))
        return LibraryFormat::Unknown;
    std::ifstream in(FileSystemPath(path), std::ios::binary);
    if (!in)
        return LibraryFormat::Unknown;
    std::string head(64, '\0');
    in.read(head.data(), static_cast<std::streamsize>(head.size()));
    head.resize(static_cast<size_t>(in.gcount()));
    if (head.compare(0, 2, "MZ") == 0 && head.size() == 64) {
        // The PE header lies where the DOS header points; read up to its machine field.
        const uint32_t offset = Read32(head, 0x3C);
        if (offset <= kLargestPeHeaderOffset && offset + 6 > head.size()) {
            std::string rest(offset + 6 - head.size(), '\0');
            in.read(rest.data(), static_cast<std::streamsize>(rest.size()));
            rest.resize(static_cast<size_t>(in.gcount()));
            head += rest;
        }
    }
    return SniffLibraryHeader(head);
}

LibraryFormat ThisProcessPeFormat()
{
#if defined(_WIN32) && (defined(__x86_64__) || defined(_M_X64))
    return LibraryFormat::PeX64;
#elif defined(_WIN32) && (defined(__i386__) || defined(_M_IX86))
    return LibraryFormat::PeX86;
#else
    return LibraryFormat::Unknown;
#endif
}

const char* LibraryFormatName(LibraryFormat format)
{
    switch (format) {
    case LibraryFormat::ElfThisMachine:
        return "ELF object of this machine";
    case LibraryFormat::ElfOther:
        return "ELF object of another machine";
    case LibraryFormat::PeX86:
        return "32-bit Windows DLL";
    case LibraryFormat::PeX64:
        return "64-bit Windows DLL";
    case LibraryFormat::PeOther:
        return "Windows DLL of another machine";
    case LibraryFormat::Unknown:
        break;
    }
    return "unknown";
}

} // namespace platform
