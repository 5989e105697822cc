// Memory that two processes map at once: a file in the system's shared-memory folder (or a
// named mapping on Windows), which the program makes and a plug-in host opens by its name.
// A host under Wine maps the same Unix file through its DOS name. The name can be removed as
// soon as both have it mapped; the memory stays until both let it go.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace platform {

class SharedMemory {
public:
    // A new region of size bytes under a fresh name; nullptr, with why in error, when the
    // system gives none.
    static std::unique_ptr<SharedMemory> Create(size_t size, std::string& error);
    // The region another process made, by its name (a path, or on Windows also a mapping's
    // name), mapped for reading and writing; it must hold at least size bytes.
    static std::unique_ptr<SharedMemory> Open(const std::string& name, size_t size,
                                              std::string& error);

    SharedMemory(const SharedMemory&) = delete;
    SharedMemory& operator=(const SharedMemory&) = delete;
    ~SharedMemory();

    uint8_t* Data() const { return FData; }
    size_t Size() const { return FSize; }
    // The name another process opens it by ("" once removed).
    const std::string& Name() const { return FName; }
    // Removes the name; the mappings stay. A region this process made is also unnamed when it
    // is let go.
    void RemoveName();

private:
    SharedMemory() = default;
    uint8_t* FData = nullptr;
    size_t FSize = 0;
    std::string FName;
    bool FOwnsName = false;
    void* FHandle = nullptr; // Windows: the mapping's handle
};

} // namespace platform
