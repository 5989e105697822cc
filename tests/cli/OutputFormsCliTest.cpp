// pellan-decode's WAV on standard output, read by sox through a pipe and kept by a shell's
// redirection; a stop that cuts it short; and the dry run, which writes nothing.
#include "tests/cli/CliFixture.h"

#include <signal.h>

#include <chrono>
#include <cstring>
#include <thread>

using clitest::Result;
using testkpi::TestSong;
namespace fs = std::filesystem;

namespace {

struct OutputForms : clitest::CliFixture {
    // Starts pellan-decode with its standard output a pipe into reader, a shell command that
    // runs beside it; the program keeps the process id that the test signals.
    pid_t StartPipedInto(const std::vector<std::string>& arguments, const std::string& reader)
    {
        std::string command = "exec '" PELLAN_DECODE_PROGRAM "'";
        for (const std::string& argument : arguments)
            command += " '" + argument + "'";
        command += " > >(" + reader + "; echo $? > '" + (env.Dir / "reader-done") + "')";
        fs::remove(env.Dir / "reader-done");
        return Start({"-c", command}, "/bin/bash");
    }
    // The reader's exit status, once it has ended.
    std::string ReaderStatus()
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (std::chrono::steady_clock::now() < deadline) {
            const std::string status = fs::exists(env.Dir / "reader-done")
                                           ? testsupport::ReadFileBytes(env.Dir / "reader-done")
                                           : "";
            if (!status.empty() && status.back() == '\n')
                return status.substr(0, status.size() - 1);
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return "(still running)";
    }
    // The PCM of a WAV file as this program writes files.
    static std::string DataChunk(const std::string& wav)
    {
        uint32_t size = 0;
        std::memcpy(&size, wav.data() + 42, 4);
        return wav.substr(46, size);
    }
};

} // namespace

TEST_F(OutputForms, SoxReadsFromThePipeTheSamplesOfTheFile)
{
    TestSong endless;
    endless.Length = "none";
    endless.Frames = "inf";
    const std::string source = Song("song.tst", endless);
    const std::vector<std::string> options = {"--plugins=" + pluginFolder, "--setting=cd",
                                              "--length=10", "--fade=500", source};
    std::vector<std::string> toFile = options;
    toFile.push_back(env.Dir / "file.wav");
    ASSERT_EQ(Run(toFile).Status, 0);
    const std::string file = testsupport::ReadFileBytes(env.Dir / "file.wav");
    ASSERT_GT(file.size(), 46u + 10u * 176400u);

    std::vector<std::string> toPipe = options;
    toPipe.push_back("-");
    const Result piped = Finish(StartPipedInto(toPipe, "sox -t wav - -t raw -e signed -b 16 '" +
                                                           (env.Dir / "sox.raw") + "' 2> '" +
                                                           (env.Dir / "sox.err") + "'"));
    EXPECT_EQ(piped.Status, 0) << piped.Err;
    ASSERT_EQ(ReaderStatus(), "0") << testsupport::ReadFileBytes(env.Dir / "sox.err");
    EXPECT_EQ(testsupport::ReadFileBytes(env.Dir / "sox.err"), "");
    EXPECT_TRUE(testsupport::ReadFileBytes(env.Dir / "sox.raw") == DataChunk(file));
    // The log went to standard error, as always.
    EXPECT_EQ(piped.ErrLines().back(), "デコードは完了しました");

    // Quiet: nothing but the WAV. Standard output that is a regular file gets the file's bytes.
    toPipe.insert(toPipe.begin(), "-q");
    const Result redirected = Run(toPipe);
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
    const std::string kept = env.Dir / "kept.wav";
    const pid_t pid = StartPipedInto({"--plugins", pluginFolder, Song("slow.tst", slow), "-"},
                                     "cat > '" + kept + "'");
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while ((!fs::exists(kept) || fs::file_size(kept) < 100000) &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ::kill(pid, SIGINT);
    const Result result = Finish(pid);
    EXPECT_EQ(result.Status, 130);
    ASSERT_EQ(ReaderStatus(), "0");
    const auto lines = result.ErrLines();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(std::vector<std::string>(lines.end() - 3, lines.end()),
              (std::vector<std::string>{"  警告: デコードはユーザの指示により中止されました",
                                        "  警告: 標準出力の WAV は途中で終わっています",
                                        "デコードは完了しました"}));
    const std::string stream = testsupport::ReadFileBytes(kept);
    EXPECT_EQ(stream.substr(0, 4), "RIFF");
    EXPECT_EQ((stream.size() - 46) % 4, 1u); // a partial frame after the last whole one
}

TEST_F(OutputForms, ADryRunListsEveryOutputAndWritesNothing)
{
    // A copy of the program, so that a run log would show beside it.
    const std::string bin = env.Dir / "bin";
    fs::create_directories(bin);
    fs::copy_file(PELLAN_DECODE_PROGRAM, bin + "/pellan-decode");
    TestSong multi;
    multi.Songs = 2;
    multi.Frames = "inf";
    multi.WriteTo(env.Dir / "game.tst");
    const std::string a = Song("a.tst"), out = env.Dir / "out";
    const Result batch = Run({"--dry-run", "--all-songs", "--plugins", pluginFolder,
                              "--out-dir=" + out, a, env.Dir / "game.tst"},
                             bin + "/pellan-decode");
    EXPECT_EQ(batch.Status, 0) << batch.Err;
    std::vector<std::string> expected = StartLines();
    expected.push_back(a + " を " + out + "/a.wav に変換します");
    expected.push_back(env.Dir / "game.tst" + " の曲 1 を " + out + "/game[1].wav に変換します");
    expected.push_back(env.Dir / "game.tst" + " の曲 2 を " + out + "/game[2].wav に変換します");
    expected.push_back("--dry-run: 変換 3、失敗 0、スキップ 0 になります。何も書き込んでいません");
    EXPECT_EQ(batch.ErrLines(), expected);
    EXPECT_FALSE(fs::exists(out));
    EXPECT_FALSE(fs::exists(bin + "/pellan-decode.log"));

    // A playlist's entries, each beside its source; an existing output is replaced, as always.
    testsupport::WriteFileBytes(env.Dir / "a.wav", "older");
    testsupport::WriteFileBytes(env.Dir / "list.kbm", "KbMIDI Player Play List\r\n0=" + a +
                                                          "\r\n-\r\n0=" + env.Dir / "game.tst" +
                                                          "::2\r\n");
    const Result playlist =
        Run({"--dry-run", "--plugins", pluginFolder, "--playlist", env.Dir / "list.kbm"});
    EXPECT_EQ(playlist.Status, 0) << playlist.Err;
    const auto lines = playlist.ErrLines();
    EXPECT_EQ(std::vector<std::string>(lines.begin() + StartLines().size(), lines.end()),
              (std::vector<std::string>{
                  "一括デコードを開始します", a + " を " + env.Dir / "a.wav" + " に変換します",
                  env.Dir / "game.tst" + " の曲 2 を " + env.Dir / "game[2].wav" + " に変換します",
                  "一括デコードが完了しました。",
                  "--dry-run: 変換 2、失敗 0、スキップ 0 になります。何も書き込んでいません"}));
    EXPECT_EQ(testsupport::ReadFileBytes(env.Dir / "a.wav"), "older");
    EXPECT_FALSE(fs::exists(env.Dir / "game[2].wav"));
}
