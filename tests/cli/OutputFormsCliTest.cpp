// pellan-decode's WAV on standard output, read by sox through a pipe and kept by a shell's
// redirection; a stop that cuts it short; and the dry run, which writes and renders nothing.
#include "tests/support/CliFixture.h"

#include <signal.h>

#include <chrono>
#include <cstring>
#include <thread>

using Result = testsupport::ProgramResult;
using testkpi::TestSong;
namespace fs = std::filesystem;

namespace {

struct OutputForms : testsupport::CliFixture {
    // Starts pellan-decode with its standard output a pipe into reader, a shell command that
    // runs beside it; the process id returned is the program's.
    pid_t StartPipedInto(const std::vector<std::string>& arguments, const std::string& reader)
    {
        std::string command = "exec '" PELLAN_DECODE_PROGRAM "'";
        for (const std::string& argument : arguments)
            command += " '" + argument + "'";
        fs::remove(dir / "reader-done");
        return Start(
            {"-c", command + " > >(" + reader + "; echo $? > '" + dir / "reader-done" + "')"},
            "/bin/bash");
    }
    // The reader's exit status, once it has ended.
    std::string ReaderStatus()
    {
        std::string status;
        for (int i = 0; i < 2000 && (status.empty() || status.back() != '\n'); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            status = fs::exists(dir / "reader-done")
                         ? testsupport::ReadFileBytes(dir / "reader-done")
                         : "";
        }
        return status;
    }
};

} // namespace

TEST_F(OutputForms, SoxReadsFromThePipeTheSamplesOfTheFile)
{
    TestSong endless;
    endless.Length = "none";
    endless.Frames = "inf";
    std::vector<std::string> arguments = {"--plugins=" + pluginFolder, "--setting=cd",
                                          "--length=10", "--fade=500", Song("song.tst", endless)};
    arguments.push_back(dir / "file.wav");
    ASSERT_EQ(Run(arguments).Status, 0);
    const std::string file = testsupport::ReadFileBytes(dir / "file.wav");
    uint32_t dataSize = 0;
    std::memcpy(&dataSize, file.data() + 42, 4);
    ASSERT_GT(dataSize, 10u * 176400u);

    arguments.back() = "-";
    const std::string raw = dir / "sox.raw", soxErrors = dir / "sox.err";
    const Result piped = Finish(StartPipedInto(arguments, "sox -t wav - -t raw -e signed -b 16 '" +
                                                              raw + "' 2> '" + soxErrors + "'"));
    EXPECT_EQ(piped.Status, 0) << piped.Err;
    EXPECT_EQ(ReaderStatus(), "0\n");
    EXPECT_EQ(testsupport::ReadFileBytes(soxErrors), "");
    EXPECT_TRUE(testsupport::ReadFileBytes(raw) == file.substr(46, dataSize));

    // Quiet: nothing but the WAV. Standard output that is a regular file gets the file's bytes.
    arguments.insert(arguments.begin(), "-q");
    const Result redirected = Run(arguments);
    EXPECT_EQ(redirected.Status, 0);
    EXPECT_EQ(redirected.Err, "");
    EXPECT_TRUE(redirected.Out == file);
}

TEST_F(OutputForms, AStopSaysTheStreamIsCutShortAndCutsItInAFrame)
{
    TestSong slow;
    slow.Length = "none";
    slow.Frames = "inf";
    slow.DelayMs = 2;
    const std::string kept = dir / "kept.wav";
    const pid_t pid = StartPipedInto({"--plugins", pluginFolder, Song("slow.tst", slow), "-"},
                                     "cat > '" + kept + "'");
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while ((!fs::exists(kept) || fs::file_size(kept) < 100000) &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ::kill(pid, SIGINT);
    const Result result = Finish(pid);
    EXPECT_EQ(result.Status, 130);
    EXPECT_EQ(ReaderStatus(), "0\n");
    const auto lines = result.ErrLines();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(std::vector<std::string>(lines.end() - 3, lines.end()),
              (std::vector<std::string>{"  警告: デコードはユーザの指示により中止されました",
                                        "  警告: 標準出力の WAV は途中で終わっています",
                                        "デコードは完了しました"}));
    EXPECT_EQ((fs::file_size(kept) - 46) % 4, 1u); // a partial frame after the last whole one
}

TEST_F(OutputForms, ADryRunListsEveryOutputAndWritesAndRendersNothing)
{
    // A copy of the program, so that a run log would show beside it; a plug-in that tells.
    const std::string bin = dir / "bin", out = dir / "out", game = dir / "game.tst";
    fs::create_directories(bin);
    fs::copy_file(PELLAN_DECODE_PROGRAM, bin + "/pellan-decode");
    testsupport::WriteFileBytes(plugin->Path() + ".conf", "extensions=.tst\npublish=1\n");
    TestSong multi;
    multi.Songs = 2;
    multi.WriteTo(game);
    const std::string a = Song("a.tst");
    const Result batch =
        Run({"--dry-run", "--all-songs", "--plugins", pluginFolder, "--out-dir=" + out, a, game},
            bin + "/pellan-decode");
    EXPECT_EQ(batch.Status, 0) << batch.Err;
    std::vector<std::string> expected = StartLines();
    expected.push_back(a + " を " + out + "/a.wav に変換します");
    expected.push_back(game + " の曲 1 を " + out + "/game[1].wav に変換します");
    expected.push_back(game + " の曲 2 を " + out + "/game[2].wav に変換します");
    expected.push_back("--dry-run: 変換 3、失敗 0、スキップ 0 になります。何も書き込んでいません");
    EXPECT_EQ(batch.ErrLines(), expected);
    EXPECT_FALSE(fs::exists(out));
    EXPECT_FALSE(fs::exists(bin + "/pellan-decode.log"));

    // A playlist's entries beside their sources; an existing output would be replaced.
    testsupport::WriteFileBytes(dir / "a.wav", "older");
    testsupport::WriteFileBytes(dir / "list.kbm", "KbMIDI Player Play List\r\n0=" + a +
                                                      "\r\n-\r\n0=" + game + "::2\r\n");
    const Result playlist =
        Run({"--dry-run", "--plugins", pluginFolder, "--playlist", dir / "list.kbm"});
    EXPECT_EQ(playlist.Status, 0) << playlist.Err;
    const auto lines = playlist.ErrLines();
    EXPECT_EQ(
        std::vector<std::string>(lines.end() - 4, lines.end() - 2),
        (std::vector<std::string>{a + " を " + dir / "a.wav" + " に変換します",
                                  game + " の曲 2 を " + dir / "game[2].wav" + " に変換します"}));
    EXPECT_EQ(testsupport::ReadFileBytes(dir / "a.wav"), "older");
    ASSERT_FALSE(plugin->Published().empty()); // the multi-song file was opened, to count
    for (const testkpi::PublishedCounts& p : plugin->Published())
        EXPECT_EQ(p.Counts.Render, 0);
}
