// What the windows show beyond the table's captions: the texts that are the same in every
// language, and the captions made of parts. Both window programs take them from here, so that
// they read alike; every caption itself is a text of the table (texts/TextTable.inc).
#pragma once

#include "texts/Texts.h"

#include <string>

namespace wndtext {

inline constexpr const char* kApplicationTitle = "Pellan Decoder";
// A progress label before the first decode.
inline constexpr const char* kNoProgress = "--:--.--- / --:--.---";

// The decode settings list's columns, in order.
inline constexpr txt::Id kSettingColumns[6] = {
    txt::Id::NameColumn,     txt::Id::SamplingFrequencyColumn, txt::Id::BitsColumn,
    txt::Id::ChannelsColumn, txt::Id::DefaultLengthColumn,     txt::Id::FadeoutLengthColumn};
// The settings group's caption names the setting it shows; before any, the first built-in one.
inline std::string SettingGroupCaption(const std::string& name)
{
    return txt::Format(txt::Id::SettingGroupCaption, {name});
}
inline std::string InitialSettingGroupCaption()
{
    return SettingGroupCaption(txt::Text(txt::Id::CdSettingName));
}

// About.
inline constexpr const char* kAboutTitle = "PellanDecoder";
inline constexpr txt::Id kCredits[4] = {txt::Id::Credits1, txt::Id::Credits2, txt::Id::Credits3,
                                        txt::Id::Credits4};
inline constexpr const char* kWebAddress = "https://quenz.example.org/pellandecoder/";
inline constexpr const char* kMailAddress = "mailto:pellandecoder@quenz.example.org";
// "Version 1.0.0.79 (debug)", on the About tab and on the splash window; the suffix is always
// there, also when the version is unknown.
inline std::string VersionLabel(const std::string& version)
{
    return "Version " + version + " (debug)";
}

// The splash window.
inline constexpr const char* kSplashCredit = "(c) The PellanDecoder developers";
inline std::string SplashCountStatus(size_t plugins)
{
    return txt::Format(txt::Id::SplashPluginCount, {std::to_string(plugins)});
}

} // namespace wndtext
