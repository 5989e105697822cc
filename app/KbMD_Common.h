// Services every window shares: the program's settings store (standing for its registry key)
// and the run log, the list of every log line of the run, written beside the program at exit.
#pragma once

#include <QSettings>

#include <memory>
#include <string>
#include <vector>

// The program's own key in the settings store. Sections are the key's sub-keys.
class TAppRegistry {
public:
    static constexpr const char* kOrganization = "Quenz";
    static constexpr const char* kApplication = "PellanDecoder";

    TAppRegistry();
    // Reads a string value; default when the section or the value is missing.
    std::string ReadString(const std::string& section, const std::string& name,
                           const std::string& defaultValue) const;
    void WriteString(const std::string& section, const std::string& name, const std::string& value);
    // Writes everything to permanent storage (the store is also flushed when it is released).
    void Flush();
    QSettings& Settings() { return FSettings; }

private:
    QSettings FSettings;
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

// Converts between the core's byte strings (the system code page) and Qt's texts.
QString ToQString(const std::string& text);
std::string FromQString(const QString& text);
