// The command line as read: both ways of giving a value, the short forms, and one message that
// names the argument at fault.
#include "cli/CommandLine.h"

#include <gtest/gtest.h>

TEST(CommandLine, AValueFollowsAsTheNextArgumentOrAfterAnEqualsSignAndShortFormsGoTogether)
{
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{"--out-dir", "wav", "--jobs", "3", "--song", "2-4", "-r", "a"},
          std::vector<std::string>{"--out-dir=wav", "--jobs=3", "--song=2-4", "--recursive", "a"},
          std::vector<std::string>{"a", "-rj3", "--out-dir=wav", "--song", "2-4"}}) {
        const CommandLine command = ParseCommandLine(arguments);
        EXPECT_EQ(command.OutDir, "wav");
        EXPECT_EQ(command.Jobs, 3u);
        EXPECT_EQ(command.Songs.Last, 4u);
        EXPECT_TRUE(command.Recursive);
        EXPECT_EQ(command.Inputs, std::vector<std::string>{"a"});
    }
    // A value may hold an equals sign; given twice, the last one counts.
    EXPECT_EQ(ParseCommandLine({"--out-dir=a=b", "x"}).OutDir, "a=b");
    EXPECT_EQ(ParseCommandLine({"--rate", "22050", "--rate=48000", "a", "-"}).Rate, "48000");
    // "-" is standard output; after "--", names that look like options are files.
    EXPECT_TRUE(IsStandardOutput(ParseCommandLine({"a.nsf", "-"}).Output));
    EXPECT_EQ(ParseCommandLine({"--beside", "--", "-q"}).Inputs, std::vector<std::string>{"-q"});
}

TEST(CommandLine, EachRefusalNamesTheArgumentAtFault)
{
    using txt::Format;
    using txt::Id;
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"--frobnicate=3", "a", "b"}, Format(Id::UnknownOption, {"--frobnicate"})},
        {{"-qx", "a", "b"}, Format(Id::UnknownOption, {"-x"})},
        {{"-5", "a", "b"}, Format(Id::UnknownOption, {"-5"})},
        {{"a", "b", "--jobs"}, Format(Id::NeedsValue, {"--jobs"})},
        {{"--out-dir=", "a"}, Format(Id::NeedsValue, {"--out-dir"})},
        {{"--playlist", "--quiet"}, Format(Id::NeedsValue, {"--playlist"})},
        {{"--quiet=1", "a", "b"}, Format(Id::FlagTakesNoValue, {"--quiet"})},
        {{"-j", "0", "--beside", "a"}, Format(Id::NumberOutOfRange, {"--jobs", "1", "1024"})},
        {{"--dry-run", "a", "b.wav"}, txt::Text(Id::DryRunAlone)},
    };
    for (const auto& [arguments, message] : cases) {
        try {
            ParseCommandLine(arguments);
            ADD_FAILURE() << testing::PrintToString(arguments) << " was taken";
        } catch (const std::invalid_argument& e) {
            EXPECT_EQ(e.what(), message) << testing::PrintToString(arguments);
        }
    }
}
