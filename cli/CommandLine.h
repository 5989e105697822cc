// The command line of pellan-decode: what to decode, with which setting, from which plug-ins.
//
// The forms are told apart by their options alone, never by file names:
//   --list-plugins                     the plug-ins, nothing decoded
//   --playlist LIST.kbm                every entry of a playlist, beside its source
//   --out-dir DIR or --beside INPUT... every INPUT (files, or folders with --recursive)
//   INPUT OUTPUT                       one song of INPUT into OUTPUT (exactly two names);
//                                      OUTPUT "-" is standard output
#pragma once

#include "app/BatchDecoding.h"
#include "app/DecodeSettings.h"

#include <optional>
#include <string>
#include <vector>

struct CommandLine {
    enum class Action { Decode, DecodeBatch, DecodePlaylist, ListPlugins, Help, Version };
    Action What = Action::Decode;
    std::string Input;                 // Decode: the source file; DecodePlaylist: the playlist
    std::string Output;                // Decode only; "-" for standard output
    std::vector<std::string> Inputs;   // DecodeBatch: files and folders as given
    std::optional<std::string> OutDir; // DecodeBatch: the outputs' folder; none: beside
    bool Recursive = false;
    bool Overwrite = false;
    bool DryRun = false; // DecodeBatch, DecodePlaylist: say what would be done, do nothing
    SongSelection Songs; // DecodeBatch
    std::optional<std::string> SettingName;
    // Fields of the setting replaced from the command line, as the settings list holds them.
    std::optional<std::string> Rate, Bits, Channels, Length, Fade;
    uint32_t SongNumber = 1; // Decode
    unsigned Jobs = 0;       // 0: one per processor
    std::optional<std::string> PluginFolder;
    bool Quiet = false;
    // Plug-ins of this system run in host processes too, as Windows plug-ins always do.
    bool IsolatePlugins = false;
};

// Reads argv (without the program name). Options take their value as "--opt VALUE" or
// "--opt=VALUE" (short forms as "-j 4" or "-j4"); the last value given counts. Throws
// std::invalid_argument with the reason, one line naming the argument at fault, when the
// arguments are not usable.
CommandLine ParseCommandLine(const std::vector<std::string>& arguments);

// The setting row the command asks for: the named one (the first when none is named) from
// rows, with the command's replacements. Throws std::invalid_argument for an unknown name or a
// replacement out of the settings' ranges.
DecodeSettingRow ChooseSetting(const CommandLine& command,
                               const std::vector<DecodeSettingRow>& rows);

std::string UsageText();

// Whether OUTPUT names standard output rather than a file.
inline bool IsStandardOutput(const std::string& output)
{
    return output == "-";
}
