// The command line as read: both ways of giving a value, the short forms, and one message that
// names the argument at fault.
#include "cli/CommandLine.h"

#include <gtest/gtest.h>

namespace {

CommandLine Parse(std::vector<std::string> arguments)
{
    return ParseCommandLine(arguments);
}

// The message of the refusal, or "" when the arguments were taken.
std::string Refusal(std::vector<std::string> arguments)
{
    try {
        ParseCommandLine(arguments);
    } catch (const std::invalid_argument& e) {
        return e.what();
    }
    return std::string();
}

} // namespace

TEST(CommandLine, AValueFollowsAsTheNextArgumentOrAfterAnEqualsSign)
{
    for (const auto& arguments : std::vector<std::vector<std::string>>{
             {"--out-dir", "wav", "--jobs", "3", "--song", "2-4", "--setting", "CD", "a.nsf"},
             {"--out-dir=wav", "--jobs=3", "--song=2-4", "--setting=CD", "a.nsf"},
             {"-j3", "--out-dir=wav", "--song", "2-4", "--setting=CD", "a.nsf"},
             {"a.nsf", "-j", "3", "--setting", "CD", "--out-dir", "wav", "--song=2-4"},
         }) {
        SCOPED_TRACE(testing::PrintToString(arguments));
        const CommandLine command = Parse(arguments);
        EXPECT_EQ(command.What, CommandLine::Action::DecodeBatch);
        EXPECT_EQ(command.OutDir, "wav");
        EXPECT_EQ(command.Jobs, 3u);
        EXPECT_EQ(command.Songs.First, 2u);
        EXPECT_EQ(command.Songs.Last, 4u);
        EXPECT_EQ(command.SettingName, "CD");
        EXPECT_EQ(command.Inputs, std::vector<std::string>{"a.nsf"});
    }
    // A value may hold an equals sign; given twice, the last one counts.
    EXPECT_EQ(Parse({"--out-dir=a=b", "x"}).OutDir, "a=b");
    EXPECT_EQ(Parse({"--rate", "22050", "--rate=48000", "a", "b.wav"}).Rate, "48000");
}

TEST(CommandLine, ShortFormsMeanTheirLongOnesAndGoTogether)
{
    const CommandLine command = Parse({"-rqy", "--beside", "songs"});
    EXPECT_TRUE(command.Recursive);
    EXPECT_TRUE(command.Quiet);
    EXPECT_TRUE(command.Overwrite);
    EXPECT_EQ(Parse({"-h"}).What, CommandLine::Action::Help);
    // Help wins over anything else given with it.
    EXPECT_EQ(Parse({"--jobs", "2", "--help", "x"}).What, CommandLine::Action::Help);
}

TEST(CommandLine, ADashIsStandardOutputAndNamesAfterTwoDashesAreFiles)
{
    const CommandLine pipe = Parse({"song.nsf", "-"});
    EXPECT_EQ(pipe.What, CommandLine::Action::Decode);
    EXPECT_TRUE(IsStandardOutput(pipe.Output));
    const CommandLine dashed = Parse({"--beside", "--", "-x.nsf", "--quiet"});
    EXPECT_EQ(dashed.Inputs, (std::vector<std::string>{"-x.nsf", "--quiet"}));
    EXPECT_FALSE(dashed.Quiet);
}

TEST(CommandLine, EachRefusalNamesTheArgumentAtFault)
{
    using txt::Format;
    using txt::Id;
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"--frobnicate", "a", "b"}, Format(Id::UnknownOption, {"--frobnicate"})},
        {{"--frobnicate=3", "a", "b"}, Format(Id::UnknownOption, {"--frobnicate"})},
        {{"-x", "a", "b"}, Format(Id::UnknownOption, {"-x"})},
        {{"-qx", "a", "b"}, Format(Id::UnknownOption, {"-x"})},
        {{"-5", "a", "b"}, Format(Id::UnknownOption, {"-5"})},
        {{"--Out-dir", "x", "a"}, Format(Id::UnknownOption, {"--Out-dir"})},
        {{"a", "b", "--jobs"}, Format(Id::NeedsValue, {"--jobs"})},
        {{"--out-dir=", "a"}, Format(Id::NeedsValue, {"--out-dir"})},
        {{"--playlist", "--quiet"}, Format(Id::NeedsValue, {"--playlist"})},
        {{"--quiet=1", "a", "b"}, Format(Id::FlagTakesNoValue, {"--quiet"})},
        {{"-j", "0", "--beside", "a"}, Format(Id::NumberOutOfRange, {"--jobs", "1", "1024"})},
        {{"--jobs=x", "--beside", "a"}, Format(Id::NeedsWholeNumber, {"--jobs", "x"})},
        {{"--dry-run", "a", "b.wav"}, txt::Text(Id::DryRunAlone)},
        {{"--dry-run", "--list-plugins"}, txt::Text(Id::DryRunAlone)},
    };
    for (const auto& [arguments, message] : cases)
        EXPECT_EQ(Refusal(arguments), message) << testing::PrintToString(arguments);
    EXPECT_EQ(Refusal({"--dry-run", "--playlist=x.kbm"}), "");
}
