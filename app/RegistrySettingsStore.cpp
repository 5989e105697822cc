#include "app/RegistrySettingsStore.h"

#ifdef _WIN32

#include "app/SettingsLayout.h"

TRegistrySettingsStore::TRegistrySettingsStore(std::string programKey, std::string hostPlayerKey)
    : FProgramKey(std::move(programKey)), FHostPlayerKey(std::move(hostPlayerKey)),
      FKey(platform::RegistryKey::Create(FProgramKey))
{}

TRegistrySettingsStore::TRegistrySettingsStore()
    : TRegistrySettingsStore(settings::kProgramKey, settings::kHostPlayerKey)
{}

std::optional<platform::RegistryKey> TRegistrySettingsStore::Open(const std::string& key) const
{
    if (!FKey)
        return std::nullopt;
    return FKey->OpenSubKey(key);
}

bool TRegistrySettingsStore::KeyExists(const std::string& key) const
{
    return Open(key).has_value();
}

std::vector<std::string> TRegistrySettingsStore::SubKeys(const std::string& key) const
{
    const auto opened = Open(key);
    return opened ? opened->SubKeyNames() : std::vector<std::string>();
}

std::optional<std::string> TRegistrySettingsStore::ReadString(const std::string& key,
                                                              const std::string& name) const
{
    const auto opened = Open(key);
    return opened ? opened->ReadString(name) : std::nullopt;
}

std::optional<uint32_t> TRegistrySettingsStore::ReadInteger(const std::string& key,
                                                            const std::string& name) const
{
    const auto opened = Open(key);
    return opened ? opened->ReadDword(name) : std::nullopt;
}

void TRegistrySettingsStore::WriteString(const std::string& key, const std::string& name,
                                         const std::string& value)
{
    // A key that cannot be created is skipped, as the settings that could not be stored are:
    // the run goes on with what it holds.
    if (FKey)
        if (auto created = FKey->CreateSubKey(key))
            created->WriteString(name, value);
}

void TRegistrySettingsStore::WriteInteger(const std::string& key, const std::string& name,
                                          uint32_t value)
{
    if (FKey)
        if (auto created = FKey->CreateSubKey(key))
            created->WriteDword(name, value);
}

void TRegistrySettingsStore::DeleteKey(const std::string& key)
{
    if (FKey)
        FKey->DeleteSubKeyTree(key);
}

void TRegistrySettingsStore::Flush()
{
    if (FKey)
        FKey->Flush();
}

std::optional<std::string> TRegistrySettingsStore::HostPlayerExecutable() const
{
    // Read only: the host player's key is never created here.
    const auto key =
        platform::RegistryKey::Open(FHostPlayerKey + "\\" + settings::kHostPlayerSearchPathKey);
    return key ? key->ReadString(settings::kHostPlayerValue) : std::nullopt;
}

#endif
