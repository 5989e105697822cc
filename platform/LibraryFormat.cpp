#include "platform/LibraryFormat.h"

#include "platform/FileSystem.h"

#include <algorithm>
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

std::vector<std::string> ReadPeImports(const std::string& path)
{
    std::vector<std::string> names;
    // A plug-in folder may hold anything: only a plain file of a plausible size is read, and
    // every offset taken from it is checked against its size.
    if (!IsRegularFile(path))
        return names;
    std::ifstream in(FileSystemPath(path), std::ios::binary | std::ios::ate);
    const std::streamoff size = in ? static_cast<std::streamoff>(in.tellg()) : 0;
    if (size <= 0 || size > (256 << 20))
        return names;
    in.seekg(0);
    std::string image(static_cast<size_t>(size), '\0');
    in.read(image.data(), static_cast<std::streamsize>(image.size()));
    image.resize(static_cast<size_t>(in.gcount()));
    const auto fits = [&image](uint64_t at, uint64_t size) {
        return at <= image.size() && size <= image.size() - at;
    };
    const LibraryFormat format = SniffLibraryHeader(image);
    if (format != LibraryFormat::PeX86 && format != LibraryFormat::PeX64)
        return names;
    const uint32_t pe = Read32(image, 0x3C);
    // The file header: machine, section count, ..., optional header size, characteristics.
    if (!fits(pe, 24))
        return names;
    const uint16_t sections = Read16(image, pe + 6, false);
    const uint16_t optionalSize = Read16(image, pe + 20, false);
    const uint64_t optional = pe + 24;
    // The optional header's data directories start at 96 (PE32) or 112 (PE32+); the import
    // directory is the second.
    if (!fits(optional, 2))
        return names;
    const uint16_t magic = Read16(image, optional, false);
    const uint64_t directories = optional + (magic == 0x20B ? 112 : 96);
    if (directories + 16 > optional + optionalSize || !fits(directories, 16))
        return names;
    const uint32_t importRva = Read32(image, directories + 8);
    // Addresses are virtual; the section table maps them to offsets in the file.
    const uint64_t table = optional + optionalSize;
    const auto offsetOf = [&](uint32_t rva, uint64_t& offset) {
        for (uint16_t i = 0; i < sections; ++i) {
            const uint64_t at = table + uint64_t(i) * 40;
            if (!fits(at, 40))
                return false;
            const uint32_t size = Read32(image, at + 8);
            const uint32_t address = Read32(image, at + 12);
            const uint32_t rawSize = Read32(image, at + 16);
            const uint32_t rawOffset = Read32(image, at + 20);
            if (rva >= address && rva - address < std::max(size, rawSize)) {
                offset = uint64_t(rawOffset) + (rva - address);
                return rva - address < rawSize;
            }
        }
        return false;
    };
    uint64_t descriptor = 0;
    if (importRva == 0 || !offsetOf(importRva, descriptor))
        return names;
    // One 20-byte descriptor per DLL, the name's address in the fourth field, up to one of
    // zeros; a count no sane image reaches ends a damaged one.
    for (int count = 0; count < 4096 && fits(descriptor, 20); ++count, descriptor += 20) {
        if (image.compare(descriptor, 20, std::string(20, '\0')) == 0)
            break;
        uint64_t name = 0;
        if (!offsetOf(Read32(image, descriptor + 12), name) || !fits(name, 1))
            continue;
        const size_t end = image.find('\0', name);
        if (end != std::string::npos && end > name && end - name < 256)
            names.push_back(image.substr(name, end - name));
    }
    return names;
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
