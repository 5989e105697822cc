#include "app/KbMD_Common.h"

#include "platform/Errors.h"

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
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr)
        throw EZoError("ファイル " + path + " を作成できません");
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    const bool closed = std::fclose(file) == 0;
    if (!written || !closed)
        throw EZoError("ファイル " + path + " に書き込めません");
}
