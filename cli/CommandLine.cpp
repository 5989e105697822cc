#include "cli/CommandLine.h"

#include "app/SettingsLayout.h"

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
           "       pellan-decode [options] --playlist LIST.kbm\n"
           "       pellan-decode [--plugins DIR] --list-plugins\n"
           "\n"
           "Decodes one song of INPUT into OUTPUT.wav, or every entry of a KBM playlist into a\n"
           "WAV file beside its source, through the KPI decoder plug-ins, exactly as the\n"
           "Pellan Decoder window does. The log goes to standard error.\n"
           "\n"
           "Options:\n"
           "  --playlist LIST.kbm  decode the entries of a playlist\n"
           "  --setting NAME       the stored decode setting to use (default: the first)\n"
           "  --rate HZ            sampling frequency asked of the plug-in (0: its own)\n"
           "  --bits B             bits per sample: default, 16, 24 or 32\n"
           "  --channels N         channels asked of the plug-in (0: its own)\n"
           "  --length S           seconds played of songs without a length, before the fade\n"
           "  --fade MS            length of the fade-out in milliseconds\n"
           "  --song N             the song of a file that holds several (default 1)\n"
           "  --plugins DIR        the plug-in folder (default: the stored one, the host\n"
           "                       player's, then the one installed with the program)\n"
           "  --list-plugins       list the plug-ins and the files that failed to load\n"
           "  --isolate-plugins    run every plug-in in a host process of its own, so that a\n"
           "                       plug-in that crashes or hangs costs one file, not the run\n"
           "                       (Windows plug-ins always run so, under Wine)\n"
           "  --quiet              log only errors and warnings; no progress line\n"
           "  --help               this text\n"
           "  --version            the version\n"
           "\n"
           "Exit status: 0 when everything was converted, 1 when a file failed, 2 for bad\n"
           "arguments, 130 when stopped with Ctrl+C (the file in progress is deleted).\n";
}

CommandLine ParseCommandLine(const std::vector<std::string>& arguments)
{
    CommandLine command;
    std::vector<std::string> positional;
    bool playlist = false, list = false;
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
        } else if (argument == "--setting")
            command.SettingName = value();
        else if (argument == "--rate")
            command.Rate = Number(argument, value(), settings::kSamplingFrequencyRange);
        else if (argument == "--bits") {
            const std::string bits = value();
            if (bits != "default" && bits != "16" && bits != "24" && bits != "32")
                throw std::invalid_argument("--bits must be default, 16, 24 or 32");
            command.Bits = bits;
        } else if (argument == "--channels")
            command.Channels = Number(argument, value(), settings::kChannelsRange);
        else if (argument == "--length")
            command.Length = Number(argument, value(), settings::kDefaultLengthRange);
        else if (argument == "--fade")
            command.Fade = Number(argument, value(), settings::kFadeoutLengthRange);
        else if (argument == "--song")
            command.SongNumber =
                static_cast<uint32_t>(std::stoul(Number(argument, value(), {0, 2147483647, 1, 1})));
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
    if (list) {
        if (playlist || !positional.empty())
            throw std::invalid_argument("--list-plugins decodes nothing: give no files with it");
        command.What = CommandLine::Action::ListPlugins;
    } else if (playlist) {
        if (!positional.empty())
            throw std::invalid_argument("--playlist takes no INPUT or OUTPUT");
        command.What = CommandLine::Action::DecodePlaylist;
    } else {
        if (positional.size() != 2)
            throw std::invalid_argument("give INPUT and OUTPUT.wav, or --playlist LIST.kbm");
        command.Input = positional[0];
        command.Output = positional[1];
    }
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
