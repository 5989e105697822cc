// pellan-decode with plug-ins in host processes: --isolate-plugins gives the files that the
// plug-ins in the program give; a plug-in that crashes, hangs or scribbles costs one file and an
// error line; Windows plug-ins under Wine convert with their native twin's bytes, Japanese file
// names included; without Wine they are listed as failed, with the reason.
#include "tests/support/Hosting.h"
#include "tests/support/TempFolder.h"
#include "tests/testplugin/TestPluginHost.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <sstream>

namespace fs = std::filesystem;
using testkpi::TestPlugin;
using testkpi::TestSong;
using testsupport::Hosting;
using testsupport::TempFolder;

namespace {

struct Result {
    int Status = -1;
    std::string Err;
    std::vector<std::string> Lines() const
    {
        std::vector<std::string> lines;
        std::istringstream in(Err);
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        return lines;
    }
    bool HasLineStartingWith(const std::string& start) const
    {
        for (const auto& line : Lines())
            if (line.rfind(start, 0) == 0)
                return true;
        return false;
    }
};

class CliHost : public ::testing::TestWithParam<Hosting> {
protected:
    void SetUp() override
    {
        PELLAN_SKIP_UNLESS_HOSTING_RUNS(GetParam());
        if (GetParam() != Hosting::Isolated) {
            ASSERT_FALSE(testsupport::RequireWinePrefix().empty());
        }
        fs::create_directories(home);
        fs::create_directories(dir / "native");
        fs::create_directories(dir / "hosted");
        native = std::make_unique<TestPlugin>(dir / "native/test.kpi",
                                              std::map<std::string, std::string>{});
        hosted = std::make_unique<TestPlugin>(dir / "hosted/test.kpi",
                                              std::map<std::string, std::string>{},
                                              testsupport::VariantOf(GetParam()));
    }

    // Runs pellan-decode with its own settings store, with variables set on top.
    Result Run(std::vector<std::string> arguments,
               const std::vector<std::pair<std::string, std::string>>& env = {})
    {
        const std::string err = dir / "stderr";
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::setenv("HOME", home.c_str(), 1);
            ::setenv("XDG_CONFIG_HOME", (home + "/.config").c_str(), 1);
            for (const auto& [name, value] : env)
                ::setenv(name.c_str(), value.c_str(), 1);
            const int errFd = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            ::dup2(errFd, 2);
            std::vector<char*> argv;
            static std::string program = PELLAN_DECODE_PROGRAM;
            argv.push_back(program.data());
            for (auto& a : arguments)
                argv.push_back(a.data());
            argv.push_back(nullptr);
            ::execv(program.c_str(), argv.data());
            ::_exit(127);
        }
        int status = 0;
        ::waitpid(pid, &status, 0);
        Result result;
        result.Status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        result.Err = testsupport::ReadFileBytes(err);
        return result;
    }
    // The hosted plug-ins: the native build with --isolate-plugins, or a Windows build.
    Result RunHosted(std::vector<std::string> arguments,
                     const std::vector<std::pair<std::string, std::string>>& env = {})
    {
        arguments.insert(arguments.begin(), {"--plugins", dir / "hosted"});
        if (GetParam() == Hosting::Isolated)
            arguments.insert(arguments.begin(), "--isolate-plugins");
        return Run(arguments, env);
    }
    Result RunNative(std::vector<std::string> arguments)
    {
        arguments.insert(arguments.begin(), {"--plugins", dir / "native"});
        return Run(arguments);
    }
    std::string Song(const std::string& name, const std::string& extra = "")
    {
        TestSong song;
        song.Frames = "40000";
        song.Extra = extra;
        song.WriteTo(dir / name);
        return dir / name;
    }
    // The log without the lines that name the folder of the plug-ins, which differs.
    static std::vector<std::string> Comparable(const Result& result)
    {
        std::vector<std::string> lines;
        for (const auto& line : result.Lines())
            if (line.find(" からロードします") == std::string::npos)
                lines.push_back(line);
        return lines;
    }

    TempFolder dir;
    std::string home = dir / "home";
    std::unique_ptr<TestPlugin> native, hosted;
};

std::string HostingName(const ::testing::TestParamInfo<Hosting>& info)
{
    return testsupport::NameOf(info.param);
}

} // namespace

TEST_P(CliHost, FilesAndPlaylistsComeOutWithTheBytesOfTheNativePlugin)
{
    const std::string a = Song("a.tst"), b = Song("b.tst");
    testsupport::WriteFileBytes(dir / "list.kbm", "KbMIDI Player Play List\r\n0=" + a +
                                                      "\r\n2=Title A\r\n-\r\n0=" + b + "\r\n");
    const Result nativeRun = RunNative({a, dir / "one-native.wav"});
    const Result hostedRun = RunHosted({a, dir / "one-hosted.wav"});
    EXPECT_EQ(hostedRun.Status, 0) << hostedRun.Err;
    EXPECT_EQ(Comparable(hostedRun), Comparable(nativeRun));
    EXPECT_TRUE(testsupport::ReadFileBytes(dir / "one-hosted.wav") ==
                testsupport::ReadFileBytes(dir / "one-native.wav"));

    const Result nativeList = RunNative({"--playlist", dir / "list.kbm"});
    const std::string nativeA = testsupport::ReadFileBytes(dir / "a.wav");
    const std::string nativeB = testsupport::ReadFileBytes(dir / "b.wav");
    fs::remove(dir / "a.wav");
    fs::remove(dir / "b.wav");
    const Result hostedList = RunHosted({"--playlist", dir / "list.kbm"});
    EXPECT_EQ(hostedList.Status, 0) << hostedList.Err;
    EXPECT_EQ(Comparable(hostedList), Comparable(nativeList));
    EXPECT_GT(nativeA.size(), 160000u);
    EXPECT_TRUE(testsupport::ReadFileBytes(dir / "a.wav") == nativeA);
    EXPECT_TRUE(testsupport::ReadFileBytes(dir / "b.wav") == nativeB);
}

TEST_P(CliHost, APluginThatCrashesOrHangsCostsOneFileAndAnErrorLine)
{
    const std::string good = Song("good.tst");
    const std::string crash = Song("crash.tst", "crash=render\n");
    const std::string hang = Song("hang.tst", "hang=render\n");
    const std::string scribble = Song("scribble.tst", "garbage=render\n");
    testsupport::WriteFileBytes(dir / "list.kbm",
                                "KbMIDI Player Play List\r\n0=" + crash + "\r\n-\r\n0=" + hang +
                                    "\r\n-\r\n0=" + scribble + "\r\n-\r\n0=" + good + "\r\n");
    const Result run =
        RunHosted({"--playlist", dir / "list.kbm"}, {{"PELLAN_PLUGIN_TIME_LIMIT", "2"}});
    EXPECT_EQ(run.Status, 1) << run.Err;
    const std::string error = "エラー: プラグイン test.kpi のホストプロセスが失敗しました (";
    int errors = 0;
    for (const auto& line : run.Lines())
        errors += line.rfind(error, 0) == 0 ? 1 : 0;
    EXPECT_EQ(errors, 3) << run.Err;
    EXPECT_TRUE(run.HasLineStartingWith(error + "the plug-in host did not answer within 2 s"))
        << run.Err;
    EXPECT_TRUE(run.HasLineStartingWith(error + "the plug-in host's reply broke the protocol"))
        << run.Err;
    EXPECT_EQ(run.Lines().back(), "一括デコードが完了しました。");
    // Each failed entry's file is completed with what it had, as after any error in a run; the
    // entry after them converts in full.
    for (const char* name : {"crash.wav", "hang.wav", "scribble.wav"}) {
        const std::string wav = testsupport::ReadFileBytes(dir / name);
        ASSERT_GE(wav.size(), 44u) << name;
        EXPECT_EQ(wav.compare(0, 4, "RIFF"), 0) << name;
    }
    const Result reference = RunNative({good, dir / "reference.wav"});
    EXPECT_TRUE(testsupport::ReadFileBytes(dir / "good.wav") ==
                testsupport::ReadFileBytes(dir / "reference.wav"));

    // A crash in Open is a file that could not be opened.
    const std::string opens = Song("opens.tst", "crash=open\n");
    const Result single = RunHosted({opens, dir / "opens.wav"});
    EXPECT_EQ(single.Status, 1);
    EXPECT_TRUE(single.HasLineStartingWith("エラー: ファイル " + opens + " を開けませんでした"))
        << single.Err;
}

#ifdef PELLAN_WINE_TESTS
TEST_P(CliHost, AJapaneseFileNameConverts)
{
    fs::create_directories(dir / "曲");
    const std::string song = Song("曲/日本語の曲.tst");
    const Result nativeRun = RunNative({song, dir / "native.wav"});
    const Result hostedRun = RunHosted({song, dir / "曲/変換.wav"}, {{"LANG", "C.UTF-8"}});
    EXPECT_EQ(hostedRun.Status, 0) << hostedRun.Err;
    EXPECT_TRUE(testsupport::ReadFileBytes(dir / "曲/変換.wav") ==
                testsupport::ReadFileBytes(dir / "native.wav"));
}

INSTANTIATE_TEST_SUITE_P(Wine, CliHost, ::testing::Values(Hosting::Windows64, Hosting::Windows32),
                         HostingName);
#else
INSTANTIATE_TEST_SUITE_P(Native, CliHost, ::testing::Values(Hosting::Isolated), HostingName);

#ifdef PELLAN_HAVE_WINDOWS_BUILDS
TEST(CliWithoutWine, AWindowsPluginIsListedAsFailedWithTheReason)
{
    TempFolder dir;
    fs::create_directories(dir / "plugins");
    fs::create_directories(dir / "empty");
    TestPlugin dll(dir / "plugins/windows.kpi", {}, testkpi::kWindows64Variant);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setenv("HOME", dir.Path().c_str(), 1);
        ::setenv("PATH", (dir / "empty").c_str(), 1);
        const int errFd = ::open((dir / "stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(errFd, 2);
        const int outFd = ::open("/dev/null", O_WRONLY);
        ::dup2(outFd, 1);
        ::execl(PELLAN_DECODE_PROGRAM, PELLAN_DECODE_PROGRAM, "--plugins",
                (dir / "plugins").c_str(), "--list-plugins", nullptr);
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_EQ(WEXITSTATUS(status), 1); // nothing loaded
    EXPECT_EQ(testsupport::ReadFileBytes(dir / "stderr"),
              "  警告: " + dll.Path() + " のロードに失敗しました\n" +
                  "    理由: Wine is needed for Windows plug-ins\n");
}
#endif
#endif
