// The settings store on Windows: the program's key HKEY_CURRENT_USER\Software\Quenz\PellanDecoder
// in the registry itself, its sub-keys (SearchPath, DecodeSettings\<name>) as registry keys,
// strings as REG_SZ and numbers as REG_DWORD, and the host player's key read only. Texts are
// UTF-8 here and UTF-16 in the registry, so setting names in any script come back unchanged.
// Windows only.
#pragma once

#ifdef _WIN32

#include "app/SettingsStore.h"
#include "platform/Registry.h"

#include <optional>

class TRegistrySettingsStore : public ISettingsStore {
public:
    // Opens the program's key, creating it when it is missing. Tests give keys of their own so
    // that they can run side by side in one registry.
    explicit TRegistrySettingsStore(std::string programKey, std::string hostPlayerKey);
    TRegistrySettingsStore();

    bool KeyExists(const std::string& key) const override;
    std::vector<std::string> SubKeys(const std::string& key) const override;
    std::optional<std::string> ReadString(const std::string& key,
                                          const std::string& name) const override;
    std::optional<uint32_t> ReadInteger(const std::string& key,
                                        const std::string& name) const override;
    void WriteString(const std::string& key, const std::string& name,
                     const std::string& value) override;
    void WriteInteger(const std::string& key, const std::string& name, uint32_t value) override;
    void DeleteKey(const std::string& key) override;
    void Flush() override;
    std::optional<std::string> HostPlayerExecutable() const override;

private:
    std::optional<platform::RegistryKey> Open(const std::string& key) const;

    std::string FProgramKey;
    std::string FHostPlayerKey;
    // Kept open for the whole run, as the program's key is; empty when even creating it
    // failed (a registry that refuses writes), and every call then finds nothing.
    std::optional<platform::RegistryKey> FKey;
};

#endif
