// A settings store held in memory, for tests of the flows that read and write settings.
#pragma once

#include "app/SettingsStore.h"

#include <algorithm>
#include <map>
#include <variant>

class TMemorySettingsStore : public ISettingsStore {
public:
    using Value = std::variant<std::string, uint32_t>;
    // key path -> value name -> value; a key with no values is kept as an empty map.
    std::map<std::string, std::map<std::string, Value>> Keys;
    std::optional<std::string> HostPlayer;
    int Flushes = 0;

    bool KeyExists(const std::string& key) const override
    {
        return std::any_of(Keys.begin(), Keys.end(),
                           [&](const auto& entry) { return Below(entry.first, key); });
    }
    std::vector<std::string> SubKeys(const std::string& key) const override
    {
        std::vector<std::string> names;
        for (const auto& [path, values] : Keys) {
            if (!Below(path, key) || path.size() <= key.size())
                continue;
            const std::string rest = path.substr(key.size() + 1);
            const std::string name = rest.substr(0, rest.find('\\'));
            if (std::find(names.begin(), names.end(), name) == names.end())
                names.push_back(name);
        }
        return names; // std::map order: by bytes, which the tests keep to ASCII
    }
    std::optional<std::string> ReadString(const std::string& key,
                                          const std::string& name) const override
    {
        const Value* value = Find(key, name);
        if (value == nullptr || !std::holds_alternative<std::string>(*value))
            return std::nullopt;
        return std::get<std::string>(*value);
    }
    std::optional<uint32_t> ReadInteger(const std::string& key,
                                        const std::string& name) const override
    {
        const Value* value = Find(key, name);
        if (value == nullptr || !std::holds_alternative<uint32_t>(*value))
            return std::nullopt;
        return std::get<uint32_t>(*value);
    }
    void WriteString(const std::string& key, const std::string& name,
                     const std::string& value) override
    {
        Keys[key][name] = value;
    }
    void WriteInteger(const std::string& key, const std::string& name, uint32_t value) override
    {
        Keys[key][name] = value;
    }
    void DeleteKey(const std::string& key) override
    {
        std::erase_if(Keys, [&](const auto& entry) { return Below(entry.first, key); });
    }
    void Flush() override { ++Flushes; }
    std::optional<std::string> HostPlayerExecutable() const override { return HostPlayer; }

private:
    // Whether path is key itself or lies below it.
    static bool Below(const std::string& path, const std::string& key)
    {
        return path == key || (path.size() > key.size() && path.compare(0, key.size(), key) == 0 &&
                               path[key.size()] == '\\');
    }
    const Value* Find(const std::string& key, const std::string& name) const
    {
        const auto k = Keys.find(key);
        if (k == Keys.end())
            return nullptr;
        const auto v = k->second.find(name);
        return v == k->second.end() ? nullptr : &v->second;
    }
};
