// Services every window shares: the program's settings store (standing for its registry key)
// and the run log, the list of every log line of the run, written beside the program at exit.
#pragma once

#include "app/SettingsStore.h"

#include <string>
#include <vector>

// The program's own key in the settings store, read and written by sections (its sub-keys).
// The store itself is chosen by the program: the registry on Windows, a settings file elsewhere.
class TAppRegistry {
public:
    explicit TAppRegistry(ISettingsStore& store) : FStore(store) {}
    // Reads a string value; default when the section or the value is missing.
    std::string ReadString(const std::string& section, const std::string& name,
                           const std::string& defaultValue) const;
    void WriteString(const std::string& section, const std::string& name, const std::string& value);
    // Writes everything to permanent storage.
    void Flush() { FStore.Flush(); }
    ISettingsStore& Store() { return FStore; }

private:
    ISettingsStore& FStore;
};

// Every line logged during the run, in order. Lines are only ever appended.
class TRunLog {
public:
    void Add(const std::string& line) { FLines.push_back(line); }
    const std::vector<std::string>& Lines() const { return FLines; }
    // Writes every line followed by CR LF, replacing the file. Throws EZoError when the file
    // cannot be written.
    void SaveToFile(const std::string& path) const;

private:
    std::vector<std::string> FLines;
};

// Made by the program entry before the main window and released after it.
extern TAppRegistry* AppRegistry;
extern TRunLog* RunLog;
