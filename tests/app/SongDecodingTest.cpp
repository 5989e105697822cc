// The per-song start and the single-file job, as both programs use them: formats that cannot be
// timed are refused, outputs never replace the playlist being read, and a stop that races the
// song's end never claims a deletion that did not happen.
#include "app/SongDecoding.h"
#include "app/DecodeSettings.h"
#include "app/PlaylistDecoding.h"
#include "kpi/kpiDriver.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "tests/support/TempFolder.h"
#include "tests/testplugin/TestPluginHost.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <random>

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace fs = std::filesystem;
using testkpi::TestSong;

namespace {

struct FlowFixture : ::testing::Test {
    testsupport::TempFolder dir;
    testkpi::TestPlugin plugin{dir / "test.kpi", {{"extensions", ".tst,.nsf"}}};
    TZoKpiDriver driver;
    std::vector<std::string> log;

    FlowFixture()
    {
        driver.CacheFolder = dir.Path();
        driver.OnPluginLoaded = [](TZoKpi&) { return true; };
        driver.LoadFolder(dir.Path());
    }
    SongDecodeRequest Request(const std::string& source, const std::string& output)
    {
        SongDecodeRequest request;
        request.Source = source;
        request.Output = output;
        const DecodeSettingRow row = BuiltInDecodeSettings()[0];
        request.Setting = ReadDecodeSetting(row);
        request.Requested = ReadRequestedFormat(row);
        return request;
    }
    // The message a start fails with ("" when it starts); the song is released either way.
    std::string StartFailure(const SongDecodeRequest& request)
    {
        try {
            PrepareSongDecode(driver, request,
                              [&](const std::string& line) { log.push_back(line); });
        } catch (const std::exception& e) {
            return e.what();
        }
        return "";
    }
    // Decodes the request to its end and returns the file's bytes.
    std::string Decode(const SongDecodeRequest& request)
    {
        PreparedSongDecode prepared = PrepareSongDecode(
            driver, request, [&](const std::string& line) { log.push_back(line); });
        prepared.Thread->Start();
        prepared.Thread->WaitFor();
        prepared.Thread.reset();
        return testsupport::ReadFileBytes(request.Output);
    }
};

// A short song of known length, which no fade-out touches.
TestSong ShortSong(const std::string& extra)
{
    TestSong song;
    song.Length = "50";
    song.Frames = "2205";
    song.Extra = extra;
    return song;
}

std::string Le32(uint32_t v)
{
    return {char(v), char(v >> 8), char(v >> 16), char(v >> 24)};
}

// A LIST/INFO chunk of the given sub-chunks, each padded to an even size.
std::string InfoChunk(const std::vector<std::pair<std::string, std::string>>& texts)
{
    std::string info;
    for (const auto& [id, text] : texts)
        info += id + Le32(static_cast<uint32_t>(text.size())) + text +
                (text.size() % 2 ? std::string(1, '\0') : "");
    return "LIST" + Le32(static_cast<uint32_t>(4 + info.size())) + "INFO" + info;
}

// What the WAV file of song holds after its PCM.
std::string Tail(const std::string& file, const TestSong& song)
{
    const size_t pcm = std::stoul(song.Frames) * song.Channels * song.Bits / 8;
    return file.size() < 46 + pcm ? "(file too short)" : file.substr(46 + pcm);
}

} // namespace

TEST_F(FlowFixture, TheSongsOwnInformationFillsTheTagsThePlaylistEntryLeavesEmpty)
{
    const TestSong song = ShortSong("title=Plug title\nartist=Plug artist\nalbum=Game\ntrack=3\n"
                                    "date=1987\ncomment=ok\ncopyright=(C)\n");
    song.WriteTo(dir / "tagged.tst");
    SongDecodeRequest request = Request(dir / "tagged.tst", dir / "tagged.wav");
    // The entry's title wins; its empty artist lets the plug-in's through.
    request.Tags.Title = "Entry title";
    const std::string file = Decode(request);
    EXPECT_EQ(Tail(file, song), InfoChunk({{"INAM", "Entry title"},
                                           {"IART", "Plug artist"},
                                           {"IPRD", "Game"},
                                           {"IPRT", "3"},
                                           {"ICRD", "1987"},
                                           {"ICMT", "ok"},
                                           {"ICOP", "(C)"}}));
    EXPECT_EQ(file.substr(4, 4), Le32(static_cast<uint32_t>(file.size() - 8)));

    request.Tags = {};
    EXPECT_EQ(Tail(Decode(request), song).substr(12, 18), "INAM" + Le32(10) + "Plug title");
}

TEST_F(FlowFixture, AFailedOpenLogsThePluginsReasonUnderTheFailure)
{
    const auto logged = [&](const std::string& mode) {
        // ASCII: a Windows plug-in writes its ANSI code page, which may not hold Japanese.
        TestSong song = ShortSong("open_error=SoundFont /x/gm.sf2: No such file\n");
        song.OpenMode = mode;
        song.WriteTo(dir / "bad.tst");
        log.clear();
        TSingleDecodeJob::Hooks hooks;
        hooks.Log = [&](const std::string& line) { log.push_back(line); };
        TSingleDecodeJob job(std::move(hooks));
        EXPECT_FALSE(job.Start(driver, Request(dir / "bad.tst", dir / "bad.wav")));
        return std::vector<std::string>(log.begin() + std::min<size_t>(3, log.size()), log.end());
    };
    EXPECT_EQ(logged("refuse"),
              (std::vector<std::string>{
                  "エラー: ファイル " + dir / "bad.tst" + " を開けませんでした",
                  "  理由: SoundFont /x/gm.sf2: No such file", "警告: デコードは失敗しました"}));
    EXPECT_EQ(logged("zero"), (std::vector<std::string>{"エラー: PCM パラメータが異常です",
                                                        "  理由: SoundFont /x/gm.sf2: No such file",
                                                        "警告: デコードは失敗しました"}));
}

TEST(SongDecodingWithoutOptionalEntries, APluginWithoutThemGivesTheFilesAndLinesOfBefore)
{
    testsupport::TempFolder dir;
    testkpi::TestPlugin plain(dir / "plain.kpi", {}, "testplugin_plain.kpi");
    TZoKpiDriver driver;
    driver.CacheFolder = dir.Path();
    driver.OnPluginLoaded = [](TZoKpi&) { return true; };
    driver.LoadFolder(dir.Path());
    std::vector<std::string> log;
    const LogFunction logTo = [&](const std::string& line) { log.push_back(line); };

    // The song file offers texts that such a plug-in has no way to hand over.
    TestSong song = ShortSong("title=Plug title\nopen_error=never seen\n");
    song.WriteTo(dir / "s.tst");
    SongDecodeRequest request;
    request.Source = dir / "s.tst";
    request.Output = dir / "s.wav";
    const DecodeSettingRow row = BuiltInDecodeSettings()[0];
    request.Setting = ReadDecodeSetting(row);
    request.Requested = ReadRequestedFormat(row);
    const auto decode = [&] {
        PreparedSongDecode prepared = PrepareSongDecode(driver, request, logTo);
        prepared.Thread->Start();
        prepared.Thread->WaitFor();
        prepared.Thread.reset();
        return testsupport::ReadFileBytes(request.Output);
    };
    const std::vector<uint8_t> pcm = testkpi::ExpectedPcm(song, 0, 0, 2205 * 4);
    const std::string header = "RIFF" + Le32(38 + 2205 * 4) + "WAVEfmt " + Le32(18) +
                               std::string("\1\0\2\0", 4) + Le32(44100) + Le32(176400) +
                               std::string("\4\0\x10\0\0\0", 6) + "data" + Le32(2205 * 4);
    EXPECT_TRUE(decode() == header + std::string(pcm.begin(), pcm.end()));

    // A playlist entry's two texts, and nothing else.
    request.Tags = {"T", "Artist"};
    const std::string tagged = decode();
    EXPECT_EQ(Tail(tagged, song), InfoChunk({{"INAM", "T"}, {"IART", "Artist"}}));

    song.OpenMode = "refuse";
    song.WriteTo(dir / "s.tst");
    log.clear();
    TSingleDecodeJob::Hooks hooks;
    hooks.Log = logTo;
    TSingleDecodeJob job(std::move(hooks));
    EXPECT_FALSE(job.Start(driver, request));
    ASSERT_EQ(log.size(), 5u);
    EXPECT_EQ(log[3], "エラー: ファイル " + dir / "s.tst" + " を開けませんでした");
    EXPECT_EQ(log[4], "警告: デコードは失敗しました");
}

TEST_F(FlowFixture, FormatsWhoseBytesPerSecondComeOutAsZeroAreRefused)
{
    const auto failure = [&](uint32_t rate, uint32_t bits, uint32_t channels) {
        TestSong song;
        song.Rate = rate;
        song.Bits = bits;
        song.Channels = channels;
        song.WriteTo(dir / "s.tst");
        return StartFailure(Request(dir / "s.tst", dir / "s.wav"));
    };
    for (uint32_t bits = 1; bits < 8; ++bits)
        EXPECT_EQ(failure(44100, bits, 2), "エラー: PCM パラメータが異常です") << bits;
    // 17 bits take two bytes: 2 x 2^31 x 1 overflows to 0, while 2^31 x 17 x 1 does not.
    EXPECT_EQ(failure(0x80000000u, 17, 1), "エラー: PCM パラメータが異常です");
    EXPECT_EQ(failure(44100, 8, 1), "");
    EXPECT_FALSE(fs::exists(dir / "s.wav") && fs::file_size(dir / "s.wav") > 46);
    EXPECT_EQ(plugin.Counts().Open, plugin.Counts().Close);
}

TEST_F(FlowFixture, FormatsNoWavReaderTakesAreRefusedWithTheReasonAndRatesReadUnsigned)
{
    TestSong song;
    song.Rate = 0xFFFFFFFFu;
    song.WriteTo(dir / "s.tst");
    EXPECT_EQ(StartFailure(Request(dir / "s.tst", dir / "s.wav")),
              "エラー: PCM パラメータが異常です (サンプリング周波数 4294967295Hz は WAV "
              "ファイルに書けません)");
    EXPECT_EQ(log.back(), "  4294967295Hz, 16 ビット, 2 チャンネル");
    EXPECT_FALSE(fs::exists(dir / "s.wav"));
}

TEST_F(FlowFixture, AnAnswerOtherThanTheRequestIsWrittenAsAnsweredWithAWarning)
{
    TestSong song;
    song.Rate = 22050;
    song.Channels = 1;
    song.WriteTo(dir / "s.tst");
    EXPECT_EQ(StartFailure(Request(dir / "s.tst", dir / "s.wav")), "");
    EXPECT_EQ(log.back(), "  警告: 設定の形式 (44100Hz, 16 ビット, 2 チャンネル) と異なる形式 "
                          "(22050Hz, 16 ビット, 1 チャンネル) で書き出します");
    // A field left to the plug-in is no request: no warning whatever it answers.
    log.clear();
    SongDecodeRequest own = Request(dir / "s.tst", dir / "t.wav");
    own.Requested.SampleRate = own.Requested.Channels = 0;
    EXPECT_EQ(StartFailure(own), "");
    EXPECT_EQ(log.back(), "  22050Hz, 16 ビット, 1 チャンネル");
}

#ifndef _WIN32
TEST_F(FlowFixture, APipeOrAMissingFileIsRefusedBeforeAnyPluginSeesIt)
{
    ASSERT_EQ(::mkfifo((dir / "pipe.tst").c_str(), 0600), 0);
    // A plug-in that opened the pipe would wait for a writer for ever.
    EXPECT_EQ(StartFailure(Request(dir / "pipe.tst", dir / "p.wav")),
              "エラー: " + dir / "pipe.tst" + " は通常のファイルではありません (名前付きパイプ)");
    EXPECT_EQ(StartFailure(Request(dir / "gone.tst", dir / "g.wav")),
              "エラー: ファイル " + dir / "gone.tst" +
                  " を開けませんでした (No such file or directory)");
    EXPECT_TRUE(log.empty());
    EXPECT_EQ(plugin.Counts().Open, 0);
}
#endif

TEST_F(FlowFixture, AStopThatRacesTheEndNeverClaimsADeletionThatDidNotHappen)
{
    std::mt19937 random(11);
    TestSong song;
    song.Frames = "200";
    song.WriteTo(dir / "short.tst");
    const std::string output = dir / "short.wav";
    int took = 0, late = 0;
    // The pause before the stop follows the outcomes, so that both keep happening.
    double scale = 100; // microseconds
    for (int round = 0; round < 300; ++round) {
        log.clear();
        TSingleDecodeJob::Hooks hooks;
        hooks.Log = [&](const std::string& line) { log.push_back(line); };
        TSingleDecodeJob job(std::move(hooks));
        ASSERT_TRUE(job.Start(driver, Request(dir / "short.tst", output)));
        const auto until = std::chrono::steady_clock::now() +
                           std::chrono::microseconds(static_cast<int64_t>(
                               std::uniform_real_distribution<>(0, 2 * scale)(random)));
        while (std::chrono::steady_clock::now() < until) {
        }
        const bool stopped = job.Stop();
        job.StopAndWait();
        const bool deletionLogged =
            std::find(log.begin(), log.end(), "  警告: ファイルは削除されました") != log.end();
        EXPECT_EQ(deletionLogged, stopped);
        EXPECT_EQ(fs::exists(output), !stopped) << "round " << round;
        EXPECT_EQ(job.Succeeded(), !stopped);
        ++(stopped ? took : late);
        scale *= stopped ? 1.1 : 0.9;
    }
    EXPECT_GT(took, 0);
    EXPECT_GT(late, 0);
}

TEST_F(FlowFixture, APlaylistIsNeverReplacedByItsOwnEntrysOutput)
{
    TestSong song;
    song.Frames = "100";
    song.WriteTo(dir / "pl.nsf");
    const std::string text = "KbMIDI Player Play List\r\n0=" + dir / "pl.nsf" + "\r\n";
    testsupport::WriteFileBytes(dir / "pl.wav", text);

    TPlainMainThreadLoop loop;
    TPlaylistDecodeJob::Hooks hooks;
    hooks.Log = [&](const std::string& line) { log.push_back(line); };
    TPlaylistDecodeJob job(loop, std::move(hooks));
    const DecodeSettingRow row = BuiltInDecodeSettings()[0];
    job.Run(driver, dir / "pl.wav", ReadDecodeSetting(row), ReadRequestedFormat(row));

    EXPECT_EQ(testsupport::ReadFileBytes(dir / "pl.wav"), text);
    EXPECT_TRUE(job.Failed());
    ASSERT_GE(log.size(), 3u);
    // As an output that is its own source is refused: the message, the failure, the batch's end.
    EXPECT_EQ(std::vector<std::string>(log.end() - 3, log.end()),
              (std::vector<std::string>{
                  "エラー: 出力先 " + dir / "pl.wav" + " はプレイリストファイルと同じです",
                  "警告: デコードは失敗しました", "一括デコードが完了しました。"}));
}

TEST_F(FlowFixture, NamesTypedMeanTheFolderTheProgramStartedInWhereverAPluginMoves)
{
    // Names relative to the folder the tests started in; the plug-in moves the current folder
    // elsewhere in every Open.
    const std::string local = "pellan-relative-" + std::to_string(std::random_device()());
    const std::string base = platform::IncludeTrailingDelimiter(platform::LaunchFolder()) + local;
    TestSong song;
    song.Extra = "chdir=" + dir.Path() + "\n";
    fs::create_directories(platform::FileSystemPath(base));
    song.WriteTo(base + "/a.tst");
    for (const char* output : {"/a.wav", "/b.wav"}) {
        PreparedSongDecode prepared = PrepareSongDecode(
            driver, Request(local + "/a.tst", local + output), [](const std::string&) {});
        prepared.Thread->Start();
        prepared.Thread->WaitFor();
        prepared.Thread.reset();
        EXPECT_GT(fs::file_size(platform::FileSystemPath(base + output)), 1000u);
    }
    fs::remove_all(platform::FileSystemPath(base));
}
