#include "cli/CommandLine.h"

#include "app/SettingsLayout.h"

#include <algorithm>
#include <iterator>
#include <stdexcept>

namespace {

// Accepts what the window's editors accept.
std::string Number(const std::string& option, const std::string& text,
                   const settings::NumberRange& range)
{
    size_t used = 0;
    long long value = 0;
    try {
        value = std::stoll(text, &used);
    } catch (const std::exception&) {
        used = 0;
    }
    if (used != text.size() || text.empty() || !std::isdigit(static_cast<unsigned char>(text[0])))
        throw std::invalid_argument(option + " needs a whole number, not '" + text + "'");
    if (!range.Contains(value))
        throw std::invalid_argument(option + " must lie between " + std::to_string(range.Minimum) +
                                    " and " + std::to_string(range.Maximum));
    return std::to_string(value);
}

} // namespace

std::string UsageText()
{
    return "Usage: pellan-decode [options] INPUT OUTPUT.wav\n"
           "       pellan-decode [options] --out-dir DIR INPUT...\n"
           "       pellan-decode [options] --beside INPUT...\n"
           "       pellan-decode [options] --playlist LIST.kbm\n"
           "       pellan-decode [--plugins DIR] --list-plugins\n"
           "\n"
           "Decodes audio files into WAV files through the KPI decoder plug-ins, exactly as the\n"
           "Pellan Decoder window does. The log goes to standard error.\n"
           "\n"
           "The forms are told apart by their options, never by the names of the files:\n"
           "  - with --out-dir or --beside, every name is an INPUT, a .wav file included; each\n"
           "    becomes a WAV file named after it, in DIR or beside the input. An existing\n"
           "    output is skipped with a warning unless --overwrite is given; two inputs that\n"
           "    would write the same output, and an INPUT that is another input's output, are\n"
           "    refused before anything starts. Each output is written under a hidden\n"
           "    temporary name (.pellan-*.part) and takes its name only once it is complete:\n"
           "    a song that fails or is stopped leaves nothing under its name (an older file\n"
           "    there stays), so running the same command again converts exactly what is\n"
           "    missing. Temporary files left by a run that was killed are removed by the next\n"
           "    run over their folder;\n"
           "  - with --playlist, every entry of the playlist becomes a WAV file beside its\n"
           "    source, as in the window's playlist tab;\n"
           "  - otherwise exactly two names are given: INPUT and the OUTPUT it is written to\n"
           "    (replaced if it exists).\n"
           "\n"
           "Like the window, a conversion leaves its log in pellan-decode.log and the plug-ins'\n"
           "description in plugin.cache, beside the program; where the program's folder cannot\n"
#ifdef _WIN32
           "be written, in %LOCALAPPDATA%\\Quenz\\PellanDecoder\\.\n"
#else
           "be written, in $XDG_STATE_HOME/pellandecoder/ (~/.local/state/pellandecoder/) and\n"
           "$XDG_CACHE_HOME/pellandecoder/ (~/.cache/pellandecoder/).\n"
#endif
           "\n"
           "Options:\n"
           "  --out-dir DIR        write the outputs of the INPUTs into DIR\n"
           "  --beside             write each output beside its INPUT\n"
           "  --recursive          walk the folders among the INPUTs, taking the files that a\n"
           "                       plug-in claims (not DIR itself, nor the outputs of other\n"
           "                       INPUTs)\n"
           "  --all-songs          every song of a multi-song file, as NAME[n].wav; a file that\n"
           "                       claims more than 10000 songs needs --song A-B instead\n"
           "  --song N | A-B       the song N (or songs A to B) of a multi-song file; with\n"
           "                       INPUT OUTPUT only one song N (default 1)\n"
           "  --overwrite          replace existing outputs of --out-dir or --beside, each\n"
           "                       only once its new file is complete\n"
           "  --jobs N             songs decoded at once (default: one per processor; for\n"
           "                       --playlist 1, which runs the entries exactly as the window)\n"
           "  --playlist LIST.kbm  decode the entries of a playlist\n"
           "  --setting NAME       the stored decode setting to use (default: the first)\n"
           "  --rate HZ            sampling frequency asked of the plug-in (0: its own)\n"
           "  --bits B             bits per sample: default, 16, 24 or 32\n"
           "  --channels N         channels asked of the plug-in (0: its own)\n"
           "  --length S           seconds played of songs without a length, before the fade\n"
           "  --fade MS            length of the fade-out in milliseconds (0: none, the song\n"
           "                       is cut where the fade would begin)\n"
           "  --plugins DIR        the plug-in folder (default: the stored one, the host\n"
           "                       player's, then the one installed with the program)\n"
           "  --list-plugins       list the plug-ins and the files that failed to load\n"
           "  --isolate-plugins    run every plug-in in a host process of its own, so that a\n"
           "                       plug-in that crashes or hangs costs one file, not the run\n"
#ifdef _WIN32
           "                       (plug-ins of the other bitness always run so)\n"
#else
           "                       (Windows plug-ins always run so, under Wine)\n"
#endif
           "  --quiet              log only errors and warnings; no progress or status line\n"
           "  --help               this text\n"
           "  --version            the version\n"
           "\n"
           "Exit status: 0 when everything was converted (or skipped as asked), 1 when a file\n"
#ifdef _WIN32
           "failed, 2 for bad arguments, 130 when stopped with Ctrl+C or Ctrl+Break (the files in\n"
           "progress are deleted, finished ones stay). A second Ctrl+C ends the program at once.\n";
#else
           "failed, 2 for bad arguments, 130 when stopped with Ctrl+C and 143 with SIGTERM (the\n"
           "files in progress are deleted, finished ones stay). A second Ctrl+C or SIGTERM ends\n"
           "the program at once.\n";
#endif
}

CommandLine ParseCommandLine(const std::vector<std::string>& arguments)
{
    CommandLine command;
    std::vector<std::string> positional;
    bool playlist = false, list = false, beside = false, allSongs = false;
    std::optional<std::string> songText;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        const auto value = [&]() -> std::string {
            if (i + 1 >= arguments.size())
                throw std::invalid_argument(argument + " needs a value");
            return arguments[++i];
        };
        if (argument == "--help" || argument == "-h") {
            command.What = CommandLine::Action::Help;
            return command;
        }
        if (argument == "--version") {
            command.What = CommandLine::Action::Version;
            return command;
        }
        if (argument == "--playlist") {
            playlist = true;
            command.Input = value();
        } else if (argument == "--out-dir")
            command.OutDir = value();
        else if (argument == "--beside")
            beside = true;
        else if (argument == "--recursive")
            command.Recursive = true;
        else if (argument == "--all-songs")
            allSongs = true;
        else if (argument == "--overwrite")
            command.Overwrite = true;
        else if (argument == "--jobs")
            command.Jobs =
                static_cast<unsigned>(std::stoul(Number(argument, value(), {1, 1024, 1, 1})));
        else if (argument == "--setting")
            command.SettingName = value();
        else if (argument == "--rate")
            command.Rate = Number(argument, value(), settings::kSamplingFrequencyRange);
        else if (argument == "--bits") {
            const std::string bits = value();
            if (std::find(std::begin(settings::kBitsTexts), std::end(settings::kBitsTexts), bits) ==
                std::end(settings::kBitsTexts))
                throw std::invalid_argument("--bits must be default, 16, 24 or 32");
            command.Bits = bits;
        } else if (argument == "--channels")
            command.Channels = Number(argument, value(), settings::kChannelsRange);
        else if (argument == "--length")
            command.Length = Number(argument, value(), settings::kDefaultLengthRange);
        else if (argument == "--fade")
            command.Fade = Number(argument, value(), settings::kFadeoutLengthRange);
        else if (argument == "--song")
            songText = value();
        else if (argument == "--plugins")
            command.PluginFolder = value();
        else if (argument == "--list-plugins")
            list = true;
        else if (argument == "--quiet" || argument == "-q")
            command.Quiet = true;
        else if (argument == "--isolate-plugins")
            command.IsolatePlugins = true;
        else if (argument == "--") {
            positional.insert(positional.end(), arguments.begin() + static_cast<long>(i) + 1,
                              arguments.end());
            break;
        } else if (argument.size() > 1 && argument[0] == '-')
            throw std::invalid_argument("unknown option " + argument);
        else
            positional.push_back(argument);
    }

    const bool batch = command.OutDir.has_value() || beside;
    if (command.OutDir && beside)
        throw std::invalid_argument("give --out-dir DIR or --beside, not both");
    if (list) {
        if (playlist || batch || !positional.empty())
            throw std::invalid_argument("--list-plugins decodes nothing: give no files with it");
        command.What = CommandLine::Action::ListPlugins;
        return command;
    }
    if (!batch && (command.Recursive || allSongs || command.Overwrite))
        throw std::invalid_argument(
            "--recursive, --all-songs and --overwrite go with --out-dir DIR or --beside");
    if (playlist) {
        if (batch || !positional.empty())
            throw std::invalid_argument("--playlist takes no INPUT, OUTPUT, --out-dir or --beside");
        if (songText)
            throw std::invalid_argument("--playlist takes its song numbers from the playlist");
        command.What = CommandLine::Action::DecodePlaylist;
        return command;
    }
    if (batch) {
        if (positional.empty())
            throw std::invalid_argument("give the INPUT files to convert");
        if (allSongs && songText)
            throw std::invalid_argument("give --all-songs or --song, not both");
        command.What = CommandLine::Action::DecodeBatch;
        command.Inputs = positional;
        if (allSongs)
            command.Songs.What = SongSelection::Kind::All;
        if (songText) {
            const size_t dash = songText->find('-', 1);
            const std::string first = songText->substr(0, dash);
            const std::string last = dash == std::string::npos ? first : songText->substr(dash + 1);
            command.Songs.What = SongSelection::Kind::Range;
            command.Songs.First =
                static_cast<uint32_t>(std::stoul(Number("--song", first, {0, 2147483647, 1, 1})));
            command.Songs.Last =
                static_cast<uint32_t>(std::stoul(Number("--song", last, {0, 2147483647, 1, 1})));
            if (command.Songs.Last < command.Songs.First)
                throw std::invalid_argument("--song " + *songText + " runs backwards");
        }
        return command;
    }
    if (positional.size() != 2)
        throw std::invalid_argument(
            "give INPUT and OUTPUT.wav, --out-dir DIR or --beside with the INPUTs, or "
            "--playlist LIST.kbm");
    command.Input = positional[0];
    command.Output = positional[1];
    if (songText)
        command.SongNumber =
            static_cast<uint32_t>(std::stoul(Number("--song", *songText, {0, 2147483647, 1, 1})));
    return command;
}

DecodeSettingRow ChooseSetting(const CommandLine& command,
                               const std::vector<DecodeSettingRow>& rows)
{
    if (rows.empty())
        throw std::invalid_argument("no decode setting is stored");
    const DecodeSettingRow* chosen = &rows.front();
    if (command.SettingName) {
        chosen = nullptr;
        for (const auto& row : rows)
            if (row.Name == *command.SettingName)
                chosen = &row;
        // The store ignores letter case in names; so does the command.
        for (const auto& row : rows)
            if (chosen == nullptr && SameSettingName(row.Name, *command.SettingName))
                chosen = &row;
        if (chosen == nullptr) {
            std::string names;
            for (const auto& row : rows)
                names += (names.empty() ? "" : ", ") + row.Name;
            throw std::invalid_argument("no decode setting named '" + *command.SettingName +
                                        "' (there are: " + names + ")");
        }
    }
    DecodeSettingRow row = *chosen;
    if (command.Rate)
        row.Values[kRate] = *command.Rate;
    if (command.Bits)
        row.Values[kBits] = *command.Bits;
    if (command.Channels)
        row.Values[kChannels] = *command.Channels;
    if (command.Length)
        row.Values[kDefaultLength] = *command.Length;
    if (command.Fade)
        row.Values[kFadeout] = *command.Fade;
    return row;
}
