// pellan-decode's batch form: many inputs into a folder or beside themselves, folders walked,
// every song of a multi-song file, existing outputs, clashes refused before anything starts,
// failures in the middle, several jobs, and Ctrl+C while several songs run; what a failed or
// stopped song leaves (nothing under its name), inputs that are outputs, named pipes, and files
// that claim millions of songs.
#include "tests/support/CliFixture.h"

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <chrono>
#include <map>
#include <thread>

using Result = testsupport::ProgramResult;
using testkpi::TestSong;
namespace fs = std::filesystem;

namespace {

struct BatchCli : testsupport::CliFixture {
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
    // Run, but a program still running after seconds is killed (its status is then 137).
    Result RunWithin(const std::vector<std::string>& arguments, int seconds)
    {
        const pid_t pid = Start(arguments);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        siginfo_t info{};
        while (::waitid(P_PID, pid, &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == 0 &&
               std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (info.si_pid == 0)
            ::kill(pid, SIGKILL);
        return Finish(pid);
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
    const Result result = Run({"--plugins", pluginFolder, "--out-dir", dir / "out", a, b});
    EXPECT_EQ(result.Status, 0) << result.Err;
    EXPECT_EQ(Names(dir / "out"), (std::vector<std::string>{"a.wav", "b.wav"}));
    // b.wav was read, not written: it is the song file still.
    EXPECT_EQ(testsupport::ReadFileBytes(b).rfind("rate=", 0), 0u);
    // Every line names its song; the last one sums up.
    for (const std::string& line : SongLines(result))
        EXPECT_TRUE(line.rfind("a.wav: ", 0) == 0 || line.rfind("b.wav: ", 0) == 0) << line;
    EXPECT_EQ(result.ErrLines().back().rfind("変換 2、失敗 0、スキップ 0 (", 0), 0u);

    // Beside the inputs instead.
    EXPECT_EQ(Run({"--plugins", pluginFolder, "--beside", a}).Status, 0);
    EXPECT_TRUE(fs::exists(dir / "a.wav"));

    // Without --out-dir or --beside, two names are INPUT and OUTPUT, and more are refused.
    const Result three = Run({"--plugins", pluginFolder, a, b, Song("c.tst")});
    EXPECT_EQ(three.Status, 2);
    EXPECT_NE(three.Err.find("--out-dir DIR か --beside"), std::string::npos);
}

TEST_F(BatchCli, TwoInputsWritingOneOutputAreRefusedBeforeAnythingStarts)
{
    fs::create_directories(dir / "x");
    fs::create_directories(dir / "y");
    const std::string first = Song("x/song.tst"), second = Song("y/song.wav");
    const Result result = Run({"--plugins", pluginFolder, "--out-dir", dir / "out", first, second});
    EXPECT_EQ(result.Status, 2);
    EXPECT_NE(result.Err.find("どちらも"), std::string::npos) << result.Err;
    EXPECT_FALSE(fs::exists(dir / "out/song.wav"));
    // The same file twice clashes with itself.
    EXPECT_EQ(Run({"--plugins", pluginFolder, "--beside", first, first}).Status, 2);
    EXPECT_FALSE(fs::exists(dir / "x/song.wav"));
}

TEST_F(BatchCli, FoldersAreWalkedWithRecursiveKeepingClaimedFiles)
{
    for (const char* name : {"album/01.tst", "album/disc2/02.tst", "album/.hidden/03.tst",
                             "album/notes.txt", "album/.04.tst"}) {
        fs::create_directories((dir / ("in/" + std::string(name))).c_str());
        fs::remove((dir / ("in/" + std::string(name))).c_str());
        Song(std::string("in/") + name);
    }
    const Result refused =
        Run({"--plugins", pluginFolder, "--out-dir", dir / "out", dir / "in/album"});
    EXPECT_EQ(refused.Status, 2);
    EXPECT_NE(refused.Err.find("--recursive"), std::string::npos);

    const Result result =
        Run({"--plugins", pluginFolder, "--recursive", "--out-dir", dir / "out", dir / "in/album"});
    EXPECT_EQ(result.Status, 0) << result.Err;
    // The folders below the walked one are kept in DIR.
    EXPECT_EQ(Names(dir / "out"), (std::vector<std::string>{"01.wav", "disc2/02.wav"}));
}

TEST_F(BatchCli, AllSongsRangesExistingOutputsAndAFailureInTheMiddle)
{
    TestSong multi;
    multi.Songs = 3;
    multi.Frames = "30000";
    const std::string game = dir / "game.tst";
    multi.WriteTo(game); // no length: a multi-song file's is its count of songs
    const Result all = Run({"--plugins", pluginFolder, "--length", "10", "--fade", "100",
                            "--out-dir", dir / "out", "--all-songs", game});
    EXPECT_EQ(all.Status, 0) << all.Err;
    EXPECT_EQ(Names(dir / "out"),
              (std::vector<std::string>{"game[1].wav", "game[2].wav", "game[3].wav"}));

    // Existing outputs are skipped with a warning, and that is no failure.
    const Result again = Run({"--plugins", pluginFolder, "--length", "10", "--fade", "100",
                              "--out-dir", dir / "out", "--song", "2-5", game});
    EXPECT_EQ(again.Status, 0);
    EXPECT_NE(again.Err.find("game[2].wav: 警告: 出力先 " + dir / "out/game[2].wav" +
                             " は既にあります。スキップします。"),
              std::string::npos);
    EXPECT_EQ(again.ErrLines().back().rfind("変換 0、失敗 0、スキップ 2", 0), 0u);

    // A file that fails in the middle: the others are converted, the status is 1.
    testsupport::WriteFileBytes(dir / "bad.tst", "open=refuse\n");
    const Result mixed = Run({"--plugins", pluginFolder, "--out-dir", dir / "mixed",
                              Song("one.tst"), dir / "bad.tst", Song("two.tst")});
    EXPECT_EQ(mixed.Status, 1);
    EXPECT_EQ(Names(dir / "mixed"), (std::vector<std::string>{"one.wav", "two.wav"}));
    EXPECT_EQ(mixed.ErrLines().back().rfind("変換 2、失敗 1、スキップ 0", 0), 0u);
}

TEST_F(BatchCli, CtrlCWithSeveralJobsKeepsTheFinishedAndTheOlderOutputsAndNoPartFile)
{
    TestSong slow;
    slow.Length = "none";
    slow.Frames = "inf";
    slow.DelayMs = 2;
    const std::string quick = Song("quick.tst");
    const std::string s1 = Song("slow1.tst", slow), s2 = Song("slow2.tst", slow);
    // Outputs of an earlier run: --overwrite replaces them with complete files only.
    fs::create_directories(dir / "out");
    testsupport::WriteFileBytes(dir / "out/slow1.wav", "older one");
    testsupport::WriteFileBytes(dir / "out/slow2.wav", "older two");
    const pid_t pid = Start({"--plugins", pluginFolder, "--jobs", "3", "--overwrite", "--out-dir",
                             dir / "out", quick, s1, s2});
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    // The songs in progress are written under their hidden temporary names.
    const auto big = [&](const std::string& name) {
        for (const auto& entry : fs::directory_iterator(dir / "out")) {
            const std::string file = entry.path().filename().string();
            std::error_code error;
            if (file.rfind(".pellan-", 0) == 0 && file.find(name) != std::string::npos &&
                fs::file_size(entry.path(), error) > 100000 && !error)
                return true;
        }
        return false;
    };
    while (!(big("slow1.wav") && big("slow2.wav") &&
             testsupport::ReadFileBytes(dir / "stderr").find("quick.wav: デコードは完了しました") !=
                 std::string::npos) &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ::kill(pid, SIGINT);
    const Result result = Finish(pid);
    EXPECT_EQ(result.Status, 130) << result.Err;
    EXPECT_EQ(Names(dir / "out"),
              (std::vector<std::string>{"quick.wav", "slow1.wav", "slow2.wav"}));
    EXPECT_EQ(testsupport::ReadFileBytes(dir / "out/slow1.wav"), "older one");
    EXPECT_EQ(testsupport::ReadFileBytes(dir / "out/slow2.wav"), "older two");
    for (const char* name : {"slow1.wav", "slow2.wav"})
        EXPECT_NE(result.Err.find(std::string(name) + ":   警告: ファイルは削除されました"),
                  std::string::npos);
    // The summary says that the batch was stopped, and what the stop left undone.
    EXPECT_EQ(result.ErrLines().back().rfind(
                  "中止しました: 変換 1、失敗 0、スキップ 0、中断 2、未着手 0 (", 0),
              0u)
        << result.ErrLines().back();
}

TEST_F(BatchCli, AFailedSongLeavesNothingUnderItsNameAndTheNextRunConvertsIt)
{
    // The fade cannot scale 8-bit samples: the song fails ten seconds in, after writing them.
    TestSong eightBit;
    eightBit.Bits = 8;
    eightBit.Length = "none";
    eightBit.Frames = "inf";
    const std::string good = Song("good.tst"), bad = Song("bad.tst", eightBit);
    const std::vector<std::string> command = {"--plugins", pluginFolder, "--length", "10",
                                              "--out-dir", dir / "out",  good,       bad};
    const Result first = Run(command);
    EXPECT_EQ(first.Status, 1) << first.Err;
    EXPECT_EQ(Names(dir / "out"), std::vector<std::string>{"good.wav"});

    // Again, over a part file that a killed run left behind: it is removed, and the failed song
    // is tried again, not skipped. With --overwrite an older file stays whole.
    testsupport::WriteFileBytes(dir / "out/.pellan-1-1-bad.wav.part", "partial");
    testsupport::WriteFileBytes(dir / "out/bad.wav", "older");
    std::vector<std::string> overwrite = command;
    overwrite.insert(overwrite.begin() + 4, "--overwrite");
    const Result second = Run(overwrite);
    EXPECT_EQ(second.Status, 1);
    EXPECT_EQ(Names(dir / "out"), (std::vector<std::string>{"bad.wav", "good.wav"}));
    EXPECT_EQ(testsupport::ReadFileBytes(dir / "out/bad.wav"), "older");
    EXPECT_NE(second.Err.find("中断された変換の一時ファイル"), std::string::npos);

    // Once the song converts, the same command converts exactly that.
    fs::remove(dir / "out/bad.wav");
    Song("bad.tst", TestSong{});
    const Result third = Run(command);
    EXPECT_EQ(third.Status, 0) << third.Err;
    EXPECT_EQ(third.ErrLines().back().rfind("変換 1、失敗 0、スキップ 1", 0), 0u);
}

TEST_F(BatchCli, NoInputIsAnotherInputsOutputAndTheWalkLeavesTheOutputFolderAlone)
{
    fs::create_directories(dir / "ch/sub");
    const std::string hst = Song("ch/x.tst");
    const std::string wav = Song("ch/sub/x.wav"); // a song file the plug-in claims too
    const std::string bytes = testsupport::ReadFileBytes(wav);
    const Result named =
        Run({"--plugins", pluginFolder, "--overwrite", "--beside", Song("ch/sub/x.tst"), wav});
    EXPECT_EQ(named.Status, 2);
    EXPECT_NE(named.Err.find("エラー: " + wav + " は " + dir / "ch/sub/x.tst" +
                             " の出力先でもあるため、入力にできません"),
              std::string::npos)
        << named.Err;
    EXPECT_EQ(testsupport::ReadFileBytes(wav), bytes);
    fs::remove(dir / "ch/sub/x.tst");
    // Song 2 of a multi-song file would be written to game[2].wav.
    const Result song = Run({"--plugins", pluginFolder, "--all-songs", "--out-dir", dir / "ch",
                             Song("game.tst"), Song("ch/game[2].wav")});
    EXPECT_EQ(song.Status, 2);
    EXPECT_NE(song.Err.find("の出力先でもあるため"), std::string::npos) << song.Err;
    fs::remove(dir / "ch/game[2].wav");

    // Walked, the output folder is not entered: x.wav there is an output, not an input, and
    // a second run finds no wav/wav.
    for (int run = 0; run < 2; ++run) {
        const Result walked = Run({"--plugins", pluginFolder, "--recursive", "--overwrite",
                                   "--jobs", "2", "--out-dir", dir / "ch/sub", dir / "ch"});
        EXPECT_EQ(walked.Status, 0) << walked.Err;
        EXPECT_EQ(walked.ErrLines().back().rfind("変換 1、失敗 0、スキップ 0", 0), 0u);
    }
    EXPECT_EQ(Names(dir / "ch"), (std::vector<std::string>{"sub/x.wav", "x.tst"}));
    EXPECT_EQ(testsupport::ReadFileBytes(dir / "ch/sub/x.wav").rfind("RIFF", 0), 0u);
}

TEST_F(BatchCli, AFifoIsRefusedInEveryFormBeforeAnyPluginSeesIt)
{
    const std::string pipe = dir / "pipe.tst";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    testsupport::WriteFileBytes(dir / "list.kbm", "KbMIDI Player Play List\r\n0=" + pipe);
    const std::string line = "エラー: " + pipe + " は通常のファイルではありません (名前付きパイプ)";
    for (const auto& [arguments, status] : std::vector<std::pair<std::vector<std::string>, int>>{
             {{pipe, dir / "single.wav"}, 1},
             {{"--out-dir", dir / "out", pipe}, 2},
             {{"--playlist", dir / "list.kbm"}, 1},
             {{"--jobs", "2", "--playlist", dir / "list.kbm"}, 1}}) {
        std::vector<std::string> command = {"--plugins", pluginFolder};
        command.insert(command.end(), arguments.begin(), arguments.end());
        // A plug-in blocked on the pipe would hold the program for ever; SIGTERM could not end it.
        const Result result = RunWithin(command, 20);
        EXPECT_EQ(result.Status, status) << arguments.back();
        EXPECT_NE(result.Err.find(line), std::string::npos) << result.Err;
    }
}

TEST_F(BatchCli, MillionsOfSongsAreRefusedWithoutARangeAndPlannedAsTheyStartWithOne)
{
    TestSong huge;
    huge.Songs = 4000000;
    huge.Frames = "10";
    huge.WriteTo(dir / "huge.tst");
    const Result all = RunWithin(
        {"--plugins", pluginFolder, "--all-songs", "--out-dir", dir / "all", dir / "huge.tst"}, 30);
    EXPECT_EQ(all.Status, 1);
    EXPECT_NE(
        all.Err.find("エラー: ファイル " + dir / "huge.tst" + " は 4000000 曲を含むと答えました。"),
        std::string::npos)
        << all.Err;
    EXPECT_TRUE(Names(dir / "all").empty());

    // A range of them may be asked for; the songs are planned one at a time, so the memory the
    // program needs does not grow with the count (planning them all took about 900 MB).
    const pid_t pid = Start({"--plugins", pluginFolder, "--song", "1-4000000", "--jobs", "2",
                             "--out-dir", dir / "range", dir / "huge.tst"});
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    std::error_code error;
    while (std::distance(fs::directory_iterator(dir / "range", error), fs::directory_iterator()) <
               50 &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ::kill(pid, SIGINT);
    int status = 0;
    struct rusage usage {};
    ASSERT_EQ(::wait4(pid, &status, 0, &usage), pid);
    EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 130);
    EXPECT_LT(usage.ru_maxrss, 100 * 1024); // kilobytes
    EXPECT_TRUE(fs::exists(dir / "range/huge[1].wav"));
}

TEST_F(BatchCli, APlaylistWithSeveralJobsWritesWhatOneJobWrites)
{
    const std::string a = Song("a.tst"), b = Song("b.tst");
    TestSong multi;
    multi.Songs = 2;
    multi.Frames = "30000";
    multi.WriteTo(dir / "m.tst");
    testsupport::WriteFileBytes(dir / "list.kbm",
                                "KbMIDI Player Play List\r\n0=" + a + "\r\n2=Title\r\n-\r\n0=" + b +
                                    "\r\n-\r\n0=" + dir / "m.tst::2" + "\r\n-\r\n0=" + a + "\r\n");
    const auto outputs = [&] {
        std::map<std::string, std::string> files;
        for (const char* name : {"a.wav", "b.wav", "m[2].wav"})
            files[name] = testsupport::ReadFileBytes(dir / name);
        return files;
    };
    const Result one = Run({"--plugins", pluginFolder, "--playlist", dir / "list.kbm"});
    EXPECT_EQ(one.Status, 0) << one.Err;
    const auto expected = outputs();
    for (const char* name : {"a.wav", "b.wav", "m[2].wav"})
        fs::remove(dir / name);
    const Result four =
        Run({"--plugins", pluginFolder, "--jobs", "4", "--playlist", dir / "list.kbm"});
    EXPECT_EQ(four.Status, 0) << four.Err;
    EXPECT_EQ(outputs(), expected);
    EXPECT_EQ(four.ErrLines().back(), "一括デコードが完了しました。");
}
