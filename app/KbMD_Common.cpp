#include "app/KbMD_Common.h"

#include "platform/Errors.h"

#include <cstdio>

TAppRegistry* AppRegistry = nullptr;
TRunLog* RunLog = nullptr;

QString ToQString(const std::string& text)
{
    return QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size()));
}

std::string FromQString(const QString& text)
{
    const QByteArray bytes = text.toLocal8Bit();
    return std::string(bytes.constData(), static_cast<size_t>(bytes.size()));
}

TAppRegistry::TAppRegistry() : FSettings(kOrganization, kApplication) {}

std::string TAppRegistry::ReadString(const std::string& section, const std::string& name,
                                     const std::string& defaultValue) const
{
    const QString key = ToQString(section) + "/" + ToQString(name);
    if (!FSettings.contains(key))
        return defaultValue;
    return FromQString(FSettings.value(key).toString());
}

void TAppRegistry::WriteString(const std::string& section, const std::string& name,
                               const std::string& value)
{
    FSettings.setValue(ToQString(section) + "/" + ToQString(name), ToQString(value));
}

void TAppRegistry::Flush()
{
    FSettings.sync();
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
