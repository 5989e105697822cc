// The settings store on QSettings: the program's key is the settings file of organization
// "Quenz", application "PellanDecoder" (on Linux ~/.config/Quenz/PellanDecoder.conf), its
// sub-keys are groups, and the host player's key is its own settings file. Files written by
// earlier releases read back unchanged.
#pragma once

#include "app/SettingsStore.h"

#include <QSettings>

class TQtSettingsStore : public ISettingsStore {
public:
    TQtSettingsStore();

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
    // QSettings reads lazily and caches: const reads still change it.
    mutable QSettings FSettings;
    mutable QSettings FHostPlayer;
};
