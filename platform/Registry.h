// The current user's registry (HKEY_CURRENT_USER), through the wide API: key paths, value names
// and string values are UTF-8 here and UTF-16 in the registry, so that a name in any script
// survives whatever the ANSI code page is. Windows only.
#pragma once

#ifdef _WIN32

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct HKEY__;

namespace platform {

// One open key, closed when this goes. Paths use "\" between levels and are relative to the
// current user's hive, or to the parent key for the members that take one.
class RegistryKey {
public:
    // Nothing when the key is missing or cannot be opened for what is asked.
    static std::optional<RegistryKey> Open(const std::string& path, bool writable = false);
    // Opens the key, creating every missing level; nothing when that fails.
    static std::optional<RegistryKey> Create(const std::string& path);

    RegistryKey(RegistryKey&& other) noexcept;
    RegistryKey& operator=(RegistryKey&& other) noexcept;
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;
    ~RegistryKey();

    // A sub-key of this key ("" is this key again), as Open and Create do.
    std::optional<RegistryKey> OpenSubKey(const std::string& path, bool writable = false) const;
    std::optional<RegistryKey> CreateSubKey(const std::string& path) const;

    // Nothing when the value is missing or holds another type (REG_SZ and REG_EXPAND_SZ count
    // as strings, read as stored; REG_DWORD alone as a number).
    std::optional<std::string> ReadString(const std::string& name) const;
    std::optional<uint32_t> ReadDword(const std::string& name) const;
    bool WriteString(const std::string& name, const std::string& value);
    bool WriteDword(const std::string& name, uint32_t value);
    // The names of the sub-keys in the registry's enumeration order.
    std::vector<std::string> SubKeyNames() const;
    // Removes a sub-key with everything below it; a missing one counts as removed. An empty
    // path is refused: it would empty this key itself.
    bool DeleteSubKeyTree(const std::string& path);
    // Writes the key to disk now rather than when the system gets to it.
    void Flush();

private:
    friend struct RegistryKeyMaker;
    explicit RegistryKey(HKEY__* key) : FKey(key) {}
    HKEY__* FKey = nullptr;
};

} // namespace platform

#endif
