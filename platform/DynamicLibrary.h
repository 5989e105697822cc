// Loading plug-in libraries. The libraries a plug-in depends on are looked for first in the
// plug-in's own folder, so that a plug-in can ship its helper libraries beside itself.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace platform {

class DynamicLibrary {
public:
    // Loads the library at path (a full path); nullptr when it cannot be loaded, with the
    // loader's own reason in error.
    static std::unique_ptr<DynamicLibrary> Load(const std::string& path, std::string& error);

    DynamicLibrary(const DynamicLibrary&) = delete;
    DynamicLibrary& operator=(const DynamicLibrary&) = delete;
    ~DynamicLibrary();

    // The address of an exported symbol, or nullptr.
    void* Symbol(const char* name) const;

private:
    DynamicLibrary() = default;

    void* FHandle = nullptr;
    // Libraries from the plug-in's folder that were opened first so that the loader finds
    // them; released after the plug-in itself.
    std::vector<void*> FDependencies;
};

#ifndef _WIN32
// The DT_NEEDED names of an ELF shared object of this machine's class and byte order; empty
// when the file is not one or cannot be read. Exposed for tests.
std::vector<std::string> ReadNeededLibraries(const std::string& path);
// Whether the ELF file carries an RPATH or RUNPATH entry. Exposed for tests.
bool HasRunPath(const std::string& path);
#endif

} // namespace platform
