// Named decode settings: the sound format asked of a plug-in, the length assumed for songs
// without one, and the fade-out. A setting is held as the texts of its row (name and five
// numbers), as the settings list shows it; the store keeps one group per setting.
#pragma once

#include "kpi/KpiInterface.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class QSettings;

struct DecodeSetting {
    uint32_t SamplingFrequency = 0; // Hz; 0: the plug-in's own
    uint32_t BitsPerSample = 0;     // 0: the plug-in's own
    uint32_t Channels = 0;          // 0: the plug-in's own
    uint32_t DefaultLength = 0;     // seconds, for songs without a length
    uint32_t FadeoutLength = 0;     // milliseconds
};

// One row of the settings list: its caption and the texts of its five sub-items, in the
// order of DecodeSetting's fields. The bits text is one of kBitsTexts, or a number.
struct DecodeSettingRow {
    std::string Name;
    std::array<std::string, 5> Values;
};

enum DecodeSettingColumn { kRate = 0, kBits = 1, kChannels = 2, kDefaultLength = 3, kFadeout = 4 };

// The items of the bits editor; "default" leaves the depth to the plug-in.
inline constexpr const char* kBitsTexts[4] = {"default", "16", "24", "32"};

// The list's content when the store holds no settings.
std::vector<DecodeSettingRow> BuiltInDecodeSettings();
// A row added by the add button.
DecodeSettingRow NewDecodeSettingRow(const std::string& name);

// The stored settings in the store's order (sorted by name, letter case ignored); nothing when
// the store holds no settings group.
std::optional<std::vector<DecodeSettingRow>> LoadDecodeSettingRows(QSettings& store);
// Replaces the stored settings by rows (none: the group is removed).
void SaveDecodeSettingRows(QSettings& store, const std::vector<DecodeSettingRow>& rows);

// The numbers of a row. A number text that is not a whole number fails with the conversion's
// message; a negative one with "Range check error".
DecodeSetting ReadDecodeSetting(const DecodeSettingRow& row);
// The format asked of the plug-in: rate, channels and bits from the row, every other field 0.
SoundFormat ReadRequestedFormat(const DecodeSettingRow& row);
// "default" and any text that is not one of the bits editor's items give 0.
uint32_t BitsFromText(const std::string& text);
