// A playlist written on Windows, decoded here: Shift_JIS names, drive letters through Wine's
// drive table, backslashes and letter case that differs from the files, and an entry that
// resolves to nothing.
#include "app/DecodeSettings.h"
#include "app/PlaylistDecoding.h"
#include "kpi/kpiDriver.h"
#include "platform/WindowsPaths.h"
#include "tests/support/ScopedEnvironment.h"
#include "tests/support/TempFolder.h"
#include "tests/support/WavReader.h"
#include "tests/testplugin/TestPluginHost.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

namespace fs = std::filesystem;

namespace {

// Shift_JIS bytes: ゲーム, and ソ表 whose second bytes are 0x5C, a backslash's byte.
const std::string kGame = "\x83\x51\x81\x5B\x83\x80";
const std::string kSoHyou = "\x83\x5C\x95\x5C";

struct WindowsPlaylist : ::testing::Test {
    testsupport::TempFolder dir;
    testsupport::ScopedEnvironment environment;
    std::unique_ptr<testkpi::TestPlugin> plugin;
    TZoKpiDriver driver;
    std::string driveC = dir / "prefix/drive_c";
    std::vector<std::string> log;

    WindowsPlaylist()
    {
        const std::string table = platform::DriveTableFolder(dir / "prefix");
        fs::create_directories(table);
        fs::create_directories(driveC);
        fs::create_symlink("../drive_c", table + "/c:");
        fs::create_symlink("/", table + "/z:");
        environment.Set("WINEPREFIX", dir / "prefix");
        // A folder of its own: the scan would follow the drive links into the whole system.
        fs::create_directories(dir / "plugins");
        plugin = std::make_unique<testkpi::TestPlugin>(dir / "plugins/test.kpi");
        driver.CacheFolder = dir.Path();
        driver.OnPluginLoaded = [](TZoKpi&) { return true; };
        driver.LoadFolder(dir / "plugins");
        fs::current_path(dir.Path());
    }
    std::string Song(const std::string& path, uint32_t songs = 0)
    {
        testkpi::TestSong song;
        song.Length = songs == 0 ? "100" : "";
        song.Frames = songs == 0 ? "4410" : "inf";
        song.Songs = songs;
        fs::create_directories(fs::path(path).parent_path());
        song.WriteTo(path);
        return path;
    }
    std::string startFolder; // the folder the program started in; "" for dir
    void Run(const std::string& playlist)
    {
        TPlainMainThreadLoop loop;
        TPlaylistDecodeJob::Hooks hooks;
        hooks.Log = [&](const std::string& line) { log.push_back(line); };
        TPlaylistDecodeJob job(loop, std::move(hooks));
        job.EntryFolder = startFolder.empty() ? dir.Path() : startFolder; // as if started there
        const DecodeSettingRow row = {"short", {"44100", "16", "2", "1", "100"}};
        job.Run(driver, playlist, ReadDecodeSetting(row), ReadRequestedFormat(row));
    }
    std::vector<std::string> EntryLines(const std::string& source)
    {
        return {"ファイル " + source + " のデコードを開始します",
                "  プラグイン test.kpi を使用します", "  44100Hz, 16 ビット, 2 チャンネル",
                "デコードは完了しました"};
    }
};

} // namespace

TEST_F(WindowsPlaylist, EntriesWrittenOnWindowsDecodeBesideTheFilesTheyName)
{
    const std::string game = Song(driveC + "/Music/ゲーム/Stage1.tst", 3);
    const std::string relative = Song(dir / "Relative/ソ表 Song.tst");
    const std::string onZ = Song(dir / "Other/Track.tst");
    std::string zPath = dir / "OTHER/track.TST";
    std::replace(zPath.begin(), zPath.end(), '/', '\\');

    std::string playlist = "KbMIDI Player Play List\r\n";
    for (const std::string& line : std::vector<std::string>{
             "0=C:\\" + kGame + ".lzh", "1=inner.mid", "-", // skipped, its name shown readably
             "0=C:\\music\\" + kGame + "\\STAGE1.tst::2", "2=" + kSoHyou, "3=Composer", "-",
             "0=relative\\" + kSoHyou + " song.tst", "-",    // beside the playlist
             "0=Z:" + zPath, "-",                            // Z: is the root
             "0=C:\\Music\\" + kGame + "\\missing.xyz", "-", // found nowhere
             "0=" + relative})
        playlist += line + "\r\n";
    testsupport::WriteFileBytes(dir / "list.kbm", playlist);
    Run(dir / "list.kbm");

    // The log names the files as they were found here.
    std::vector<std::string> expected = {
        "一括デコードを開始します",
        "警告：書庫ファイル C:\\ゲーム.lzh はサポートしていません。スキップします。"};
    for (const std::string& source : {game, relative, onZ})
        for (const std::string& line : EntryLines(source))
            expected.push_back(line);
    expected.push_back("エラー: ファイル " + driveC +
                       "/Music/ゲーム/missing.xyz に適したプラグインが見つかりませんでした");
    expected.push_back("警告: デコードは失敗しました");
    expected.push_back("一括デコードが完了しました。");
    EXPECT_EQ(log, expected);

    // Each output lies beside its resolved source and follows its spelling; the song number
    // and the tags work as for any entry, the tags being the playlist's own bytes.
    const auto tagged = testsupport::ReadWavWithSndfile(driveC + "/Music/ゲーム/Stage1[2].wav");
    ASSERT_TRUE(tagged.Ok) << tagged.Error;
    EXPECT_EQ(tagged.Title, kSoHyou);
    EXPECT_EQ(tagged.Artist, "Composer");
    ASSERT_GE(plugin->SetPositionCalls().size(), 2u);
    EXPECT_EQ(plugin->SetPositionCalls()[1].PositionMs, 2000u); // song 2
    EXPECT_TRUE(fs::exists(dir / "Relative/ソ表 Song.wav"));
    EXPECT_TRUE(fs::exists(dir / "Other/Track.wav"));
    // The entry after the failing one is not decoded, as after any failure.
    EXPECT_EQ(plugin->Counts().Open, 3);

    // The playlist itself is left as it was.
    EXPECT_EQ(testsupport::ReadFileBytes(dir / "list.kbm"), playlist);
}

TEST_F(WindowsPlaylist, ARelativeEntryIsLookedForBesideThePlaylistFirstThenAsWritten)
{
    Song(dir / "lists/sub/song.tst");
    Song(dir / "elsewhere/sub/song.tst"); // same name, in the folder the program started in
    Song(dir / "elsewhere/only-here.tst");
    testsupport::WriteFileBytes(dir / "lists/list.kbm",
                                "KbMIDI Player Play List\r\n0=sub\\song.tst\r\n-\r\n"
                                "0=only-here.tst\r\n");
    startFolder = dir / "elsewhere";
    Run(dir / "lists/list.kbm");
    EXPECT_EQ(log[1], "ファイル " + dir / "lists/sub/song.tst" + " のデコードを開始します");
    EXPECT_TRUE(fs::exists(dir / "lists/sub/song.wav"));
    EXPECT_FALSE(fs::exists(dir / "elsewhere/sub/song.wav"));
    // Not beside the playlist: found from where the program started, as every playlist always was.
    EXPECT_EQ(log[5], "ファイル " + dir / "elsewhere/only-here.tst" + " のデコードを開始します");
    EXPECT_TRUE(fs::exists(dir / "elsewhere/only-here.wav"));
    EXPECT_EQ(log.back(), "一括デコードが完了しました。");
}
