// Where the program keeps its settings and which values they may take: the keys and value names
// of the settings store, the ranges of the settings editors, and the rows the settings list
// starts with. The window, the command line and every store backend take them from here, so
// that a stored file of one release is read by the next.
#pragma once

#include "texts/Texts.h"

#include <cstdint>

namespace settings {

// The program's own key: HKEY_CURRENT_USER\Software\Quenz\PellanDecoder on Windows, the
// organization and application of the settings file elsewhere.
inline constexpr const char* kOrganization = "Quenz";
inline constexpr const char* kApplication = "PellanDecoder";
inline constexpr const char* kProgramKey = "Software\\Quenz\\PellanDecoder";

// Sub-keys below the program's key; a key path uses "\" between its levels.
inline constexpr const char* kSearchPathKey = "SearchPath";
inline constexpr const char* kPluginsValue = "Plugins";             // string: the plug-in folder
inline constexpr const char* kDecodeSettingsKey = "DecodeSettings"; // one sub-key per setting

// The five 32-bit values of a decode setting's key, in the order of the settings list's columns.
inline constexpr const char* kDecodeSettingValueNames[5] = {
    "SamplingFrequency", "BitsPerSample", "Channels", "DefaultLength", "FadeoutLength"};

// The host player's own key, read only: its SearchPath sub-key holds the full path of the
// player's executable.
inline constexpr const char* kHostPlayerOrganization = "Tavoren's Soft";
inline constexpr const char* kHostPlayerApplication = "KbMIDI Player";
inline constexpr const char* kHostPlayerKey = "Software\\Tavoren's Soft\\KbMIDI Player";
inline constexpr const char* kHostPlayerSearchPathKey = "SearchPath";
inline constexpr const char* kHostPlayerValue = "Kbmplay";

// A number editor: its range, its arrow step and the value it shows before anything is chosen.
struct NumberRange {
    int32_t Minimum;
    int32_t Maximum;
    int32_t Step;
    int32_t Initial;
    constexpr bool Contains(int64_t value) const { return value >= Minimum && value <= Maximum; }
};

inline constexpr NumberRange kSamplingFrequencyRange{0, 192000, 25, 44100};
inline constexpr NumberRange kChannelsRange{0, 10, 1, 1};
inline constexpr NumberRange kDefaultLengthRange{10, 3600, 1, 120};     // seconds
inline constexpr NumberRange kFadeoutLengthRange{0, 100000, 100, 5000}; // milliseconds
inline constexpr NumberRange kSongNumberRange{1, 255, 1, 1};

// What the editors show for a row whose number does not convert, in the columns' order (the
// bits column has no number).
inline constexpr int32_t kShownWhenNotANumber[5] = {44100, 0, 2, 120, 5000};

// The items of the bits editor; "default" leaves the depth to the plug-in and is stored as 0.
inline constexpr const char* kBitsTexts[4] = {"default", "16", "24", "32"};
inline constexpr int kInitialBitsItem = 1; // "16"

// A settings row as texts: its name (in the user's language) and its five values in the
// columns' order.
struct RowTexts {
    txt::Id Name;
    const char* Values[5];
};

// The list's content when nothing is stored (a first start, or after every setting was deleted).
inline constexpr RowTexts kBuiltInRows[2] = {
    {txt::Id::CdSettingName, {"44100", "16", "2", "115", "5000"}},
    {txt::Id::PluginDefaultSettingName, {"0", "default", "0", "86", "4000"}},
};

// The row the add button makes.
inline constexpr RowTexts kNewRow = {txt::Id::NewSettingName, {"44100", "16", "2", "120", "5000"}};

} // namespace settings
