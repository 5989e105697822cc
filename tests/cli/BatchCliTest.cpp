// pellan-decode's batch form: many inputs into a folder or beside themselves, folders walked,
// every song of a multi-song file, existing outputs, clashes refused before anything starts,
// failures in the middle, several jobs, and Ctrl+C while several songs run.
#include "tests/cli/CliFixture.h"

#include <signal.h>

#include <chrono>
#include <map>
#include <thread>

using clitest::Result;
using testkpi::TestSong;
namespace fs = std::filesystem;

namespace {

struct BatchCli : clitest::CliFixture {
    void SetUp() override
    {
        plugin = &AddPlugin("test.kpi", {{"extensions", ".tst,.wav"}});
        fs::create_directories(home);
    }
    std::vector<std::string> Names(const std::string& folder)
    {
        std::vector<std::string> names;
        for (const auto& entry : fs::recursive_directory_iterator(folder))
            if (entry.is_regular_file())
                names.push_back(fs::relative(entry.path(), folder).string());
        std::sort(names.begin(), names.end());
        return names;
    }
    // The lines after the start-up lines and before the summary.
    std::vector<std::string> SongLines(const Result& result)
    {
        auto lines = result.ErrLines();
        EXPECT_GE(lines.size(), StartLines().size() + 1);
        return std::vector<std::string>(lines.begin() + StartLines().size(), lines.end() - 1);
    }
};

} // namespace

TEST_F(BatchCli, EveryNameIsAnInputAWavFileIncluded)
{
    const std::string a = Song("a.tst"), b = Song("b.wav");
    const Result result = Run({"--plugins", pluginFolder, "--out-dir", env.Dir / "out", a, b});
    EXPECT_EQ(result.Status, 0) << result.Err;
    EXPECT_EQ(Names(env.Dir / "out"), (std::vector<std::string>{"a.wav", "b.wav"}));
    // b.wav was read, not written: it is the song file still.
    EXPECT_EQ(testsupport::ReadFileBytes(b).rfind("rate=", 0), 0u);
    // Every line names its song; the last one sums up.
    for (const std::string& line : SongLines(result))
        EXPECT_TRUE(line.rfind("a.wav: ", 0) == 0 || line.rfind("b.wav: ", 0) == 0) << line;
    EXPECT_EQ(result.ErrLines().back().rfind("変換 2、失敗 0、スキップ 0 (", 0), 0u);

    // Beside the inputs instead.
    EXPECT_EQ(Run({"--plugins", pluginFolder, "--beside", a}).Status, 0);
    EXPECT_TRUE(fs::exists(env.Dir / "a.wav"));

    // Without --out-dir or --beside, two names are INPUT and OUTPUT, and more are refused.
    const Result three = Run({"--plugins", pluginFolder, a, b, Song("c.tst")});
    EXPECT_EQ(three.Status, 2);
    EXPECT_NE(three.Err.find("--out-dir DIR か --beside"), std::string::npos);
}

TEST_F(BatchCli, TwoInputsWritingOneOutputAreRefusedBeforeAnythingStarts)
{
    fs::create_directories(env.Dir / "x");
    fs::create_directories(env.Dir / "y");
    const std::string first = Song("x/song.tst"), second = Song("y/song.wav");
    const Result result =
        Run({"--plugins", pluginFolder, "--out-dir", env.Dir / "out", first, second});
    EXPECT_EQ(result.Status, 2);
    EXPECT_NE(result.Err.find("どちらも"), std::string::npos) << result.Err;
    EXPECT_FALSE(fs::exists(env.Dir / "out/song.wav"));
    // The same file twice clashes with itself.
    EXPECT_EQ(Run({"--plugins", pluginFolder, "--beside", first, first}).Status, 2);
    EXPECT_FALSE(fs::exists(env.Dir / "x/song.wav"));
}

TEST_F(BatchCli, FoldersAreWalkedWithRecursiveKeepingClaimedFiles)
{
    for (const char* name : {"album/01.tst", "album/disc2/02.tst", "album/.hidden/03.tst",
                             "album/notes.txt", "album/.04.tst"}) {
        fs::create_directories((env.Dir / ("in/" + std::string(name))).c_str());
        fs::remove((env.Dir / ("in/" + std::string(name))).c_str());
        Song(std::string("in/") + name);
    }
    const Result refused =
        Run({"--plugins", pluginFolder, "--out-dir", env.Dir / "out", env.Dir / "in/album"});
    EXPECT_EQ(refused.Status, 2);
    EXPECT_NE(refused.Err.find("--recursive"), std::string::npos);

    const Result result = Run({"--plugins", pluginFolder, "--recursive", "--out-dir",
                               env.Dir / "out", env.Dir / "in/album"});
    EXPECT_EQ(result.Status, 0) << result.Err;
    // The folders below the walked one are kept in DIR.
    EXPECT_EQ(Names(env.Dir / "out"), (std::vector<std::string>{"01.wav", "disc2/02.wav"}));
}

TEST_F(BatchCli, AllSongsRangesExistingOutputsAndAFailureInTheMiddle)
{
    TestSong multi;
    multi.Songs = 3;
    multi.Frames = "30000";
    const std::string game = env.Dir / "game.tst";
    multi.WriteTo(game); // no length: a multi-song file's is its count of songs
    const Result all = Run({"--plugins", pluginFolder, "--length", "10", "--fade", "100",
                            "--out-dir", env.Dir / "out", "--all-songs", game});
    EXPECT_EQ(all.Status, 0) << all.Err;
    EXPECT_EQ(Names(env.Dir / "out"),
              (std::vector<std::string>{"game[1].wav", "game[2].wav", "game[3].wav"}));

    // Existing outputs are skipped with a warning, and that is no failure.
    const Result again = Run({"--plugins", pluginFolder, "--length", "10", "--fade", "100",
                              "--out-dir", env.Dir / "out", "--song", "2-5", game});
    EXPECT_EQ(again.Status, 0);
    EXPECT_NE(again.Err.find("game[2].wav: 警告: 出力先 " + env.Dir / "out/game[2].wav" +
                             " は既にあります。スキップします。"),
              std::string::npos);
    EXPECT_EQ(again.ErrLines().back().rfind("変換 0、失敗 0、スキップ 2", 0), 0u);

    // A file that fails in the middle: the others are converted, the status is 1.
    testsupport::WriteFileBytes(env.Dir / "bad.tst", "open=refuse\n");
    const Result mixed = Run({"--plugins", pluginFolder, "--out-dir", env.Dir / "mixed",
                              Song("one.tst"), env.Dir / "bad.tst", Song("two.tst")});
    EXPECT_EQ(mixed.Status, 1);
    EXPECT_EQ(Names(env.Dir / "mixed"), (std::vector<std::string>{"one.wav", "two.wav"}));
    EXPECT_EQ(mixed.ErrLines().back().rfind("変換 2、失敗 1、スキップ 0", 0), 0u);
}

TEST_F(BatchCli, CtrlCWithSeveralJobsDeletesTheSongsInProgressAndKeepsTheFinished)
{
    TestSong slow;
    slow.Length = "none";
    slow.Frames = "inf";
    slow.DelayMs = 2;
    const std::string quick = Song("quick.tst");
    const std::string s1 = Song("slow1.tst", slow), s2 = Song("slow2.tst", slow);
    const pid_t pid = Start(
        {"--plugins", pluginFolder, "--jobs", "3", "--out-dir", env.Dir / "out", quick, s1, s2});
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    const auto big = [&](const std::string& name) {
        std::error_code error;
        return fs::file_size(env.Dir / ("out/" + name), error) > 100000 && !error;
    };
    while (!(big("slow1.wav") && big("slow2.wav") &&
             testsupport::ReadFileBytes(env.Dir / "stderr")
                     .find("quick.wav: デコードは完了しました") != std::string::npos) &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ::kill(pid, SIGINT);
    const Result result = Finish(pid);
    EXPECT_EQ(result.Status, 130) << result.Err;
    EXPECT_EQ(Names(env.Dir / "out"), (std::vector<std::string>{"quick.wav"}));
    for (const char* name : {"slow1.wav", "slow2.wav"})
        EXPECT_NE(result.Err.find(std::string(name) + ":   警告: ファイルは削除されました"),
                  std::string::npos);
}

TEST_F(BatchCli, APlaylistWithSeveralJobsWritesWhatOneJobWrites)
{
    const std::string a = Song("a.tst"), b = Song("b.tst");
    TestSong multi;
    multi.Songs = 2;
    multi.Frames = "30000";
    multi.WriteTo(env.Dir / "m.tst");
    testsupport::WriteFileBytes(env.Dir / "list.kbm", "KbMIDI Player Play List\r\n0=" + a +
                                                          "\r\n2=Title\r\n-\r\n0=" + b +
                                                          "\r\n-\r\n0=" + env.Dir / "m.tst::2" +
                                                          "\r\n-\r\n0=" + a + "\r\n");
    const auto outputs = [&] {
        std::map<std::string, std::string> files;
        for (const char* name : {"a.wav", "b.wav", "m[2].wav"})
            files[name] = testsupport::ReadFileBytes(env.Dir / name);
        return files;
    };
    const Result one = Run({"--plugins", pluginFolder, "--playlist", env.Dir / "list.kbm"});
    EXPECT_EQ(one.Status, 0) << one.Err;
    const auto expected = outputs();
    for (const char* name : {"a.wav", "b.wav", "m[2].wav"})
        fs::remove(env.Dir / name);
    const Result four =
        Run({"--plugins", pluginFolder, "--jobs", "4", "--playlist", env.Dir / "list.kbm"});
    EXPECT_EQ(four.Status, 0) << four.Err;
    EXPECT_EQ(outputs(), expected);
    EXPECT_EQ(four.ErrLines().back(), "一括デコードが完了しました。");
}
