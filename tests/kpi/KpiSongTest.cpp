// The song: position arithmetic, end detection, seeking and a failed open.
#include "kpi/KpiSong.h"
#include "kpi/KPI.h"
#include "tests/support/TempFolder.h"
#include "tests/testplugin/TestPluginHost.h"

#include <gtest/gtest.h>

#include <cstring>

using testkpi::TestPlugin;
using testkpi::TestSong;
using testsupport::TempFolder;

namespace {

struct SongFixture : ::testing::Test {
    TempFolder dir;
    TestPlugin plugin{dir / "a.kpi"};
    TZoKpi kpi{plugin.Path()};

    std::string Song(const TestSong& song, const std::string& name = "s.tst")
    {
        song.WriteTo(dir / name);
        return dir / name;
    }
};

} // namespace

TEST_F(SongFixture, RequestedFormatGoesInAndTheAnswerComesOut)
{
    TestSong description;
    description.Rate = 0; // the plug-in follows the request
    description.Bits = 24;
    SoundFormat requested{};
    requested.SampleRate = 48000;
    requested.Channels = 1;
    requested.BitsPerSample = 16;
    TZoSong song(Song(description), kpi, requested);
    EXPECT_EQ(plugin.LastRequest().SampleRate, 48000u);
    EXPECT_EQ(plugin.LastRequest().BitsPerSample, 16u);
    EXPECT_EQ(song.Format.SampleRate, 48000u);
    EXPECT_EQ(song.Format.BitsPerSample, 24u);
    EXPECT_EQ(song.Format.Channels, 2u);
    EXPECT_NE(song.Handle, 0u);
    EXPECT_EQ(song.PluginFileName(), plugin.Path());

    TZoSong plain(Song(description, "p.tst"), kpi);
    const SoundFormat zero{}, request = plugin.LastRequest();
    EXPECT_EQ(std::memcmp(&request, &zero, sizeof zero), 0);
}

TEST_F(SongFixture, PositionFollowsBytesRendered)
{
    TZoSong song(Song(TestSong{}), kpi);
    EXPECT_EQ(song.BytesPerSecond(), 176400u);
    song.BytesRendered = 176400;
    EXPECT_EQ(song.Position(), 1000u);
    song.BytesRendered = 264600;
    EXPECT_EQ(song.Position(), 1500u);
    // Near the 32-bit limit the count wraps and the position follows it.
    song.BytesRendered = 0xFFFFFFFFu - 100;
    uint8_t buffer[4096];
    song.Render(buffer, sizeof buffer);
    EXPECT_EQ(song.BytesRendered, 4096u - 101u);
    EXPECT_EQ(song.Position(), song.BytesToMilliseconds(4096u - 101u));
}

TEST_F(SongFixture, MillisecondsDivideFirstInExtendedPrecision)
{
    TestSong d;
    d.Rate = 48000;
    d.Bits = 16;
    d.Channels = 2; // 192000 bytes per second
    TZoSong song(Song(d), kpi);
    EXPECT_EQ(song.BytesToMilliseconds(192), 0u); // not 1
    EXPECT_EQ(song.BytesToMilliseconds(192000), 1000u);

    d.Bits = 12; // one byte per sample
    TZoSong twelve(Song(d, "t.tst"), kpi);
    EXPECT_EQ(twelve.BytesPerSecond(), 96000u);

    d.Bits = 4; // no whole byte per sample: no division
    TZoSong four(Song(d, "f.tst"), kpi);
    EXPECT_EQ(four.BytesPerSecond(), 0u);
    EXPECT_EQ(four.BytesToMilliseconds(1000), 0u);

    d.Rate = 1;
    d.Bits = 8;
    d.Channels = 1; // one byte per second: milliseconds overflow 32 bits
    TZoSong slow(Song(d, "o.tst"), kpi);
    EXPECT_EQ(slow.BytesToMilliseconds(4294968), 0xFFFFFFFEu);
    EXPECT_EQ(slow.BytesToMilliseconds(4294967), 4294967000u);
}

TEST_F(SongFixture, ShortRenderEndsTheSongEveryTime)
{
    TestSong d;
    d.Frames = "10"; // 40 bytes
    TZoSong song(Song(d), kpi);
    int endedCalls = 0;
    song.OnEnded = [&](TZoSong& s) {
        EXPECT_EQ(&s, &song);
        ++endedCalls;
    };
    uint8_t buffer[64];
    EXPECT_EQ(song.Render(buffer, 0), 0u);
    EXPECT_FALSE(song.Ended);
    EXPECT_EQ(song.Render(buffer, 40), 40u);
    EXPECT_FALSE(song.Ended);
    EXPECT_EQ(song.Render(buffer, 8), 0u);
    EXPECT_TRUE(song.Ended);
    EXPECT_EQ(endedCalls, 1);
    EXPECT_EQ(song.Render(buffer, 8), 0u);
    EXPECT_EQ(endedCalls, 2);
}

TEST_F(SongFixture, SeekAsksForSecondsAndResetsPosition)
{
    TestSong d;
    d.Frames = "4";
    TZoSong song(Song(d), kpi);
    uint8_t buffer[64];
    song.Render(buffer, sizeof buffer);
    ASSERT_TRUE(song.Ended);
    song.Seek(3);
    EXPECT_FALSE(song.Ended);
    EXPECT_EQ(song.BytesRendered, 0u);
    EXPECT_EQ(song.Position(), 0u);
    const auto calls = plugin.SetPositionCalls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls.back().PositionMs, 3000u);
    EXPECT_EQ(calls.back().Handle, song.Handle);
}

TEST_F(SongFixture, SongWhoseOpenFailedIsEmptyAndCallsNothing)
{
    {
        TZoSong song(dir / "missing.tst", kpi);
        EXPECT_EQ(song.Handle, 0u);
        uint8_t buffer[16];
        EXPECT_EQ(song.Render(buffer, sizeof buffer), 0u);
        EXPECT_TRUE(song.Ended);
        song.Seek(2);
        EXPECT_FALSE(song.Ended);
    }
    const auto counts = plugin.Counts();
    EXPECT_EQ(counts.Open, 1);
    EXPECT_EQ(counts.Render + counts.SetPosition + counts.Close, 0);
    EXPECT_EQ(kpi.OpenCount(), 0);
}

TEST_F(SongFixture, DestructionClosesTheHandleOnce)
{
    {
        TZoSong song(Song(TestSong{}), kpi);
        EXPECT_EQ(kpi.OpenCount(), 1);
    }
    EXPECT_EQ(kpi.OpenCount(), 0);
    EXPECT_EQ(plugin.Counts().Close, 1);
}
