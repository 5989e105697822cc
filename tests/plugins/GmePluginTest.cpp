// gme.kpi through the host's plug-in classes: the song description the host's fade rules read,
// track selection, rendering, and damaged files.
#include "kpi/KPI.h"
#include "kpi/KpiSong.h"
#include "tests/plugins/GameMusicFiles.h"
#include "tests/plugins/PluginHarness.h"
#include "tests/support/TempFolder.h"
#include "tests/support/WavReader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <random>
#include <thread>

using namespace plugintest;
using testsupport::TempFolder;
using testsupport::WriteFileBytes;

namespace {

constexpr uint32_t kSecond = 44100 * 4; // bytes of one second at the default format

class GmePlugin : public ::testing::Test {
protected:
    std::string Place(const std::string& name, const std::string& bytes)
    {
        WriteFileBytes(Dir / name, bytes);
        return Dir / name;
    }

    TempFolder Dir;
    TZoKpi Kpi{BuiltPlugin("gme.kpi")};
};

} // namespace

TEST(GmePluginLibrary, IsUnloadedWithItsHost)
{
    const std::string path = BuiltPlugin("gme.kpi");
    {
        TZoKpi kpi(path);
    }
    EXPECT_FALSE(IsLoaded(path));
}

TEST_F(GmePlugin, ClaimsTheGameMusicExtensionsAndAllowsSeveralSongs)
{
    for (const char* ext :
         {"nsf", "nsfe", "gbs", "spc", "vgm", "vgz", "hes", "kss", "ay", "sap", "gym"})
        EXPECT_TRUE(Kpi.HasExtension(ext)) << ext;
    EXPECT_FALSE(Kpi.HasExtension("wav"));
    EXPECT_NE(Kpi.Module().Reentrant, 0u);
}

TEST_F(GmePlugin, LogWithoutLoopHasItsLengthAndEndsWithAShortRender)
{
    TZoSong song(Place("once.vgm", MakeVgm({.IntroSeconds = 1, .LoopSeconds = 1})), Kpi);
    ASSERT_NE(song.Handle, 0u);
    EXPECT_EQ(song.Format.SampleRate, 44100u);
    EXPECT_EQ(song.Format.Channels, 2u);
    EXPECT_EQ(song.Format.BitsPerSample, 16u);
    EXPECT_EQ(song.Format.LengthMs, 2000u);
    EXPECT_EQ(song.Format.Endless, 0u);
    EXPECT_EQ(song.Format.MultiSong, 0u);
    EXPECT_EQ(song.Format.UnitRenderSize % 4, 0u);

    const Rendered r = RenderSong(song, 10 * kSecond);
    ASSERT_TRUE(r.Ended);
    EXPECT_EQ(r.BytesAfterEnd, 0u);
    EXPECT_GE(r.Pcm.size(), 2 * kSecond - kSecond / 10);
    EXPECT_LE(r.Pcm.size(), 2 * kSecond + kSecond / 2);
    const auto s = Samples16(r.Pcm);
    EXPECT_NEAR(Frequency(s, 2, 0, 0, 44100, 44100), 440.4, 2);
}

TEST_F(GmePlugin, LoopingLogIsEndlessForIntroAndTwoLoopsAndIsNotFadedByThePlugin)
{
    TZoSong song(Place("loop.vgm", MakeVgm({.IntroSeconds = 1, .LoopSeconds = 2, .Loops = true})),
                 Kpi);
    ASSERT_NE(song.Handle, 0u);
    EXPECT_EQ(song.Format.LengthMs, 5000u);
    EXPECT_NE(song.Format.Endless, 0u);

    // Well past its length the tone still sounds: fading is the host's business.
    const Rendered r = RenderSong(song, 12 * kSecond);
    EXPECT_FALSE(r.Ended);
    const auto s = Samples16(r.Pcm);
    EXPECT_GT(Rms(s, 2, 0, 11 * 44100, 12 * 44100), 0.5 * Rms(s, 2, 0, 2 * 44100, 3 * 44100));
}

TEST_F(GmePlugin, TrackWithOnlyLibgmesDefaultLengthHasNone)
{
    TZoSong song(Place("bare.vgm", MakeVgm({.Loops = true, .SampleCounts = false})), Kpi);
    ASSERT_NE(song.Handle, 0u);
    EXPECT_EQ(song.Format.LengthMs, KPI_NO_LENGTH);
    EXPECT_NE(song.Format.Endless, 0u);
}

TEST_F(GmePlugin, TaggedPlayTimeIsTheLengthOfAnEndlessSongThatPlaysOnAfterIt)
{
    TZoSong song(Place("tagged.spc", MakeSpc(3)), Kpi);
    ASSERT_NE(song.Handle, 0u);
    EXPECT_EQ(song.Format.LengthMs, 3000u);
    EXPECT_NE(song.Format.Endless, 0u);
    EXPECT_EQ(song.Format.MultiSong, 0u);

    const Rendered r = RenderSong(song, 6 * kSecond);
    EXPECT_FALSE(r.Ended);
    const auto s = Samples16(r.Pcm);
    EXPECT_GT(Rms(s, 2, 0, 5 * 44100, 6 * 44100), 0.5 * Rms(s, 2, 0, 44100, 2 * 44100));
    EXPECT_GT(Rms(s, 2, 0, 44100, 2 * 44100), 1000);
}

TEST_F(GmePlugin, RendersAtTheRequestedRateChannelsAndDepthFromTheSameSamples)
{
    const std::string path = Place("once.vgm", MakeVgm({}));
    TZoSong stereo(path, Kpi, SoundFormat{22050, 2, 16, 0, 0, 0, 0, 0});
    const auto s = Samples16(RenderSong(stereo, 22050 * 4).Pcm);
    EXPECT_NEAR(Frequency(s, 2, 0, 0, 22050, 22050), 440.4, 2);

    // 22.05 kHz mono 24-bit: the mean of both sides, exact at that depth.
    TZoSong mono(path, Kpi, SoundFormat{22050, 1, 24, 0, 0, 0, 0, 0});
    ASSERT_NE(mono.Handle, 0u);
    EXPECT_EQ(mono.Format.SampleRate, 22050u);
    EXPECT_EQ(mono.Format.Channels, 1u);
    EXPECT_EQ(mono.Format.BitsPerSample, 24u);
    EXPECT_EQ(mono.Format.UnitRenderSize % 3, 0u);
    const std::vector<int32_t> meanPcm =
        testsupport::SamplesFromPcm(RenderSong(mono, 22050 * 3).Pcm, 24);
    ASSERT_EQ(meanPcm.size(), s.size() / 2);
    for (size_t f = 0; f < meanPcm.size(); ++f)
        ASSERT_EQ(meanPcm[f] >> 8, (s[2 * f] + s[2 * f + 1]) * 128) << f;
    // 32 bits: the same samples, shifted up.
    TZoSong deep(path, Kpi, SoundFormat{22050, 2, 32, 0, 0, 0, 0, 0});
    const std::vector<int32_t> wide =
        testsupport::SamplesFromPcm(RenderSong(deep, 22050 * 8).Pcm, 32);
    ASSERT_EQ(wide.size(), s.size());
    for (size_t i = 0; i < s.size(); ++i)
        ASSERT_EQ(wide[i], s[i] * 65536) << i;

    // Rates libgme cannot synthesise at are refused before libgme sees them, and said so.
    for (uint32_t rate : {25u, 1000u, 7999u, 192001u}) {
        TZoSong refused(path, Kpi, SoundFormat{rate, 0, 0, 0, 0, 0, 0, 0});
        EXPECT_EQ(refused.Handle, 0u) << rate;
        EXPECT_EQ(refused.OpenFailure, "サンプリング周波数 " + std::to_string(rate) +
                                           " Hz では演奏できません (8000 〜 192000 Hz)");
    }
}

TEST_F(GmePlugin, TheTracksTextsAreTheSongsInformation)
{
    TZoSong spc(Place("tagged.spc", MakeSpc(3)), Kpi);
    TZoSongInfo info = spc.Info();
    EXPECT_EQ(info.Title, "Square");
    EXPECT_EQ(info.Album, "Pellan Quest");
    EXPECT_EQ(info.Artist, "Quenz");
    EXPECT_EQ(info.Track, "") << "a file of one track gives no number";

    TZoSong nsf(Place("three.nsf", MakeNsf({0xFD, 0x7E, 0x3F})), Kpi);
    nsf.Seek(2);
    info = nsf.Info();
    EXPECT_EQ(info.Album, "Pellan tones");
    EXPECT_EQ(info.Artist, "Quenz");
    EXPECT_EQ(info.Copyright, "2024 Quenz");
    EXPECT_EQ(info.Track, "2");
    nsf.Seek(3);
    EXPECT_EQ(nsf.Info().Track, "3");
}

TEST_F(GmePlugin, SeekInASingleTrackMovesToTheSecond)
{
    TZoSong song(Place("once.vgm", MakeVgm({.IntroSeconds = 1, .LoopSeconds = 2})), Kpi);
    song.Seek(2);
    const Rendered r = RenderSong(song, 10 * kSecond);
    ASSERT_TRUE(r.Ended);
    EXPECT_GE(r.Pcm.size(), kSecond - kSecond / 10);
    EXPECT_LE(r.Pcm.size(), kSecond + kSecond / 2);
}

TEST_F(GmePlugin, FileOfSeveralTracksIsMultiSongAndSelectsTrackBySecond)
{
    // Periods for about 440, 880 and 1750 Hz.
    TZoSong song(Place("three.nsf", MakeNsf({0xFD, 0x7E, 0x3F})), Kpi);
    ASSERT_NE(song.Handle, 0u);
    EXPECT_NE(song.Format.MultiSong, 0u);
    EXPECT_EQ(song.Format.LengthMs, 3000u);
    EXPECT_NE(song.Format.Endless, 0u);

    const auto pitchAfterSeek = [&](uint32_t n) {
        song.Seek(n);
        const auto s = Samples16(RenderSong(song, kSecond).Pcm);
        return Frequency(s, 2, 0, 0, 44100, 44100);
    };
    EXPECT_NEAR(pitchAfterSeek(0), 440.4, 3);
    EXPECT_NEAR(pitchAfterSeek(2), 880.8, 5);
    EXPECT_NEAR(pitchAfterSeek(3), 1747.8, 10);
    EXPECT_NEAR(pitchAfterSeek(1), 440.4, 3);

    // No fourth track: an empty song, not some other track.
    song.Seek(4);
    const Rendered r = RenderSong(song, kSecond);
    EXPECT_TRUE(r.Ended);
    EXPECT_TRUE(r.Pcm.empty());
}

TEST_F(GmePlugin, DamagedFilesFailTheOpenOrEndTheSongWithoutHarmingTheHost)
{
    std::mt19937 random(8);
    std::string noise(4096, '\0');
    for (char& c : noise)
        c = static_cast<char>(random());
    {
        TZoSong song(Place("random.nsf", noise), Kpi);
        EXPECT_EQ(song.Handle, 0u);
        EXPECT_EQ(song.Format.SampleRate * song.Format.Channels * song.Format.BitsPerSample, 0u);
        EXPECT_EQ(song.OpenFailure,
                  "対応していない形式です (libgme: Wrong file type for this emulator)");
    }
    {
        TZoSong song(Place("empty.vgm", ""), Kpi);
        EXPECT_EQ(song.Handle, 0u);
        EXPECT_EQ(song.OpenFailure, "ファイル " + Dir / "empty.vgm" + " は空です");
        // A header cut short: a damaged file of a type libgme knows.
        TZoSong cut(Place("cut.nsf", MakeNsf({0xFD}).substr(0, 0x40)), Kpi);
        EXPECT_EQ(cut.Handle, 0u);
        EXPECT_EQ(cut.OpenFailure,
                  "ファイルが壊れています (libgme: Wrong file type for this emulator)");
        TZoSong missing(Dir / "missing.spc", Kpi);
        EXPECT_EQ(missing.Handle, 0u);
        EXPECT_EQ(missing.OpenFailure, "ファイル " + Dir / "missing.spc" +
                                           " を読み込めません (No such file or directory)");
    }
    {
        // A good header over random code: the emulated CPU goes astray and the track ends.
        const std::string header = MakeNsf({0xFD}).substr(0, 0x80);
        TZoSong song(Place("garbage.nsf", header + noise), Kpi);
        ASSERT_NE(song.Handle, 0u);
        EXPECT_TRUE(RenderSong(song, 60 * kSecond).Ended);
    }
    {
        // libgme fails an assertion on this clock while it opens the file.
        TZoSong song(Place("clock.vgm", MakeVgm({.Loops = true, .Clock = 0x40000000})), Kpi);
        EXPECT_EQ(song.Handle, 0u);
        EXPECT_EQ(song.OpenFailure, "libgme がファイルの読み込み中に異常終了しました (signal " +
                                        std::to_string(SIGABRT) + ")");
    }
    {
        // libgme reads far beyond its buffer one second into this log.
        TZoSong song(Place("overrun.vgm", MakeVgmReadingPastItsEnd()), Kpi);
        ASSERT_NE(song.Handle, 0u);
        EXPECT_EQ(song.Format.LengthMs, 2000u);
        const Rendered r = RenderSong(song, 10 * kSecond);
        EXPECT_TRUE(r.Ended);
        EXPECT_GE(r.Pcm.size(), kSecond / 2);
        EXPECT_LT(r.Pcm.size(), 2 * kSecond - kSecond / 10);
    }
    // The plug-in still works afterwards.
    TZoSong song(Place("once.vgm", MakeVgm({})), Kpi);
    EXPECT_NE(song.Handle, 0u);
}

TEST_F(GmePlugin, FileThatMakesLibgmeSpinEndsTheSongAfterATimeOut)
{
    TZoSong song(Place("spin.vgm", MakeVgmLoopingWithoutTime()), Kpi);
    ASSERT_NE(song.Handle, 0u);
    const auto start = std::chrono::steady_clock::now();
    const Rendered r = RenderSong(song, 10 * kSecond);
    EXPECT_TRUE(r.Ended);
    EXPECT_GE(r.Pcm.size(), kSecond / 2);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
}

TEST_F(GmePlugin, SongsOpenTogetherRenderIndependentlyOnAnotherThread)
{
    TZoSong low(Place("low.nsf", MakeNsf({0xFD, 0x7E})), Kpi);
    TZoSong high(Place("high.nsf", MakeNsf({0x3F, 0x7E})), Kpi);
    ASSERT_NE(low.Handle, 0u);
    ASSERT_NE(high.Handle, 0u);
    EXPECT_EQ(Kpi.OpenCount(), 2);

    std::string lowPcm, highPcm;
    std::thread decoder([&] {
        std::string block(low.Format.UnitRenderSize, '\0');
        auto* data = reinterpret_cast<uint8_t*>(block.data());
        while (lowPcm.size() < kSecond) {
            lowPcm.append(block, 0, low.Render(data, static_cast<uint32_t>(block.size())));
            highPcm.append(block, 0, high.Render(data, static_cast<uint32_t>(block.size())));
        }
    });
    decoder.join();
    EXPECT_NEAR(Frequency(Samples16(lowPcm), 2, 0, 0, 44100, 44100), 440.4, 3);
    EXPECT_NEAR(Frequency(Samples16(highPcm), 2, 0, 0, 44100, 44100), 1747.8, 10);
}
