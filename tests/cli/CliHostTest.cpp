// pellan-decode with plug-ins in host processes: --isolate-plugins gives the files that the
// plug-ins in the program give; a plug-in that crashes, hangs or scribbles costs one file and an
// error line; Windows plug-ins under Wine convert with their native twin's bytes, Japanese file
// names included; without Wine they are listed as failed, with the reason.
#include "tests/support/Hosting.h"
#include "tests/support/ProgramRun.h"
#include "tests/support/TempFolder.h"
#include "tests/testplugin/TestPluginHost.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>

namespace fs = std::filesystem;
using testkpi::TestPlugin;
using testkpi::TestSong;
using testsupport::Hosting;
using testsupport::TempFolder;

namespace {

using Result = testsupport::ProgramResult;

// The time a host is given to answer in the cases of hanging plug-ins: short, but long enough
// for a host to start and load its plug-in on a loaded machine, under a sanitizer too.
const std::string kTimeLimit = std::to_string(PELLAN_TEST_HOST_TIME_LIMIT_S);

// Whether a process with that id runs (a zombie has ended).
bool Runs(long pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    const std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const size_t paren = stat.rfind(')');
    return paren != std::string::npos && paren + 2 < stat.size() && stat[paren + 2] != 'Z';
}

// Polls for up to a generous limit, for a loaded machine; true as soon as done holds.
template <typename Done> bool Within(std::chrono::seconds limit, Done done)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return done();
}

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

    // Starts pellan-decode with its own settings store, with variables set on top.
    pid_t Start(const std::vector<std::string>& arguments,
                const std::vector<std::pair<std::string, std::string>>& env = {})
    {
        testsupport::ProgramRun run(home, dir.Path());
        for (const auto& [name, value] : env)
            run.Environment[name] = value;
        return run.Start(PELLAN_DECODE_PROGRAM, arguments);
    }
    Result Finish(pid_t pid) { return testsupport::ProgramRun(home, dir.Path()).Finish(pid); }
    Result Run(const std::vector<std::string>& arguments,
               const std::vector<std::pair<std::string, std::string>>& env = {})
    {
        return Finish(Start(arguments, env));
    }
    // The hosted plug-ins' arguments: the native build with --isolate-plugins, or a Windows
    // build.
    std::vector<std::string> Hosted(std::vector<std::string> arguments,
                                    const std::string& folder = "hosted")
    {
        arguments.insert(arguments.begin(), {"--plugins", dir / folder});
        if (GetParam() == Hosting::Isolated)
            arguments.insert(arguments.begin(), "--isolate-plugins");
        return arguments;
    }
    // The hosted plug-ins: the native build with --isolate-plugins, or a Windows build.
    Result RunHosted(std::vector<std::string> arguments,
                     const std::vector<std::pair<std::string, std::string>>& env = {})
    {
        return Run(Hosted(std::move(arguments)), env);
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
        for (const auto& line : result.ErrLines())
            if (line.find(" からロードします") == std::string::npos)
                lines.push_back(line);
        return lines;
    }

    // A song that spins in Render, whose name a Windows plug-in gets through a link, decoded
    // with a copy of the plug-in that publishes its calls; once its host sits in that call, the
    // program gets signals. Host is the host's Linux process (0: it never got there); Outlived
    // tells whether the host was still running half a minute after the program had ended.
    struct Spinning {
        long Host = 0;
        bool Outlived = false;
        Result Run;
    };
    Spinning SpinAndSignal(const std::vector<int>& signals,
                           std::vector<std::pair<std::string, std::string>> env = {})
    {
        fs::remove_all(dir / "spinning");
        fs::create_directories(dir / "spinning");
        fs::create_directories(dir / "runtime");
        const TestPlugin plugin(dir / "spinning/test.kpi", {{"publish", "1"}},
                                testsupport::VariantOf(GetParam()));
        const std::string song = Song("spin\\ning.tst", "spin=render\nframes=inf\nlength=none\n");
        env.emplace_back("XDG_RUNTIME_DIR", dir / "runtime");
        const pid_t pid = Start(Hosted({song, dir / "spin.wav"}, "spinning"), env);
        Spinning spinning;
        Within(std::chrono::seconds(90), [&] {
            for (const auto& p : plugin.Published())
                if (p.Counts.Render > 0)
                    spinning.Host = p.LinuxProcess;
            return spinning.Host > 0;
        });
        for (const int signal : signals)
            ::kill(pid, signal);
        spinning.Run = Finish(pid);
        const long host = spinning.Host;
        spinning.Outlived =
            host > 0 && !Within(std::chrono::seconds(30), [host] { return !Runs(host); });
        if (spinning.Outlived)
            ::kill(static_cast<pid_t>(host), SIGKILL);
        return spinning;
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

// The line after the first that starts with start; "" when there is none.
std::string LineAfter(const Result& result, const std::string& start)
{
    const std::vector<std::string> lines = result.ErrLines();
    for (size_t i = 0; i + 1 < lines.size(); ++i)
        if (lines[i].rfind(start, 0) == 0)
            return lines[i + 1];
    return "";
}

TEST_P(CliHost, APluginThatCrashesOrHangsCostsOneFileAndAnErrorLineThatSaysWhy)
{
    const std::string good = Song("good.tst");
    const std::string crash = Song("crash.tst", "crash=render\n");
    const std::string hang = Song("hang.tst", "hang=render\n");
    const std::string scribble = Song("scribble.tst", "garbage=render\n");
    testsupport::WriteFileBytes(dir / "list.kbm",
                                "KbMIDI Player Play List\r\n0=" + crash + "\r\n-\r\n0=" + hang +
                                    "\r\n-\r\n0=" + scribble + "\r\n-\r\n0=" + good + "\r\n");
    const std::vector<std::pair<std::string, std::string>> limit = {
        {"PELLAN_PLUGIN_TIME_LIMIT", kTimeLimit}};
    const Result run = RunHosted({"--playlist", dir / "list.kbm"}, limit);
    EXPECT_EQ(run.Status, 1) << run.Err;
    // Each failure's line, and under it the host's end.
    const std::string error = "エラー: プラグイン test.kpi のホストプロセスが失敗しました";
    const std::vector<std::string> lines = run.ErrLines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), error), 3) << run.Err;
    EXPECT_NE(run.Err.find(error + "\n  理由: プラグインホストが終了しました ("),
              std::string::npos);
    EXPECT_NE(run.Err.find(error + "\n  理由: プラグインホストが " + kTimeLimit +
                           " s 以内に応答しませんでした\n"),
              std::string::npos);
    EXPECT_NE(run.Err.find(error + "\n  理由: プラグインホストの応答がプロトコルに反しています"),
              std::string::npos);
    EXPECT_EQ(run.ErrLines().back(), "一括デコードが完了しました。");
    // Each failed entry's file is completed with what it had, as after any error in a run; the
    // entry after them converts in full.
    for (const char* name : {"crash.wav", "hang.wav", "scribble.wav"}) {
        const std::string wav = testsupport::ReadFileBytes(dir / name);
        ASSERT_GE(wav.size(), 44u) << name;
        EXPECT_EQ(wav.compare(0, 4, "RIFF"), 0) << name;
    }
    const Result reference = RunNative({good, dir / "reference.wav"});
    ASSERT_TRUE(fs::exists(dir / "good.wav")) << run.Err;
    EXPECT_TRUE(testsupport::ReadFileBytes(dir / "good.wav") ==
                testsupport::ReadFileBytes(dir / "reference.wav"));

    // A failure in Open is a file that could not be opened, and says why just the same.
    for (const auto& [song, reason] : std::vector<std::pair<std::string, std::string>>{
             {"crash=open\n", "  理由: プラグインホストが終了しました ("},
             {"hang=open\n",
              "  理由: プラグインホストが " + kTimeLimit + " s 以内に応答しませんでした"},
             {"garbage=open\n", "  理由: プラグインホストが種類 "}}) {
        const Result single = RunHosted({Song("opens.tst", song), dir / "opens.wav"}, limit);
        EXPECT_EQ(single.Status, 1);
        EXPECT_EQ(LineAfter(single, "エラー: ファイル " + dir / "opens.tst" + " を開けませんでした")
                      .rfind(reason, 0),
                  0u)
            << single.Err;
    }
}

TEST_P(CliHost, NoHostOutlivesTheProgramHoweverItEnds)
{
#ifdef PELLAN_TEST_THREAD_SANITIZER
    // ThreadSanitizer holds a signal back until the thread that received it calls into the
    // runtime, and two signals pending at once stay blocked (google/sanitizers#1855): neither
    // reaches the program, which waits out its host's time limit. A single signal does, as the
    // next case shows; this one runs in the other builds.
    GTEST_SKIP() << "two signals at once do not reach a program under ThreadSanitizer";
#endif
    // Two signals of different kinds are never merged into one: the second finds the first
    // taken, and ends the program at once from its handler.
    for (const std::vector<int>& signals :
         {std::vector<int>{SIGTERM, SIGINT}, std::vector<int>{SIGINT, SIGTERM}, {SIGKILL}}) {
        SCOPED_TRACE(signals.front());
        const Spinning spinning = SpinAndSignal(signals);
        ASSERT_GT(spinning.Host, 0) << "the plug-in never reached Render";
        EXPECT_FALSE(spinning.Outlived) << "the host outlived the program";
        if (signals.size() > 1) { // an emergency exit takes its files and links along
            EXPECT_FALSE(fs::exists(dir / "spin.wav")) << "status " << spinning.Run.Status << "\n"
                                                       << spinning.Run.Err;
            EXPECT_TRUE(fs::is_empty(dir / "runtime"));
        }
    }
}

TEST_P(CliHost, OneStopSignalEndsARunWhosePluginSpinsWithoutWaitingForTheTimeLimit)
{
    // A time limit far beyond the wait: only the stop itself can end the call in time.
    const auto start = std::chrono::steady_clock::now();
    const Spinning spinning = SpinAndSignal({SIGTERM}, {{"PELLAN_PLUGIN_TIME_LIMIT", "300"}});
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(120));
    EXPECT_EQ(spinning.Run.Status, 143);
    EXPECT_FALSE(spinning.Outlived);
    EXPECT_FALSE(fs::exists(dir / "spin.wav"));
    // Stopped as by the user, with no error for the call that the stop ended.
    const std::vector<std::string> lines = spinning.Run.ErrLines();
    ASSERT_GE(lines.size(), 3u) << spinning.Run.Err;
    EXPECT_EQ(
        std::vector<std::string>(lines.end() - 3, lines.end()),
        (std::vector<std::string>{"  警告: デコードはユーザの指示により中止されました",
                                  "  警告: ファイルは削除されました", "デコードは完了しました"}));
}

TEST_P(CliHost, ACrashOrAHangBesideAGoodSongCostsOnlyItsOwnSong)
{
    // A reentrant plug-in, two songs at once: a slow good one, and one that crashes or hangs in
    // its first Render while the good one is under way.
    const std::string good = Song("good.tst", "delay_ms=40\n");
    const std::string crash = Song("crash.tst", "crash=render\n");
    const std::string hang = Song("hang.tst", "hang=render\n");
    const Result reference = RunNative({good, dir / "reference.wav"});
    ASSERT_EQ(reference.Status, 0) << reference.Err;
    for (const std::string& bad : {crash, hang}) {
        SCOPED_TRACE(bad);
        fs::remove_all(dir / "out");
        fs::create_directories(dir / "out");
        const Result run = RunHosted({"--jobs", "2", "--out-dir", dir / "out", good, bad},
                                     {{"PELLAN_PLUGIN_TIME_LIMIT", kTimeLimit}});
        EXPECT_EQ(run.Status, 1) << run.Err;
        EXPECT_TRUE(testsupport::ReadFileBytes(dir / "out/good.wav") ==
                    testsupport::ReadFileBytes(dir / "reference.wav"))
            << run.Err;
        // The bad song's error names its own end, and only it fails.
        int errors = 0;
        for (const auto& line : run.ErrLines())
            errors += line.find("のホストプロセスが失敗しました") != std::string::npos ? 1 : 0;
        EXPECT_EQ(errors, 1) << run.Err;
    }
}

TEST_P(CliHost, ANonReentrantPluginsSongsRunSideBySideInHostsOfTheirOwn)
{
    fs::create_directories(dir / "single");
    TestPlugin single(dir / "single/test.kpi", {{"reentrant", "0"}, {"publish", "1"}},
                      testsupport::VariantOf(GetParam()));
    std::vector<std::string> songs;
    for (const char* name : {"p.tst", "q.tst", "r.tst", "s.tst"})
        songs.push_back(Song(name));
    const auto batch = [&](const std::string& jobs, const std::string& out) {
        fs::create_directories(dir / out);
        std::vector<std::string> arguments{"--plugins", dir / "single", "--jobs",
                                           jobs,        "--out-dir",    dir / out};
        if (GetParam() == Hosting::Isolated)
            arguments.insert(arguments.begin(), "--isolate-plugins");
        arguments.insert(arguments.end(), songs.begin(), songs.end());
        return Run(arguments);
    };
    const Result one = batch("1", "one");
    ASSERT_EQ(one.Status, 0) << one.Err;
    const Result two = batch("2", "two");
    ASSERT_EQ(two.Status, 0) << two.Err;
    for (const char* name : {"p.wav", "q.wav", "r.wav", "s.wav"}) {
        const std::string bytes = testsupport::ReadFileBytes(dir / (std::string("one/") + name));
        EXPECT_GT(bytes.size(), 160000u) << name;
        EXPECT_TRUE(testsupport::ReadFileBytes(dir / (std::string("two/") + name)) == bytes)
            << name;
    }
    // Never two songs in one process, and with two jobs a second host took songs.
    int processesThatOpened = 0;
    for (const auto& p : single.Published()) {
        EXPECT_LE(p.Counts.MaxOpenNow, 1) << "process " << p.Process;
        processesThatOpened += p.Counts.Open > 0 ? 1 : 0;
    }
    EXPECT_GE(processesThatOpened, 3) << "one host for --jobs 1, two for --jobs 2";
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

TEST_P(CliHost, AWindowsPluginIsNeverGivenAnotherFileThanTheOneNamed)
{
    // Names that Windows reads otherwise, or cannot read at all; a\b.tst has a twin a/b.tst
    // that renders other bytes.
    fs::create_directories(dir / "a");
    Song("a/b.tst", "pattern=const\nvalue=7\n");
    const std::vector<std::string> names = {"a\\b.tst",        "x\"y.tst",    "p|q.tst",
                                            "line\nbreak.tst", "nul.tst",     "star*.tst",
                                            "we?ird/s.tst",    "dots./s.tst", "colon:/s.tst"};
    fs::create_directories(dir / "runtime");
    fs::create_directories(dir / "out");
    for (size_t i = 0; i < names.size(); ++i) {
        SCOPED_TRACE(names[i]);
        fs::create_directories(fs::path(dir / names[i]).parent_path());
        const std::string song = Song(names[i]);
        const std::string out = dir / "out" + "/" + std::to_string(i);
        const Result nativeRun = RunNative({song, out + "-native.wav"});
        ASSERT_EQ(nativeRun.Status, 0) << nativeRun.Err;
        const Result hostedRun =
            RunHosted({song, out + "-hosted.wav"}, {{"XDG_RUNTIME_DIR", dir / "runtime"}});
        EXPECT_EQ(hostedRun.Status, 0) << hostedRun.Err;
        EXPECT_TRUE(testsupport::ReadFileBytes(out + "-hosted.wav") ==
                    testsupport::ReadFileBytes(out + "-native.wav"));
        // The links and their folder are gone with the song.
        EXPECT_TRUE(fs::is_empty(dir / "runtime"));
    }
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
    testsupport::ProgramRun run(dir.Path(), dir.Path());
    run.Environment["PATH"] = dir / "empty";
    const Result result =
        run.Run(PELLAN_DECODE_PROGRAM, {"--plugins", dir / "plugins", "--list-plugins"});
    EXPECT_EQ(result.Status, 1); // nothing loaded
    EXPECT_EQ(result.Err, "  警告: " + dll.Path() + " のロードに失敗しました\n" +
                              "    理由: Windows のプラグインには Wine が必要です\n");
}
#endif
#endif
