#include "app/DecodeSettings.h"

#include "app/Conversions.h"
#include "app/KbMD_Common.h"
#include "platform/Errors.h"

#include <QSettings>
#include <QStringList>

#include <algorithm>
#include <cstdlib>

namespace {

constexpr const char* kGroup = "DecodeSettings";
constexpr const char* kValueNames[5] = {"SamplingFrequency", "BitsPerSample", "Channels",
                                        "DefaultLength", "FadeoutLength"};

} // namespace

std::vector<DecodeSettingRow> BuiltInDecodeSettings()
{
    return {
        {"CD", {"44100", "16", "2", "115", "5000"}},
        {"プラグインのデフォルト", {"0", "default", "0", "86", "4000"}},
    };
}

DecodeSettingRow NewDecodeSettingRow(const std::string& name)
{
    return {name, {"44100", "16", "2", "120", "5000"}};
}

uint32_t BitsFromText(const std::string& text)
{
    if (text == "16")
        return 16;
    if (text == "24")
        return 24;
    if (text == "32")
        return 32;
    return 0;
}

DecodeSetting ReadDecodeSetting(const DecodeSettingRow& row)
{
    DecodeSetting setting;
    setting.SamplingFrequency = StrToCardinal(row.Values[kRate]);
    setting.BitsPerSample = BitsFromText(row.Values[kBits]);
    setting.Channels = StrToCardinal(row.Values[kChannels]);
    setting.DefaultLength = StrToCardinal(row.Values[kDefaultLength]);
    setting.FadeoutLength = StrToCardinal(row.Values[kFadeout]);
    return setting;
}

SoundFormat ReadRequestedFormat(const DecodeSettingRow& row)
{
    SoundFormat format{};
    format.SampleRate = StrToCardinal(row.Values[kRate]);
    format.Channels = StrToCardinal(row.Values[kChannels]);
    format.BitsPerSample = BitsFromText(row.Values[kBits]);
    return format;
}

std::optional<std::vector<DecodeSettingRow>> LoadDecodeSettingRows(QSettings& store)
{
    if (!store.childGroups().contains(QString::fromLatin1(kGroup)))
        return std::nullopt;
    store.beginGroup(QString::fromLatin1(kGroup));
    QStringList names = store.childGroups();
    store.endGroup();
    // As the registry enumerates keys: by name, letter case ignored.
    std::stable_sort(names.begin(), names.end(), [](const QString& a, const QString& b) {
        return QString::compare(a, b, Qt::CaseInsensitive) < 0;
    });
    std::vector<DecodeSettingRow> rows;
    for (const QString& name : names) {
        store.beginGroup(QString::fromLatin1(kGroup) + "/" + name);
        DecodeSettingRow row;
        row.Name = FromQString(name);
        for (int i = 0; i < 5; ++i) {
            // Stored as 32-bit integers and shown as signed numbers.
            const int32_t value = static_cast<int32_t>(store.value(kValueNames[i], 0).toLongLong());
            row.Values[i] = std::to_string(value);
        }
        if (row.Values[kBits] == "0")
            row.Values[kBits] = kBitsTexts[0];
        store.endGroup();
        rows.push_back(row);
    }
    return rows;
}

void SaveDecodeSettingRows(QSettings& store, const std::vector<DecodeSettingRow>& rows)
{
    store.remove(QString::fromLatin1(kGroup));
    for (const DecodeSettingRow& row : rows) {
        store.beginGroup(QString::fromLatin1(kGroup) + "/" + ToQString(row.Name));
        for (int i = 0; i < 5; ++i) {
            // "default" is no number: stored as 0.
            const char* text = row.Values[i].c_str();
            char* end = nullptr;
            const long long value = std::strtoll(text, &end, 10);
            const bool number = !row.Values[i].empty() && *end == '\0';
            store.setValue(kValueNames[i], static_cast<int32_t>(number ? value : 0));
        }
        store.endGroup();
    }
    store.sync();
}
