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
        throw std::invalid_argument(txt::Format(txt::Id::NeedsWholeNumber, {option, text}));
    if (!range.Contains(value))
        throw std::invalid_argument(
            txt::Format(txt::Id::NumberOutOfRange,
                        {option, std::to_string(range.Minimum), std::to_string(range.Maximum)}));
    return std::to_string(value);
}

} // namespace

std::string UsageText()
{
    using txt::Id;
#ifdef _WIN32
    const Id files = Id::HelpFilesWindows, isolate = Id::HelpIsolateWindows,
             exit = Id::HelpExitWindows;
#else
    const Id files = Id::HelpFilesLinux, isolate = Id::HelpIsolateLinux, exit = Id::HelpExitLinux;
#endif
    std::string text;
    for (const Id part : {Id::HelpIntro, files, Id::HelpOptions, isolate, Id::HelpOptionsEnd, exit})
        text += txt::Text(part);
    return text;
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
                throw std::invalid_argument(txt::Format(txt::Id::NeedsValue, {argument}));
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
                throw std::invalid_argument(txt::Text(txt::Id::BadBits));
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
            throw std::invalid_argument(txt::Format(txt::Id::UnknownOption, {argument}));
        else
            positional.push_back(argument);
    }

    const bool batch = command.OutDir.has_value() || beside;
    if (command.OutDir && beside)
        throw std::invalid_argument(txt::Text(txt::Id::OutDirOrBeside));
    if (list) {
        if (playlist || batch || !positional.empty())
            throw std::invalid_argument(txt::Text(txt::Id::ListTakesNoFiles));
        command.What = CommandLine::Action::ListPlugins;
        return command;
    }
    if (!batch && (command.Recursive || allSongs || command.Overwrite))
        throw std::invalid_argument(txt::Text(txt::Id::BatchOptionsAlone));
    if (playlist) {
        if (batch || !positional.empty())
            throw std::invalid_argument(txt::Text(txt::Id::PlaylistAlone));
        if (songText)
            throw std::invalid_argument(txt::Text(txt::Id::PlaylistSongs));
        command.What = CommandLine::Action::DecodePlaylist;
        return command;
    }
    if (batch) {
        if (positional.empty())
            throw std::invalid_argument(txt::Text(txt::Id::NoInputs));
        if (allSongs && songText)
            throw std::invalid_argument(txt::Text(txt::Id::AllSongsOrSong));
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
                throw std::invalid_argument(txt::Format(txt::Id::SongsBackwards, {*songText}));
        }
        return command;
    }
    if (positional.size() != 2)
        throw std::invalid_argument(txt::Text(txt::Id::WhichForm));
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
        throw std::invalid_argument(txt::Text(txt::Id::NoStoredSetting));
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
        // A built-in setting answers to its name in either language, so that a script keeps
        // working under another locale before any setting is stored.
        for (const settings::RowTexts& builtIn : settings::kBuiltInRows) {
            const std::string names[] = {txt::Text(builtIn.Name, txt::Language::Japanese),
                                         txt::Text(builtIn.Name, txt::Language::English)};
            if (chosen != nullptr ||
                std::none_of(std::begin(names), std::end(names), [&](const std::string& name) {
                    return SameSettingName(name, *command.SettingName);
                }))
                continue;
            for (const auto& row : rows)
                if (chosen == nullptr && (row.Name == names[0] || row.Name == names[1]))
                    chosen = &row;
        }
        if (chosen == nullptr) {
            std::string names;
            for (const auto& row : rows)
                names += (names.empty() ? "" : ", ") + row.Name;
            throw std::invalid_argument(
                txt::Format(txt::Id::NoSuchSetting, {*command.SettingName, names}));
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
