#include "app/DecodeSettings.h"

#include "app/Conversions.h"
#include "app/MainWndTexts.h"
#include "app/SettingsStore.h"
#include "platform/Errors.h"

#include <cstdlib>

namespace {

DecodeSettingRow RowFromTexts(const settings::RowTexts& texts, const std::string& name)
{
    DecodeSettingRow row;
    row.Name = name;
    for (int i = 0; i < 5; ++i)
        row.Values[i] = texts.Values[i];
    return row;
}

std::string SettingKey(const std::string& name)
{
    return std::string(settings::kDecodeSettingsKey) + "\\" + name;
}

} // namespace

bool SameSettingName(const std::string& a, const std::string& b)
{
    // ASCII letters are folded, as every store folds them.
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i]))
            return false;
    }
    return true;
}

std::vector<DecodeSettingRow> BuiltInDecodeSettings()
{
    std::vector<DecodeSettingRow> rows;
    for (const settings::RowTexts& texts : settings::kBuiltInRows)
        rows.push_back(RowFromTexts(texts, txt::Text(texts.Name)));
    return rows;
}

DecodeSettingRow NewDecodeSettingRow(const std::string& name)
{
    return RowFromTexts(settings::kNewRow, name);
}

std::string RefuseSettingName(const std::string& name, const std::vector<std::string>& others)
{
    if (name.empty())
        return txt::Text(txt::Id::SettingNameEmpty);
    if (name.find_first_of("\\/") != std::string::npos)
        return txt::Text(txt::Id::SettingNameSeparator);
    for (const std::string& other : others)
        if (SameSettingName(name, other))
            return txt::Format(txt::Id::SettingNameTaken, {name});
    return std::string();
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

const settings::NumberRange* DecodeSettingRange(DecodeSettingColumn column)
{
    switch (column) {
    case kRate:
        return &settings::kSamplingFrequencyRange;
    case kChannels:
        return &settings::kChannelsRange;
    case kDefaultLength:
        return &settings::kDefaultLengthRange;
    case kFadeout:
        return &settings::kFadeoutLengthRange;
    default:
        return nullptr;
    }
}

std::optional<std::vector<DecodeSettingRow>>
LoadDecodeSettingRows(const ISettingsStore& store, std::vector<std::string>* warnings)
{
    if (!store.KeyExists(settings::kDecodeSettingsKey))
        return std::nullopt;
    std::vector<DecodeSettingRow> rows;
    for (const std::string& name : store.SubKeys(settings::kDecodeSettingsKey)) {
        const std::string key = SettingKey(name);
        DecodeSettingRow row;
        row.Name = name;
        for (int i = 0; i < 5; ++i) {
            // Stored as 32-bit integers and shown as signed numbers.
            const uint32_t value =
                store.ReadInteger(key, settings::kDecodeSettingValueNames[i]).value_or(0);
            row.Values[i] = std::to_string(static_cast<int32_t>(value));
            // The same ranges as typed values; a default length of 0 would leave only the fade.
            const auto* range = DecodeSettingRange(static_cast<DecodeSettingColumn>(i));
            if (range != nullptr && !range->Contains(value)) {
                const int32_t builtIn = settings::kShownWhenNotANumber[i];
                if (warnings != nullptr)
                    warnings->push_back(
                        txt::Format(txt::Id::StoredSettingOutOfRange,
                                    {name, txt::Text(wndtext::kSettingColumns[i + 1]),
                                     std::to_string(value), std::to_string(range->Minimum),
                                     std::to_string(range->Maximum), std::to_string(builtIn)}));
                row.Values[i] = std::to_string(builtIn);
            }
        }
        if (row.Values[kBits] == "0")
            row.Values[kBits] = settings::kBitsTexts[0];
        rows.push_back(row);
    }
    return rows;
}

void SaveDecodeSettingRows(ISettingsStore& store, const std::vector<DecodeSettingRow>& rows)
{
    store.DeleteKey(settings::kDecodeSettingsKey);
    for (const DecodeSettingRow& row : rows) {
        const std::string key = SettingKey(row.Name);
        for (int i = 0; i < 5; ++i) {
            // "default" is no number: stored as 0.
            const char* text = row.Values[i].c_str();
            char* end = nullptr;
            const long long value = std::strtoll(text, &end, 10);
            const bool number = !row.Values[i].empty() && *end == '\0';
            store.WriteInteger(key, settings::kDecodeSettingValueNames[i],
                               static_cast<uint32_t>(number ? value : 0));
        }
    }
    store.Flush();
}
