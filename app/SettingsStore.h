// The program's settings store, standing for its registry key: keys below the program's own key
// (levels joined with "\"), each holding string and 32-bit integer values and sub-keys. The
// registry is the store on Windows and a settings file elsewhere; the flows only see this
// interface, so that they build without any toolkit.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class ISettingsStore {
public:
    virtual ~ISettingsStore() = default;

    virtual bool KeyExists(const std::string& key) const = 0;
    // The names of key's sub-keys in the store's own enumeration order (sorted by name, letter
    // case ignored, as the registry lists them).
    virtual std::vector<std::string> SubKeys(const std::string& key) const = 0;
    // Nothing when the key or the value is missing, or when it holds another type.
    virtual std::optional<std::string> ReadString(const std::string& key,
                                                  const std::string& name) const = 0;
    virtual std::optional<uint32_t> ReadInteger(const std::string& key,
                                                const std::string& name) const = 0;
    // Create the key when it is missing.
    virtual void WriteString(const std::string& key, const std::string& name,
                             const std::string& value) = 0;
    virtual void WriteInteger(const std::string& key, const std::string& name, uint32_t value) = 0;
    // Removes key with everything below it; a missing key is no error.
    virtual void DeleteKey(const std::string& key) = 0;
    // Writes everything to permanent storage.
    virtual void Flush() = 0;

    // The host player's executable as the player's own key names it (read only); nothing when
    // the key or its value is missing.
    virtual std::optional<std::string> HostPlayerExecutable() const = 0;
};
