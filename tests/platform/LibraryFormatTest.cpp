// The header of a plug-in file tells where it can run: golden headers, the built test plug-ins
// (the native one and the two Windows DLLs), and files that are no library at all.
#include "platform/LibraryFormat.h"
#include "tests/support/TempFolder.h"
#include "tests/testplugin/TestPluginHost.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

using platform::LibraryFormat;
using platform::SniffLibraryHeader;
using testsupport::TempFolder;

namespace {

// An ELF header up to e_machine: class (1: 32-bit, 2: 64-bit), data (1: little-endian).
std::string Elf(uint8_t elfClass, uint8_t data, uint16_t machine)
{
    std::string b = std::string("\x7f"
                                "ELF",
                                4);
    b += static_cast<char>(elfClass);
    b += static_cast<char>(data);
    b += std::string(10, '\1');
    b += std::string("\x03\x00", 2); // e_type: shared object
    if (data == 1)
        b += {static_cast<char>(machine & 0xFF), static_cast<char>(machine >> 8)};
    else
        b += {static_cast<char>(machine >> 8), static_cast<char>(machine & 0xFF)};
    return b + std::string(44, '\0');
}

// A DOS header pointing at a PE header at offset, with the machine field.
std::string Pe(uint32_t offset, uint16_t machine)
{
    std::string b(64, '\0');
    b[0] = 'M';
    b[1] = 'Z';
    for (int i = 0; i < 4; ++i)
        b[0x3C + i] = static_cast<char>(offset >> (8 * i));
    if (offset >= 64 && offset < 4096) {
        b.resize(offset, '\0');
        b += std::string("PE\0\0", 4);
        b += {static_cast<char>(machine & 0xFF), static_cast<char>(machine >> 8)};
        b += std::string(18, '\0');
    }
    return b;
}

} // namespace

TEST(LibraryFormat, GoldenHeaders)
{
#if defined(__x86_64__)
    EXPECT_EQ(SniffLibraryHeader(Elf(2, 1, 62)), LibraryFormat::ElfThisMachine);
    EXPECT_EQ(SniffLibraryHeader(Elf(1, 1, 3)), LibraryFormat::ElfOther);   // i386
    EXPECT_EQ(SniffLibraryHeader(Elf(2, 1, 183)), LibraryFormat::ElfOther); // AArch64
    EXPECT_EQ(SniffLibraryHeader(Elf(2, 2, 62)), LibraryFormat::ElfOther);  // big-endian
#endif
    EXPECT_EQ(SniffLibraryHeader(Elf(3, 1, 62)), LibraryFormat::Unknown);
    EXPECT_EQ(SniffLibraryHeader(Pe(0x80, 0x014C)), LibraryFormat::PeX86);
    EXPECT_EQ(SniffLibraryHeader(Pe(0x80, 0x8664)), LibraryFormat::PeX64);
    EXPECT_EQ(SniffLibraryHeader(Pe(0x40, 0xAA64)), LibraryFormat::PeOther);
    // A DOS header that points past the end, or nowhere sensible.
    EXPECT_EQ(SniffLibraryHeader(Pe(0x2000, 0x8664).substr(0, 64)), LibraryFormat::Unknown);
    EXPECT_EQ(SniffLibraryHeader(Pe(0xFFFFFFF0u, 0x8664)), LibraryFormat::Unknown);
    std::string notPe = Pe(0x80, 0x8664);
    notPe[0x80] = 'N';
    EXPECT_EQ(SniffLibraryHeader(notPe), LibraryFormat::Unknown);
    EXPECT_EQ(SniffLibraryHeader("MZ"), LibraryFormat::Unknown);
    EXPECT_EQ(SniffLibraryHeader(""), LibraryFormat::Unknown);
}

TEST(LibraryFormat, TheBuiltTestPlugins)
{
    EXPECT_EQ(platform::SniffLibrary(testkpi::BuiltPluginPath()), LibraryFormat::ElfThisMachine);
#ifdef PELLAN_HAVE_WINDOWS_BUILDS
    EXPECT_EQ(platform::SniffLibrary(testkpi::BuiltPluginPath(testkpi::kWindows32Variant)),
              LibraryFormat::PeX86);
    EXPECT_EQ(platform::SniffLibrary(testkpi::BuiltPluginPath(testkpi::kWindows64Variant)),
              LibraryFormat::PeX64);
#endif
}

TEST(LibraryFormat, FilesThatAreNoLibrary)
{
    TempFolder dir;
    testsupport::WriteFileBytes(dir / "empty.kpi", "");
    testsupport::WriteFileBytes(dir / "text.kpi", "#!/bin/sh\necho hello\n");
    testsupport::WriteFileBytes(dir / "short.kpi", Pe(0x80, 0x8664).substr(0, 0x82));
    ASSERT_EQ(::mkfifo((dir / "pipe.kpi").c_str(), 0600), 0);
    for (const char* name : {"empty.kpi", "text.kpi", "short.kpi", "pipe.kpi", "missing.kpi"})
        EXPECT_EQ(platform::SniffLibrary(dir / name), LibraryFormat::Unknown) << name;
    EXPECT_EQ(platform::SniffLibrary(dir.Path()), LibraryFormat::Unknown);
}
