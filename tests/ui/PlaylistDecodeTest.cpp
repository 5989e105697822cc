// Playlist decoding through the window: tagged files beside their sources, song numbers from
// "::", entries that end the batch, skipped entries, a stop, and closing during a batch.
#include "app/PlaylistDecoding.h"
#include "tests/support/WavReader.h"
#include "tests/ui/WindowFixture.h"

#include "ui/ProgressBar.h"
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>

#include <filesystem>

using testkpi::TestSong;
using uitest::LogLines;
namespace fs = std::filesystem;

namespace {

struct PlaylistFixture : uitest::WindowFixture {
    testkpi::TestPlugin* plugin = nullptr;
    std::unique_ptr<TfrmMain> window;

    void SetUp() override
    {
        plugin = &AddPlugin("test.kpi", {{"extensions", ".tst,.wav"}});
        UsePluginFolder(pluginFolder);
        window = Open();
        window->lstLog->clear();
    }
    std::string Song(const std::string& name, TestSong song = TestSong{})
    {
        if (song.Frames.empty())
            song.Frames = "4410";
        if (song.Length.empty())
            song.Length = "100";
        song.WriteTo(env.Dir / name);
        return env.Dir / name;
    }
    // A playlist of the given lines after the header, with CR LF line ends.
    std::string Playlist(const std::vector<std::string>& lines)
    {
        std::string text = "KbMIDI Player Play List\r\n";
        for (const auto& line : lines)
            text += line + "\r\n";
        testsupport::WriteFileBytes(env.Dir / "list.kbm", text);
        return env.Dir / "list.kbm";
    }
    void RunBatch(const std::string& playlist)
    {
        window->lbeKbmFile->setText(QString::fromStdString(playlist));
        window->btnStartMultiDecode->click(); // returns when the batch is over
    }
    std::vector<std::string> EntryLines(const std::string& source)
    {
        return {"ファイル " + source + " のデコードを開始します",
                "  プラグイン test.kpi を使用します", "  44100Hz, 16 ビット, 2 チャンネル",
                "デコードは完了しました"};
    }
};

} // namespace

TEST_F(PlaylistFixture, EveryEntryBecomesATaggedWavBesideItsSource)
{
    const std::string a = Song("a.tst"), b = Song("b.tst"), c = Song("c.tst");
    RunBatch(
        Playlist({"0=" + a, "2=First", "3=Singer", "-", "0=" + b, "3=Only Artist", "-", "0=" + c}));
    std::vector<std::string> expected = {"一括デコードを開始します"};
    for (const auto& source : {a, b, c})
        for (const auto& line : EntryLines(source))
            expected.push_back(line);
    expected.push_back("一括デコードが完了しました。");
    EXPECT_EQ(LogLines(*window), expected);

    const auto first = testsupport::ReadWavWithSndfile(env.Dir / "a.wav");
    ASSERT_TRUE(first.Ok);
    EXPECT_EQ(first.Title, "First");
    EXPECT_EQ(first.Artist, "Singer");
    EXPECT_EQ(first.Frames, 4410);
    const auto second = testsupport::ReadWavWithSndfile(env.Dir / "b.wav");
    ASSERT_TRUE(second.Ok);
    EXPECT_EQ(second.Title, "");
    EXPECT_EQ(second.Artist, "Only Artist");
    const std::string third = testsupport::ReadFileBytes(env.Dir / "c.wav");
    EXPECT_EQ(third.find("LIST"), std::string::npos);
    EXPECT_EQ(third.size(), 46u + 4410u * 4u);

    EXPECT_EQ(window->btnStartMultiDecode->text(), "開始(&S)");
    EXPECT_TRUE(window->btnSingleDecode->isEnabled());
    EXPECT_EQ(window->pbrIndivProgress->value(), 0);
    EXPECT_EQ(window->lblIndivProgress->text(), "00:00.100 / 00:00.100");
    EXPECT_EQ(plugin->Counts().OpenNow, 0);
}

TEST_F(PlaylistFixture, SongNumbersAfterTheMarkChooseSongsOfAMultiSongFile)
{
    window.reset(); // stores the settings it has; ours joins them
    StoreSetting("short", 44100, 16, 2, 10, 100);
    window = Open();
    window->cmbPcmFormatForMulti->setCurrentIndex(window->cmbPcmFormatForMulti->findText("short"));
    window->lstLog->clear();
    TestSong multi;
    multi.Songs = 5;
    multi.Frames = "inf";
    multi.Length = "";
    multi.WriteTo(env.Dir / "game.tst");
    const std::string game = env.Dir / "game.tst";
    RunBatch(Playlist({"0=" + game + "::2", "-", "0=" + game + "::03", "-", "0=" + game}));
    EXPECT_EQ(LogLines(*window).back(), "一括デコードが完了しました。");
    ASSERT_TRUE(fs::exists(env.Dir / "game[2].wav"));
    ASSERT_TRUE(fs::exists(env.Dir / "game[3].wav"));
    ASSERT_TRUE(fs::exists(env.Dir / "game.wav")); // no number: the first song
    std::vector<uint32_t> positions;
    for (const auto& call : plugin->SetPositionCalls())
        positions.push_back(call.PositionMs);
    EXPECT_EQ(positions, (std::vector<uint32_t>{0, 2000, 0, 3000, 0, 1000}));
    const std::string two = testsupport::ReadFileBytes(env.Dir / "game[2].wav");
    const auto expected = testkpi::ExpectedPcm(multi, 2, 0, 400);
    EXPECT_TRUE(two.substr(46, 400) == std::string(expected.begin(), expected.end()));
    EXPECT_NEAR(static_cast<double>(two.size() - 46) / 176400.0, 10.1, 0.1);
}

TEST_F(PlaylistFixture, BadSongNumberEndsTheBatchAfterItsFinish)
{
    const std::string a = Song("a.tst"), b = Song("b.tst");
    RunBatch(Playlist({"0=" + a, "-", "0=" + b + "::x", "-", "0=" + a}));
    std::vector<std::string> expected = {"一括デコードを開始します"};
    for (const auto& line : EntryLines(a))
        expected.push_back(line);
    expected.push_back("一括デコードが完了しました。");
    expected.push_back("'x' is not a valid integer value");
    expected.push_back("警告: デコードは開始できません");
    EXPECT_EQ(LogLines(*window), expected);
    EXPECT_EQ(plugin->Counts().Open, 1);
    EXPECT_EQ(window->btnStartMultiDecode->text(), "開始(&S)");
}

TEST_F(PlaylistFixture, FailingEntryEndsTheBatch)
{
    const std::string a = Song("a.tst");
    const std::string unknown = env.Dir / "song.xyz";
    RunBatch(Playlist({"0=" + unknown, "-", "0=" + a}));
    EXPECT_EQ(LogLines(*window),
              (std::vector<std::string>{
                  "一括デコードを開始します",
                  "エラー: ファイル " + unknown + " に適したプラグインが見つかりませんでした",
                  "警告: デコードは失敗しました", "一括デコードが完了しました。"}));
    EXPECT_FALSE(fs::exists(env.Dir / "a.wav"));
}

TEST_F(PlaylistFixture, ArchiveAndAudioCdEntriesAreSkippedWithTheirWarnings)
{
    const std::string a = Song("a.tst");
    RunBatch(Playlist({"0=" + env.Dir / "music.lzh::1", "1=inner.mid", "-", "0=D::AudioCD::Track01",
                       "-", "0=" + a}));
    const auto lines = LogLines(*window);
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[1], "警告：書庫ファイル " + (env.Dir / "music.lzh::1") +
                            " はサポートしていません。スキップします。");
    EXPECT_EQ(lines[2], "警告：CD-DA はサポートしていません。スキップします。");
    EXPECT_TRUE(fs::exists(env.Dir / "a.wav"));
    EXPECT_EQ(lines.back(), "一括デコードが完了しました。");
}

TEST_F(PlaylistFixture, WavEntryIsNeverDecodedOverItself)
{
    const std::string source = Song("take.wav");
    const std::string bytes = testsupport::ReadFileBytes(source);
    RunBatch(Playlist({"0=" + source}));
    const auto lines = LogLines(*window);
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(lines[4], "エラー: 出力先 " + source + " は入力ファイルと同じです");
    EXPECT_EQ(lines[5], "警告: デコードは失敗しました");
    EXPECT_EQ(testsupport::ReadFileBytes(source), bytes);
}

TEST_F(PlaylistFixture, StopInTheSecondEntryKeepsTheFirstDeletesTheSecondSkipsTheThird)
{
    const std::string a = Song("a.tst"), c = Song("c.tst");
    TestSong slow;
    slow.Length = "none";
    slow.Frames = "inf";
    slow.DelayMs = 2;
    const std::string b = Song("b.tst", slow);
    // The stop is clicked from the window's own event loop, while the batch waits.
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (plugin->Counts().Open == 2 && plugin->Counts().Render > 5) {
            poll.stop();
            EXPECT_EQ(window->btnStartMultiDecode->text(), "中止(&A)");
            EXPECT_FALSE(window->btnSingleDecode->isEnabled());
            window->btnStartMultiDecode->click();
        }
    });
    poll.start(5);
    RunBatch(Playlist({"0=" + a, "-", "0=" + b, "-", "0=" + c}));
    const auto lines = LogLines(*window);
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(std::vector<std::string>(lines.end() - 4, lines.end()),
              (std::vector<std::string>{
                  "デコードは完了しました", "  警告: デコードはユーザの指示により中止されました",
                  "  警告: ファイルは削除されました", "一括デコードが完了しました。"}));
    EXPECT_TRUE(fs::exists(env.Dir / "a.wav"));
    EXPECT_FALSE(fs::exists(env.Dir / "b.wav"));
    EXPECT_FALSE(fs::exists(env.Dir / "c.wav"));
    EXPECT_EQ(plugin->Counts().Open, 2);
    EXPECT_EQ(plugin->Counts().OpenNow, 0);
    EXPECT_EQ(window->btnStartMultiDecode->text(), "開始(&S)");
    EXPECT_TRUE(window->btnSingleDecode->isEnabled());
}

TEST_F(PlaylistFixture, ClosingTheWindowDuringABatchStopsItFirst)
{
    TestSong slow;
    slow.Length = "none";
    slow.Frames = "inf";
    slow.DelayMs = 2;
    const std::string b = Song("b.tst", slow);
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (plugin->Counts().Render > 5) {
            poll.stop();
            window->close();
        }
    });
    poll.start(5);
    RunBatch(Playlist({"0=" + b, "-", "0=" + b}));
    ASSERT_TRUE(uitest::WaitUntil([&] { return !window->isVisible(); }, 5000));
    EXPECT_FALSE(fs::exists(env.Dir / "b.wav"));
    EXPECT_EQ(plugin->Counts().Open, 1);
    EXPECT_EQ(plugin->Counts().OpenNow, 0);
    window.reset();
    EXPECT_EQ(RunLog->Lines().back(), "一括デコードが完了しました。");
}

TEST_F(PlaylistFixture, NothingHappensWithoutAPlaylistAndUnreadableOnesDoNotStart)
{
    RunBatch("");
    EXPECT_TRUE(LogLines(*window).empty());

    testsupport::WriteFileBytes(env.Dir / "bad.kbm", "Not a playlist\r\n0=x\r\n");
    RunBatch(env.Dir / "bad.kbm");
    EXPECT_EQ(LogLines(*window), (std::vector<std::string>{"エラー：KBM プレイリストを開けません。",
                                                           "警告: デコードは開始できません"}));
    EXPECT_EQ(window->btnStartMultiDecode->text(), "開始(&S)");
}

TEST_F(PlaylistFixture, HeaderOnlyPlaylistTriesItsOneEmptyEntry)
{
    RunBatch(Playlist({}));
    EXPECT_EQ(
        LogLines(*window),
        (std::vector<std::string>{"一括デコードを開始します",
                                  "エラー: ファイル  に適したプラグインが見つかりませんでした",
                                  "警告: デコードは失敗しました", "一括デコードが完了しました。"}));
}

TEST_F(PlaylistFixture, MissingSettingIsLoggedNotShownAsAnErrorBox)
{
    window->lvwDecodeSettings->clear();
    window->FillPcmFormatLists();
    RunBatch(Playlist({"0=" + Song("a.tst")}));
    EXPECT_EQ(LogLines(*window), (std::vector<std::string>{"エラー: デコード設定がありません",
                                                           "警告: デコードは開始できません"}));
    EXPECT_TRUE(dialogs.Errors.empty());
}

TEST(PlaylistNames, SourceSongNumberAndOutputComeFromTheEntry)
{
    auto names = DerivePlaylistEntryNames("/music/a.mp3");
    EXPECT_EQ(names.Source, "/music/a.mp3");
    EXPECT_FALSE(names.SongNumber.has_value());
    EXPECT_EQ(names.Output, "/music/a.wav");
    names = DerivePlaylistEntryNames("/music/game.nsf::3");
    EXPECT_EQ(names.Source, "/music/game.nsf");
    EXPECT_EQ(names.SongNumber, 3u);
    EXPECT_EQ(names.Output, "/music/game[3].wav");
    EXPECT_EQ(DerivePlaylistEntryNames("game.nsf::03").Output, "game[3].wav");
    EXPECT_EQ(DerivePlaylistEntryNames("/music/a.b/song").Output, "/music/a.b/song.wav");
    // The first mark counts: the rest must be a number.
    EXPECT_THROW(DerivePlaylistEntryNames("/x/a.nsf::1::2"), std::exception);
    try {
        DerivePlaylistEntryNames("a.nsf::-1");
        FAIL();
    } catch (const std::exception& e) {
        EXPECT_STREQ(e.what(), "Range check error");
    }
}
