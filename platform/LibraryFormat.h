// What kind of library image a file holds, read from its header alone: the plug-in driver uses
// it to decide whether a plug-in can be loaded into this process or needs a host process (and
// which one). Nothing is loaded and nothing runs.
#pragma once

#include <string>
#include <vector>

namespace platform {

enum class LibraryFormat {
    Unknown,        // neither an ELF nor a PE image, or a file that cannot be read
    ElfThisMachine, // an ELF object of this process's class, byte order and machine
    ElfOther,       // an ELF object built for another class, byte order or machine
    PeX86,          // a PE image for 32-bit x86 Windows
    PeX64,          // a PE image for x86-64 Windows
    PeOther,        // a PE image for another machine
};

LibraryFormat SniffLibrary(const std::string& path);

// The format of the header bytes given (at least the first 64 bytes of a file, and the PE
// header that they point to when it lies within them). Exposed for tests.
LibraryFormat SniffLibraryHeader(const std::string& bytes);

// The PE format that this process's own code has, or Unknown on a platform that does not use PE.
LibraryFormat ThisProcessPeFormat();

const char* LibraryFormatName(LibraryFormat format);

// The names of the DLLs that a PE image (a 32 or 64-bit Windows DLL) imports, in the order its
// import directory lists them; empty when the file is no such image or cannot be read. Delayed
// imports are left out: a missing one does not keep the image from loading.
std::vector<std::string> ReadPeImports(const std::string& path);

} // namespace platform
