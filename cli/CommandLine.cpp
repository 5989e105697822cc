#include "cli/CommandLine.h"

#include "app/SettingsLayout.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <iterator>
#include <map>
#include <set>
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

namespace {

// What the option parser hands back: the options' values as typed and the plain names. It only
// reads; which form the command is, and whether its values are usable, is decided afterwards
// by our own rules, in our own words.
struct ParsedArguments {
    std::map<std::string, std::string> Values; // by long name, the last value given
    std::set<std::string> Flags;               // the long names of the flags given
    std::vector<std::string> Names;
};

// The options: long name, short form or none, and whether a value follows. -h and -q are what
// every such tool's user types; -r and -j are recursive and jobs as in cp, grep and make; -y is
// ffmpeg's yes to overwriting. The other options have none: their letters mean something else
// in sox, flac, ffmpeg or fluidsynth (-b, -c, -f, -o, -s and -n among them).
struct KnownOption {
    const char* Long;
    const char* Short;
    bool TakesValue;
};
constexpr KnownOption kOptions[] = {
    {"--help", "-h", false},
    {"--version", nullptr, false},
    {"--playlist", nullptr, true},
    {"--out-dir", nullptr, true},
    {"--beside", nullptr, false},
    {"--recursive", "-r", false},
    {"--all-songs", nullptr, false},
    {"--overwrite", "-y", false},
    {"--dry-run", nullptr, false},
    {"--jobs", "-j", true},
    {"--setting", nullptr, true},
    {"--rate", nullptr, true},
    {"--bits", nullptr, true},
    {"--channels", nullptr, true},
    {"--length", nullptr, true},
    {"--fade", nullptr, true},
    {"--song", nullptr, true},
    {"--plugins", nullptr, true},
    {"--list-plugins", nullptr, false},
    {"--quiet", "-q", false},
    {"--isolate-plugins", nullptr, false},
};

ParsedArguments ReadArguments(const std::vector<std::string>& arguments)
{
    CLI::App app;
    app.set_help_flag(); // --help is ours, in the user's language
    app.allow_extras();  // so is naming an unknown option
    std::vector<std::pair<const KnownOption*, CLI::Option*>> options;
    for (const KnownOption& known : kOptions) {
        const std::string names =
            known.Short != nullptr ? std::string(known.Short) + "," + known.Long : known.Long;
        CLI::Option* option = nullptr;
        if (known.TakesValue)
            // A missing value is read as an empty one, which we refuse by name; every value
            // given is kept, and the last one counts, as it always has.
            option = app.add_option(names)->expected(0, 1)->multi_option_policy(
                CLI::MultiOptionPolicy::TakeAll);
        else
            option = app.add_flag(names);
        options.emplace_back(&known, option);
    }
    std::vector<std::string> names;
    app.add_option("names", names);

    // "--out-dir=" gives an empty value; the parser would take the next argument instead.
    const auto separator = std::find(arguments.begin(), arguments.end(), "--");
    for (auto it = arguments.begin(); it != separator; ++it)
        if (it->size() > 3 && it->rfind("--", 0) == 0 && it->find('=') == it->size() - 1)
            for (const auto& [known, option] : options)
                if (known->TakesValue && it->substr(0, it->size() - 1) == known->Long)
                    throw std::invalid_argument(txt::Format(txt::Id::NeedsValue, {known->Long}));

    std::vector<std::string> reversed(arguments.rbegin(), arguments.rend());
    try {
        app.parse(reversed);
    } catch (const CLI::ParseError&) {
        // Not expected with every option taking any text; its own message is English only.
        throw std::invalid_argument(txt::Text(txt::Id::UnreadableArguments));
    }
    for (const std::string& extra : app.remaining())
        if (extra != "--")
            throw std::invalid_argument(
                txt::Format(txt::Id::UnknownOption, {extra.substr(0, extra.find('='))}));
    // Every name after "--" is a name; before it, one that looks like an option (a negative
    // number too) is an option we do not know. "-" alone is a name: standard output.
    const size_t afterSeparator =
        separator == arguments.end() ? 0 : static_cast<size_t>(arguments.end() - separator - 1);
    for (size_t i = 0; i + afterSeparator < names.size(); ++i)
        if (names[i].size() > 1 && names[i][0] == '-')
            throw std::invalid_argument(txt::Format(txt::Id::UnknownOption, {names[i]}));

    ParsedArguments parsed;
    parsed.Names = std::move(names);
    for (const auto& [known, option] : options) {
        if (option->count() == 0)
            continue;
        const std::vector<std::string>& results = option->results();
        if (!known->TakesValue) {
            // "--quiet=true" is what the parser makes of a plain flag; any other value is a
            // mistake.
            if (std::any_of(results.begin(), results.end(),
                            [](const std::string& r) { return r != "true"; }))
                throw std::invalid_argument(txt::Format(txt::Id::FlagTakesNoValue, {known->Long}));
            parsed.Flags.insert(known->Long);
            continue;
        }
        if (results.size() < option->count() ||
            std::any_of(results.begin(), results.end(),
                        [](const std::string& r) { return r.empty(); }))
            throw std::invalid_argument(txt::Format(txt::Id::NeedsValue, {known->Long}));
        parsed.Values[known->Long] = results.back();
    }
    return parsed;
}

} // namespace

CommandLine ParseCommandLine(const std::vector<std::string>& arguments)
{
    const ParsedArguments parsed = ReadArguments(arguments);
    const auto given = [&](const char* flag) { return parsed.Flags.count(flag) != 0; };
    const auto value = [&](const char* option) -> std::optional<std::string> {
        const auto it = parsed.Values.find(option);
        return it == parsed.Values.end() ? std::nullopt : std::optional<std::string>(it->second);
    };
    CommandLine command;
    if (given("--help")) {
        command.What = CommandLine::Action::Help;
        return command;
    }
    if (given("--version")) {
        command.What = CommandLine::Action::Version;
        return command;
    }
    const bool playlist = value("--playlist").has_value();
    if (playlist)
        command.Input = *value("--playlist");
    command.OutDir = value("--out-dir");
    const bool beside = given("--beside");
    command.Recursive = given("--recursive");
    const bool allSongs = given("--all-songs");
    command.Overwrite = given("--overwrite");
    command.DryRun = given("--dry-run");
    if (const auto jobs = value("--jobs"))
        command.Jobs = static_cast<unsigned>(std::stoul(Number("--jobs", *jobs, {1, 1024, 1, 1})));
    command.SettingName = value("--setting");
    if (const auto rate = value("--rate"))
        command.Rate = Number("--rate", *rate, settings::kSamplingFrequencyRange);
    if (const auto bits = value("--bits")) {
        if (std::find(std::begin(settings::kBitsTexts), std::end(settings::kBitsTexts), *bits) ==
            std::end(settings::kBitsTexts))
            throw std::invalid_argument(txt::Text(txt::Id::BadBits));
        command.Bits = *bits;
    }
    if (const auto channels = value("--channels"))
        command.Channels = Number("--channels", *channels, settings::kChannelsRange);
    if (const auto length = value("--length"))
        command.Length = Number("--length", *length, settings::kDefaultLengthRange);
    if (const auto fade = value("--fade"))
        command.Fade = Number("--fade", *fade, settings::kFadeoutLengthRange);
    const std::optional<std::string> songText = value("--song");
    command.PluginFolder = value("--plugins");
    const bool list = given("--list-plugins");
    command.Quiet = given("--quiet");
    command.IsolatePlugins = given("--isolate-plugins");
    const std::vector<std::string>& positional = parsed.Names;

    const bool batch = command.OutDir.has_value() || beside;
    if (command.OutDir && beside)
        throw std::invalid_argument(txt::Text(txt::Id::OutDirOrBeside));
    if (command.DryRun && !batch && !playlist)
        throw std::invalid_argument(txt::Text(txt::Id::DryRunAlone));
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
