// The status line's fitting: widths as a terminal counts them, cuts between characters, parts
// left out whole, and the batch's parts.
#include "cli/StatusLine.h"

#include <gtest/gtest.h>

using namespace statusline;

TEST(StatusLine, WidthsAreTheTerminalsColumns)
{
    EXPECT_EQ(DisplayWidth("3/12, 00:00:05"), 14u);
    EXPECT_EQ(DisplayWidth("実行中 2"), 8u);         // three wide characters
    EXPECT_EQ(DisplayWidth("ｱｲｳ、"), 5u);            // half-width kana are narrow
    EXPECT_EQ(DisplayWidth("e\xCC\x81"), 1u);        // e and a combining acute accent
    EXPECT_EQ(DisplayWidth("\xFF\xE3\x81"), 3u);     // bytes that are no UTF-8: one each
    EXPECT_EQ(DisplayWidth("\xF0\x9F\x8E\xB5"), 2u); // an emoji
}

TEST(StatusLine, TextIsCutBetweenCharactersWithinTheColumns)
{
    EXPECT_EQ(FitToColumns("残り約 00:01", 5), "残り");
    EXPECT_EQ(FitToColumns("残り約 00:01", 6), "残り約");
    EXPECT_EQ(FitToColumns("abc", 10), "abc");
    EXPECT_EQ(FitToColumns("曲", 1), "");
}

TEST(StatusLine, PartsThatDoNotFitAreLeftOutWhole)
{
    const std::vector<std::string> parts = {"3/12", "00:00:05", "about 00:01:00 left"};
    EXPECT_EQ(JoinToFit(parts, ", ", 100), "3/12, 00:00:05, about 00:01:00 left");
    EXPECT_EQ(JoinToFit(parts, ", ", 34), "3/12, 00:00:05");
    EXPECT_EQ(JoinToFit(parts, ", ", 3), "3/1");
    EXPECT_EQ(JoinToFit({"3/12", "実行中 2"}, "、", 14), "3/12、実行中 2");
    EXPECT_EQ(JoinToFit({"3/12", "実行中 2"}, "、", 13), "3/12");
}

TEST(StatusLine, TheBatchShowsSongsDoneOfAllAndOnlyCountsThatMatter)
{
    BatchCounts counts;
    counts.Total = 12;
    counts.Converted = 2;
    counts.Failed = 1;
    counts.Running = 2;
    const auto parts = BatchStatusParts(counts, 65.0);
    ASSERT_EQ(parts.size(), 4u); // no converted song time yet: no estimate; nothing skipped
    EXPECT_EQ(parts[0], "3/12");
    EXPECT_EQ(parts[1], "00:01:05");
    EXPECT_EQ(parts[2], txt::Format(txt::Id::StatusRunning, {"2"}));
    EXPECT_EQ(parts[3], txt::Format(txt::Id::StatusFailed, {"1"}));
    // Seven songs to start, of the 30 s that the converted ones took on average.
    counts.ConvertedMs = 60000;
    EXPECT_EQ(BatchStatusParts(counts, 65.0)[2],
              txt::Format(txt::Id::StatusTimeLeft, {ClockTime(7 * 30000 / (60000 / 65.0))}));
}
