// Named decode settings: the sound format asked of a plug-in, the length assumed for songs
// without one, and the fade-out. A setting is held as the texts of its row (name and five
// numbers), as the settings list shows it; the store keeps one group per setting.
#pragma once

#include "app/SettingsLayout.h"
#include "kpi/KpiInterface.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class ISettingsStore;

struct DecodeSetting {
    uint32_t SamplingFrequency = 0; // Hz; 0: the plug-in's own
    uint32_t BitsPerSample = 0;     // 0: the plug-in's own
    uint32_t Channels = 0;          // 0: the plug-in's own
    uint32_t DefaultLength = 0;     // seconds, for songs without a length
    uint32_t FadeoutLength = 0;     // milliseconds
};

// One row of the settings list: its caption and the texts of its five sub-items, in the
// order of DecodeSetting's fields. The bits text is one of settings::kBitsTexts, or a number.
struct DecodeSettingRow {
    std::string Name;
    std::array<std::string, 5> Values;
};

enum DecodeSettingColumn { kRate = 0, kBits = 1, kChannels = 2, kDefaultLength = 3, kFadeout = 4 };

// The list's content when the store holds no settings.
std::vector<DecodeSettingRow> BuiltInDecodeSettings();
// A row added by the add button.
DecodeSettingRow NewDecodeSettingRow(const std::string& name);

// The stored settings in the store's order (sorted by name, letter case ignored); nothing when
// the store holds no settings key. A setting's key that lacks a value reads it as 0. A number
// outside the range its editor allows (another program may have written it) is replaced by the
// built-in value, and a warning line says so in warnings, when given.
std::optional<std::vector<DecodeSettingRow>>
LoadDecodeSettingRows(const ISettingsStore& store, std::vector<std::string>* warnings = nullptr);
// The range of a numeric column's editor; none for the bits column, which is a list.
const settings::NumberRange* DecodeSettingRange(DecodeSettingColumn column);
// Replaces the stored settings by rows (none: the key is removed) and flushes the store.
void SaveDecodeSettingRows(ISettingsStore& store, const std::vector<DecodeSettingRow>& rows);

// Why name cannot name a setting among names (the other rows' names): "" when it can. A setting
// is stored under its name, so the name must be one key of its own: not empty, without "\" or
// "/", and unlike every other name whatever the letter case.
std::string RefuseSettingName(const std::string& name, const std::vector<std::string>& others);
// Whether two names name the same stored setting: the store ignores the letter case of keys.
bool SameSettingName(const std::string& a, const std::string& b);

// The numbers of a row. A number text that is not a whole number fails with the conversion's
// message; a negative one with "Range check error".
DecodeSetting ReadDecodeSetting(const DecodeSettingRow& row);
// The format asked of the plug-in: rate, channels and bits from the row, every other field 0.
SoundFormat ReadRequestedFormat(const DecodeSettingRow& row);
// "default" and any text that is not one of the bits editor's items give 0.
uint32_t BitsFromText(const std::string& text);
