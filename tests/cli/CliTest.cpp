// pellan-decode driven as a process, as scripts use it: files and playlists with the same
// bytes as the window writes, failures with their lines and status, Ctrl+C, bad arguments.
#include "tests/support/CliFixture.h"
#include "tests/support/ScopedEnvironment.h"

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <thread>

using testsupport::CliFixture;
using Result = testsupport::ProgramResult;
using testkpi::TestSong;
namespace fs = std::filesystem;

TEST_F(CliFixture, PlaylistLikeThePlaylistTab)
{
    const std::string a = Song("a.tst"), b = Song("b.tst");
    testsupport::WriteFileBytes(dir / "list.kbm", "KbMIDI Player Play List\r\n0=" + a +
                                                      "\r\n2=Title A\r\n-\r\n0=" + b +
                                                      "\r\n3=Artist B\r\n");
    const Result result = Run({"--plugins", pluginFolder, "--playlist", dir / "list.kbm"});
    EXPECT_EQ(result.Status, 0) << result.Err;
    std::vector<std::string> expected = StartLines();
    expected.push_back("一括デコードを開始します");
    for (const auto& source : {a, b})
        for (const auto& line : EntryLines(source))
            expected.push_back(line);
    expected.push_back("一括デコードが完了しました。");
    EXPECT_EQ(result.ErrLines(), expected);
    EXPECT_NE(
        testsupport::ReadFileBytes(dir / "a.wav").find(std::string("INAM\x07\0\0\0Title A", 15)),
        std::string::npos);
    EXPECT_NE(testsupport::ReadFileBytes(dir / "b.wav").find("IART"), std::string::npos);
}

TEST_F(CliFixture, FailuresGiveTheirLinesAndStatusOne)
{
    const Result unknown = Run({"--plugins", pluginFolder, dir / "x.xyz", dir / "x.wav"});
    EXPECT_EQ(unknown.Status, 1);
    const auto lines = unknown.ErrLines();
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[4],
              "エラー: ファイル " + (dir / "x.xyz") + " に適したプラグインが見つかりませんでした");
    EXPECT_EQ(lines[5], "警告: デコードは失敗しました");

    testsupport::WriteFileBytes(dir / "list.kbm",
                                "KbMIDI Player Play List\r\n0=" + (dir / "x.xyz") + "\r\n");
    const Result batch =
        Run({"--plugins", pluginFolder, "--playlist", dir / "list.kbm", "--quiet"});
    EXPECT_EQ(batch.Status, 1);
    EXPECT_EQ(batch.ErrLines(),
              (std::vector<std::string>{"エラー: ファイル " + (dir / "x.xyz") +
                                            " に適したプラグインが見つかりませんでした",
                                        "警告: デコードは失敗しました"}));

    const Result noFolder = Run({"--plugins", dir / "none", Song("a.tst"), dir / "a.wav"});
    EXPECT_EQ(noFolder.Status, 2); // a bad argument
    EXPECT_NE(noFolder.Err.find("--plugins"), std::string::npos);
}

TEST_F(CliFixture, CtrlCStopsLikeTheStopButtonAndLeavesNoFile)
{
    TestSong slow;
    slow.Length = "none";
    slow.Frames = "inf";
    slow.DelayMs = 2;
    const std::string output = dir / "slow.wav";
    const pid_t pid = Start({"--plugins", pluginFolder, Song("slow.tst", slow), output});
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while ((!fs::exists(output) || fs::file_size(output) < 100000) &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_TRUE(fs::exists(output));
    ::kill(pid, SIGINT);
    const Result result = Finish(pid);
    EXPECT_EQ(result.Status, 130);
    EXPECT_FALSE(fs::exists(output));
    const auto lines = result.ErrLines();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(
        std::vector<std::string>(lines.end() - 3, lines.end()),
        (std::vector<std::string>{"  警告: デコードはユーザの指示により中止されました",
                                  "  警告: ファイルは削除されました", "デコードは完了しました"}));
}

TEST_F(CliFixture, SigtermStopsLikeCtrlCAndASecondSignalEndsABlockedRenderAtOnce)
{
    // Each Render sleeps a minute: only the second signal can end the program in time.
    TestSong blocked;
    blocked.Length = "none";
    blocked.Frames = "inf";
    blocked.DelayMs = 60000;
    const std::string source = Song("blocked.tst", blocked);
    // The program publishes its plug-in calls, so that the first signal is sent only once it
    // sits in Render: sent earlier, the decode would stop before blocking, and end by itself.
    testsupport::WriteFileBytes(plugin->Path() + ".conf", "extensions=.tst\npublish=1\n");
    const auto rendering = [&](pid_t pid) {
        for (const testkpi::PublishedCounts& p : plugin->Published())
            if (p.Process == std::to_string(pid) && p.Counts.Render > 0)
                return true;
        return false;
    };
    struct Case {
        int first, second, status;
    };
    for (const Case c :
         {Case{SIGTERM, SIGTERM, 143}, Case{SIGINT, SIGTERM, 143}, Case{SIGTERM, SIGINT, 130}}) {
        SCOPED_TRACE(std::to_string(c.first) + " then " + std::to_string(c.second));
        const std::string output = dir / "blocked.wav";
        const pid_t pid = Start({"--plugins", pluginFolder, source, output});
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        const auto stderrHas = [&](const std::string& text) {
            std::error_code error; // the program may not have opened it yet
            return fs::exists(dir / "stderr", error) &&
                   testsupport::ReadFileBytes(dir / "stderr").find(text) != std::string::npos;
        };
        while ((!stderrHas("のデコードを開始します") || !fs::exists(output) || !rendering(pid)) &&
               std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ASSERT_TRUE(fs::exists(output));
        ASSERT_TRUE(rendering(pid));
        ::kill(pid, c.first);
        while (!stderrHas("ファイルは削除されました") &&
               std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ::kill(pid, c.second);
        const auto start = std::chrono::steady_clock::now();
        const Result result = Finish(pid);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
        // The second signal's own status: 128 + its number.
        EXPECT_EQ(result.Status, c.status) << result.Err;
        EXPECT_FALSE(fs::exists(output));
        // The stop lines come once, however many signals arrive.
        const auto lines = result.ErrLines();
        EXPECT_EQ(std::count(lines.begin(), lines.end(),
                             "  警告: デコードはユーザの指示により中止されました"),
                  1);
    }
}

TEST_F(CliFixture, APluginThatMovesTheCurrentFolderMovesNoFile)
{
    // The plug-in makes another folder the current one in every Open; every name the program
    // was given is relative to the folder it was started in.
    fs::create_directories(dir / "elsewhere");
    fs::create_directories(dir / "work/songs");
    TestSong song;
    song.Extra = "chdir=" + (dir / "elsewhere") + "\n";
    for (const char* name : {"work/a.tst", "work/b.tst", "work/songs/c.tst"})
        Song(name, song);
    testsupport::WriteFileBytes(dir / "work/list.kbm",
                                "KbMIDI Player Play List\r\n0=a.tst\r\n-\r\n0=songs/c.tst\r\n");
    run.WorkingFolder = dir / "work";
    const std::vector<std::vector<std::string>> runs = {
        {"a.tst", "one.wav"},
        {"--out-dir", "out", "--jobs", "1", "a.tst", "b.tst", "songs/c.tst"},
        {"--beside", "--jobs", "2", "a.tst", "b.tst", "songs/c.tst"},
        {"--playlist", "list.kbm"},
    };
    for (const auto& arguments : runs) {
        std::vector<std::string> all = {"--plugins", pluginFolder};
        all.insert(all.end(), arguments.begin(), arguments.end());
        const Result result = Run(all);
        EXPECT_EQ(result.Status, 0) << testing::PrintToString(arguments) << result.Err;
    }
    for (const char* made :
         {"one.wav", "out/a.wav", "out/b.wav", "out/c.wav", "a.wav", "b.wav", "songs/c.wav"})
        EXPECT_TRUE(fs::exists(dir / "work" + "/" + made) &&
                    fs::file_size(dir / "work" + "/" + made) > 1000u)
            << made;
    std::vector<std::string> strays;
    for (const auto& entry : fs::recursive_directory_iterator(dir / "elsewhere"))
        strays.push_back(entry.path().string());
    EXPECT_TRUE(strays.empty()) << testing::PrintToString(strays);
}

TEST_F(CliFixture, ATimeLimitThatIsNoNumberOfSecondsIsReportedAndTheDefaultUsed)
{
    const std::string song = Song("a.tst");
    testsupport::ScopedEnvironment environment;
    for (const std::string value : {"0", "-1", "abc", "1e3", "86401", "2.5", ""}) {
        environment.Set("PELLAN_PLUGIN_TIME_LIMIT", value);
        const Result result = Run({"--plugins", pluginFolder, song, dir / "a.wav"});
        EXPECT_EQ(result.Status, 0) << result.Err;
        // A number from 0.1 to 86400 is taken; an empty variable is as good as none.
        const bool usable = value == "2.5" || value.empty();
        EXPECT_EQ(result.ErrLines().at(2),
                  usable
                      ? std::string("  test.kpi ver.1 をロードしました")
                      : "  警告: 環境変数 PELLAN_PLUGIN_TIME_LIMIT の値 \"" + value +
                            "\" は使えません (0.1 から 86400 までの秒数)。既定の 60 秒を使います")
            << value;
    }
}

TEST_F(CliFixture, BadArgumentsGiveStatusTwoAndTwoLines)
{
    const std::vector<std::vector<std::string>> bad = {
        {},
        {"only-one"},
        {"a", "b", "c"},
        {"--bits", "12", "a", "b.wav"},
        {"--rate", "fast", "a", "b.wav"},
        {"--length", "5", "a", "b.wav"},
        {"--frobnicate", "a", "b.wav"},
        {"--playlist"},
        {"--playlist", "x.kbm", "extra"},
    };
    for (const auto& arguments : bad) {
        const Result result = Run(arguments);
        EXPECT_EQ(result.Status, 2) << testing::PrintToString(arguments);
        // What is wrong, then where to read more: not the whole usage.
        const auto lines = result.ErrLines();
        ASSERT_EQ(lines.size(), 2u) << result.Err;
        EXPECT_EQ(lines[0].rfind("pellan-decode: ", 0), 0u);
        EXPECT_EQ(lines[1], "詳しくは 'pellan-decode --help' を実行してください");
        EXPECT_EQ(result.Out, "");
    }
    const Result unknown = Run({"--frobnicate=1", "a", "b.wav"});
    EXPECT_EQ(unknown.ErrLines()[0], "pellan-decode: 不明なオプション --frobnicate");
    // A setting that is not stored is no mistake of the command line's form: one line.
    const Result setting = Run({"--setting", "nonexistent", "a", "b.wav"});
    EXPECT_EQ(setting.Status, 2);
    EXPECT_EQ(setting.ErrLines().size(), 1u);
    EXPECT_FALSE(fs::exists(dir / "b.wav"));
}

TEST_F(CliFixture, HelpVersionAndThePluginList)
{
    const Result version = Run({"--version"});
    EXPECT_EQ(version.Status, 0);
    EXPECT_EQ(version.Out.substr(0, version.Out.find('\n')), "pellan-decode 1.0.0.79");
    EXPECT_NE(version.Out.find("MIT ライセンス"), std::string::npos);
    const Result help = Run({"--help"});
    EXPECT_EQ(help.Status, 0);
    EXPECT_EQ(help.Out.rfind("使い方: pellan-decode", 0), 0u);

    testsupport::WriteFileBytes(pluginFolder + "/broken.kpi", "not a library");
    const Result list = Run({"--plugins", pluginFolder, "--list-plugins"});
    EXPECT_EQ(list.Status, 0);
    EXPECT_EQ(list.Out, "test.kpi\tver.1\t" + pluginFolder + "/test.kpi\ttst\n");
    EXPECT_EQ(list.Err, "  警告: " + pluginFolder + "/broken.kpi のロードに失敗しました\n" +
                            "    理由: " + pluginFolder + "/broken.kpi: file too short\n");
}

TEST_F(CliFixture, StoredFolderAndRelativePathsWork)
{
    // The folder the window stored is used without --plugins, and relative paths on the
    // command line mean what they meant where the command was started.
    const std::string config = home + "/.config/Quenz";
    fs::create_directories(config);
    testsupport::WriteFileBytes(config + "/PellanDecoder.conf",
                                "[SearchPath]\nPlugins=" + pluginFolder + "\n");
    Song("rel.tst");
    const std::string startFolder = fs::current_path().string();
    fs::current_path(dir.Path());
    const Result result = Run({"rel.tst", "rel.wav"});
    fs::current_path(startFolder);
    EXPECT_EQ(result.Status, 0) << result.Err;
    EXPECT_TRUE(fs::exists(dir / "rel.wav"));
}

TEST_F(CliFixture, ConversionLeavesItsRunLogAndThePluginCacheBesideTheProgram)
{
    // A copy of the program in a folder of its own.
    const std::string bin = dir / "bin";
    fs::create_directories(bin);
    fs::copy_file(PELLAN_DECODE_PROGRAM, bin + "/pellan-decode");
    const std::string source = Song("a.tst");
    const Result result =
        Run({"--quiet", "--plugins", pluginFolder, source, dir / "a.wav"}, bin + "/pellan-decode");
    EXPECT_EQ(result.Status, 0) << result.Err;
    EXPECT_EQ(result.Err, ""); // quiet

    // Every line, those that quiet keeps off the terminal included, in the window's format.
    std::string expected;
    std::vector<std::string> lines = StartLines();
    for (const auto& line : EntryLines(source))
        lines.push_back(line);
    for (const auto& line : lines)
        expected += line + "\r\n";
    EXPECT_EQ(testsupport::ReadFileBytes(bin + "/pellan-decode.log"), expected);
    EXPECT_EQ(testsupport::ReadFileBytes(bin + "/plugin.cache").substr(0, 8),
              std::string("\x01\0\0\0\x01\0\0\0", 8));

    // A listing writes the cache but leaves no log.
    fs::remove(bin + "/pellan-decode.log");
    fs::remove(bin + "/plugin.cache");
    EXPECT_EQ(Run({"--plugins", pluginFolder, "--list-plugins"}, bin + "/pellan-decode").Status, 0);
    EXPECT_FALSE(fs::exists(bin + "/pellan-decode.log"));
    EXPECT_TRUE(fs::exists(bin + "/plugin.cache"));
}
