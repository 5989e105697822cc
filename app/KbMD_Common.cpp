#include "app/KbMD_Common.h"

#include "platform/Errors.h"
#include "platform/FileSystem.h"
#include "platform/WindowsText.h"

#include <cstdio>

TAppRegistry* AppRegistry = nullptr;
TRunLog* RunLog = nullptr;

std::string TAppRegistry::ReadString(const std::string& section, const std::string& name,
                                     const std::string& defaultValue) const
{
    return FStore.ReadString(section, name).value_or(defaultValue);
}

void TAppRegistry::WriteString(const std::string& section, const std::string& name,
                               const std::string& value)
{
    FStore.WriteString(section, name, value);
}

void TRunLog::SaveToFile(const std::string& path) const
{
    std::string text;
    for (const std::string& line : FLines) {
        text += line;
        text += "\r\n";
    }
#ifdef _WIN32
    // Lines are UTF-8 inside; the file is in the Japanese code page, as the run logs of every
    // release on Windows were, so that the tools that read those read this one.
    text = platform::Utf8ToCodePage(text, 932);
#endif
    std::FILE* file = platform::OpenFile(path, "wb");
    if (file == nullptr)
        throw EZoError(txt::Id::FileCannotBeCreated, {path});
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    const bool closed = std::fclose(file) == 0;
    if (!written || !closed)
        throw EZoError(txt::Id::FileCannotBeWritten, {path});
}
