// Decoding through the Win32 window with the Windows test plug-in: one file and a playlist give
// the bytes the Linux window gives; the start failures, a stop that deletes the file, a stop
// and a close during a batch; plug-ins that need the window's thread as a window program's;
// and what the program leaves at exit: the registry values and the run log.
#include "app/KbMPath.h"
#include "app/SettingsStore.h"
#include "tests/support/ReferenceDecodes.h"
#include "tests/testplugin/TestPluginHost.h"
#include "tests/win32ui/WindowFixture.h"
#include "ui/win32/ProgramEntry.h"
#include "ui/win32/Win32Controls.h"

#include <commctrl.h>

#include <fstream>
#include <iterator>

using namespace win32test;
namespace fs = std::filesystem;

namespace {

std::string FileBytes(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct DecodeFixture : WindowFixture {
    TestPluginCopy* plugin = nullptr;
    std::unique_ptr<TfrmMain> window;

    DecodeFixture()
    {
        plugin = &AddPlugin("test.kpi");
        UsePluginFolder(PluginFolder);
    }
    void OpenWindow()
    {
        window = Open();
        SendMessageW(window->lstLog, LB_RESETCONTENT, 0, 0); // the start-up lines are done
    }
    std::string Song(const std::string& name, const testkpi::TestSong& song)
    {
        song.WriteTo(Path(name));
        return Path(name);
    }
    bool Ended() const
    {
        const std::string last = LastLine(*window);
        return last == "デコードは完了しました" || last == "警告: デコードは失敗しました";
    }
    // Starts the single-file decode and waits until its end has been handled.
    void DecodeSingle(const std::string& source, const std::string& output,
                      const std::string& setting = "CD", int songNumber = 1)
    {
        SetText(window->lbeSourceFile, source);
        SetText(window->lbePCMFile, output);
        SetText(window->speSongNum, std::to_string(songNumber));
        ASSERT_TRUE(Choose(window->cmbPCMFormat, setting));
        Click(window->btnSingleDecode);
        ASSERT_TRUE(WaitUntil([&] { return Ended() && IsWindowEnabled(window->btnSingleDecode); }));
    }
    // Runs a playlist; the click returns when the batch is over.
    void RunBatch(const std::string& playlist, const std::string& setting = "CD")
    {
        SetText(window->lbeKbmFile, playlist);
        ASSERT_TRUE(Choose(window->cmbPcmFormatForMulti, setting));
        Click(window->btnStartMultiDecode);
    }
};

// A timer that runs inside the window's own loops, as a person's click would arrive there.
struct During {
    static inline std::function<bool()> Action;
    UINT_PTR Timer;
    explicit During(std::function<bool()> action)
    {
        Action = std::move(action);
        Timer = SetTimer(nullptr, 0, 5, Tick);
    }
    // A timer procedure has the system's calling convention, which no lambda has on 32-bit x86.
    static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD)
    {
        if (Action && Action())
            Action = nullptr;
    }
    ~During()
    {
        KillTimer(nullptr, Timer);
        Action = nullptr;
    }
};

} // namespace

TEST_F(DecodeFixture, FileAndPlaylistGiveTheLinuxWindowsBytes)
{
    // The Linux window's files, made by the same songs and settings beforehand.
    const char* reference = std::getenv("PELLAN_REFERENCE_WAVS");
    ASSERT_NE(reference, nullptr) << "the Linux window's reference files are not there";
    for (const auto& s : testsupport::kReferenceSettings)
        StoreSetting(s.Name, s.Rate, s.Bits, s.Channels, s.DefaultLength, s.Fadeout);
    const fs::path songs = Dir / PathOf("曲"); // a Japanese folder name
    fs::create_directories(songs);
    for (const auto& song : testsupport::ReferenceSongs())
        song.Song.WriteTo(Utf8(songs / song.File));
    OpenWindow();

    for (const auto& single : testsupport::ReferenceSingles()) {
        SCOPED_TRACE(single.Output);
        DecodeSingle(Utf8(songs / single.Source), Utf8(songs / single.Output), single.Setting,
                     single.SongNumber);
        EXPECT_EQ(LastLine(*window), "デコードは完了しました");
        const std::string ours = FileBytes(songs / single.Output);
        EXPECT_GT(ours.size(), 44u);
        EXPECT_TRUE(ours == FileBytes(PathOf(reference) / single.Output));
    }
    std::ofstream(songs / "list.kbm", std::ios::binary)
        << testsupport::ReferencePlaylist(Utf8(songs), '\\');
    SendMessageW(window->lstLog, LB_RESETCONTENT, 0, 0);
    RunBatch(Utf8(songs / "list.kbm"), testsupport::kReferenceSetting.Name);
    EXPECT_EQ(LastLine(*window), "一括デコードが完了しました。");
    for (const auto& name : testsupport::ReferencePlaylistOutputs()) {
        SCOPED_TRACE(name);
        const std::string ours = FileBytes(songs / name);
        EXPECT_GT(ours.size(), 44u);
        EXPECT_TRUE(ours == FileBytes(PathOf(reference) / name));
    }
    EXPECT_EQ(plugin->Counts().OpenNow, 0);
}

TEST_F(DecodeFixture, SingleDecodeLogsItsLinesAndShowsItsProgress)
{
    OpenWindow();
    EXPECT_EQ(TextOf(window->lblProgress), "--:--.--- / --:--.---");
    testkpi::TestSong song;
    song.Length = "1500";
    song.Frames = "66150";
    const std::string source = Song("song.tst", song);
    DecodeSingle(source, Path("out.wav"));
    EXPECT_EQ(
        LogLines(*window),
        (std::vector<std::string>{"ファイル " + source + " のデコードを開始します",
                                  "  プラグイン test.kpi を使用します",
                                  "  44100Hz, 16 ビット, 2 チャンネル", "デコードは完了しました"}));
    EXPECT_EQ(fs::file_size(PathOf(Path("out.wav"))), 46u + 66150u * 4u);
    EXPECT_EQ(SendMessageW(window->pbrDecodeProgress, PBM_GETRANGE, FALSE, 0), 1500);
    EXPECT_EQ(SendMessageW(window->pbrDecodeProgress, PBM_GETPOS, 0, 0), 0);
    EXPECT_EQ(TextOf(window->lblProgress), "00:01.500 / 00:01.500");
    EXPECT_EQ(TextOf(window->btnSingleDecode), "開始(&S)");
    EXPECT_TRUE(IsWindowEnabled(window->btnStartMultiDecode));
}

TEST_F(DecodeFixture, LongSongUsesTheWholeRangeOfTheBar)
{
    // A song without a length, on "CD": 115 s and a 5 s fade, more than the 65535 steps of a
    // progress bar's short range.
    OpenWindow();
    testkpi::TestSong song;
    song.Length = "none";
    song.Frames = "inf";
    song.Rate = 8000;
    song.Channels = 1;
    SetText(window->lbeSourceFile, Song("long.tst", song));
    SetText(window->lbePCMFile, Path("long.wav"));
    Click(window->btnSingleDecode);
    EXPECT_EQ(SendMessageW(window->pbrDecodeProgress, PBM_GETRANGE, FALSE, 0), 120000);
    int halfway = 0;
    ASSERT_TRUE(WaitUntil(
        [&] {
            const int position =
                static_cast<int>(SendMessageW(window->pbrDecodeProgress, PBM_GETPOS, 0, 0));
            if (position > 65535 && halfway == 0)
                halfway = position;
            return Ended();
        },
        60000));
    EXPECT_GT(halfway, 65535); // the bar went on past the short range's end
    const std::string label = TextOf(window->lblProgress);
    EXPECT_EQ(label.substr(label.size() - 12), " / 02:00.000") << label;
}

TEST_F(DecodeFixture, StartFailuresLogTheirLinesAndLeaveNoFile)
{
    OpenWindow();
    const std::string unknown = Path("song.xyz");
    std::ofstream(PathOf(unknown)) << "x";
    DecodeSingle(unknown, Path("a.wav"));
    EXPECT_EQ(LogLines(*window),
              (std::vector<std::string>{"エラー: ファイル " + unknown +
                                            " に適したプラグインが見つかりませんでした",
                                        "警告: デコードは失敗しました"}));
    const std::string good = Song("good.tst", testkpi::TestSong{});
    SendMessageW(window->lstLog, LB_RESETCONTENT, 0, 0);
    DecodeSingle(good, Path("none\\e.wav"));
    const auto lines = LogLines(*window);
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[3], "エラー: Wav ファイル " + Path("none\\e.wav") + " を作成できませんでした");
    EXPECT_FALSE(fs::exists(PathOf(Path("none\\e.wav"))));
    EXPECT_EQ(TextOf(window->btnSingleDecode), "開始(&S)");
    EXPECT_TRUE(IsWindowEnabled(window->btnStartMultiDecode));
    EXPECT_EQ(plugin->Counts().OpenNow, 0);
}

TEST_F(DecodeFixture, StopLogsTheWarningsThenTheEndAndDeletesTheFile)
{
    OpenWindow();
    testkpi::TestSong slow;
    slow.Length = "none";
    slow.Frames = "inf";
    slow.DelayMs = 2;
    SetText(window->lbeSourceFile, Song("slow.tst", slow));
    SetText(window->lbePCMFile, Path("stop.wav"));
    Click(window->btnSingleDecode);
    EXPECT_EQ(TextOf(window->btnSingleDecode), "中止(&A)");
    EXPECT_FALSE(IsWindowEnabled(window->btnStartMultiDecode));
    ASSERT_TRUE(WaitUntil([&] { return plugin->Counts().Render > 3; }));
    Click(window->btnSingleDecode);
    EXPECT_EQ(TextOf(window->btnSingleDecode), "開始(&S)");
    EXPECT_FALSE(IsWindowEnabled(window->btnSingleDecode)); // until the thread has ended
    ASSERT_TRUE(WaitUntil([&] { return Ended() && IsWindowEnabled(window->btnSingleDecode); }));
    const auto lines = LogLines(*window);
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[3], "  警告: デコードはユーザの指示により中止されました");
    EXPECT_EQ(lines[4], "  警告: ファイルは削除されました");
    EXPECT_EQ(lines[5], "デコードは完了しました");
    ASSERT_TRUE(WaitUntil([&] { return plugin->Counts().OpenNow == 0; }));
    EXPECT_FALSE(fs::exists(PathOf(Path("stop.wav"))));
    EXPECT_TRUE(IsWindowEnabled(window->btnStartMultiDecode));
    EXPECT_EQ(SendMessageW(window->pbrDecodeProgress, PBM_GETPOS, 0, 0), 0);
}

TEST_F(DecodeFixture, ClosingTheWindowStopsTheDecodeBeforeThePluginGoes)
{
    OpenWindow();
    testkpi::TestSong slow;
    slow.Length = "none";
    slow.Frames = "inf";
    slow.DelayMs = 2;
    SetText(window->lbeSourceFile, Song("slow.tst", slow));
    SetText(window->lbePCMFile, Path("closing.wav"));
    Click(window->btnSingleDecode);
    ASSERT_TRUE(WaitUntil([&] { return plugin->Counts().Render > 3; }));
    SendMessageW(window->Handle(), WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindowVisible(window->Handle()));
    window.reset();
    EXPECT_EQ(plugin->Counts().Close, 1);
    EXPECT_EQ(plugin->Counts().Deinit, 1);
    EXPECT_FALSE(fs::exists(PathOf(Path("closing.wav"))));
    EXPECT_EQ(RunLog->Lines().back(), "デコードは完了しました");
}

TEST_F(DecodeFixture, StopInTheSecondEntryKeepsTheFirstDeletesTheSecondSkipsTheThird)
{
    OpenWindow();
    testkpi::TestSong quick;
    quick.Length = "100";
    quick.Frames = "4410";
    testkpi::TestSong slow;
    slow.Length = "none";
    slow.Frames = "inf";
    slow.DelayMs = 2;
    const std::string a = Song("a.tst", quick), b = Song("b.tst", slow), c = Song("c.tst", quick);
    std::ofstream(PathOf(Path("list.kbm")), std::ios::binary)
        << "KbMIDI Player Play List\r\n0=" << a << "\r\n-\r\n0=" << b << "\r\n-\r\n0=" << c
        << "\r\n";
    bool running = false, singleDisabled = false;
    During stop([&] {
        if (plugin->Counts().Open < 2 || plugin->Counts().Render < 5)
            return false;
        running = TextOf(window->btnStartMultiDecode) == "中止(&A)";
        singleDisabled = !IsWindowEnabled(window->btnSingleDecode);
        Click(window->btnStartMultiDecode);
        return true;
    });
    RunBatch(Path("list.kbm"));
    EXPECT_TRUE(running);
    EXPECT_TRUE(singleDisabled);
    const auto lines = LogLines(*window);
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(std::vector<std::string>(lines.end() - 4, lines.end()),
              (std::vector<std::string>{
                  "デコードは完了しました", "  警告: デコードはユーザの指示により中止されました",
                  "  警告: ファイルは削除されました", "一括デコードが完了しました。"}));
    EXPECT_TRUE(fs::exists(PathOf(Path("a.wav"))));
    EXPECT_FALSE(fs::exists(PathOf(Path("b.wav"))));
    EXPECT_FALSE(fs::exists(PathOf(Path("c.wav"))));
    EXPECT_EQ(plugin->Counts().Open, 2);
    EXPECT_EQ(TextOf(window->btnStartMultiDecode), "開始(&S)");
    EXPECT_TRUE(IsWindowEnabled(window->btnSingleDecode));
    EXPECT_EQ(SendMessageW(window->pbrIndivProgress, PBM_GETPOS, 0, 0), 0);
}

TEST_F(DecodeFixture, ClosingTheWindowDuringABatchStopsItFirst)
{
    OpenWindow();
    bool closed = false;
    window->OnClosed = [&] { closed = true; };
    testkpi::TestSong slow;
    slow.Length = "none";
    slow.Frames = "inf";
    slow.DelayMs = 2;
    const std::string b = Song("b.tst", slow);
    std::ofstream(PathOf(Path("list.kbm")), std::ios::binary)
        << "KbMIDI Player Play List\r\n0=" << b << "\r\n-\r\n0=" << b << "\r\n";
    During close([&] {
        if (plugin->Counts().Render < 5)
            return false;
        SendMessageW(window->Handle(), WM_CLOSE, 0, 0);
        return true;
    });
    RunBatch(Path("list.kbm"));
    ASSERT_TRUE(WaitUntil([&] { return closed; }, 5000));
    EXPECT_FALSE(IsWindowVisible(window->Handle()));
    EXPECT_FALSE(fs::exists(PathOf(Path("b.wav"))));
    EXPECT_EQ(plugin->Counts().Open, 1);
    EXPECT_EQ(plugin->Counts().OpenNow, 0);
    window.reset();
    EXPECT_EQ(RunLog->Lines().back(), "一括デコードが完了しました。");
}

TEST_F(DecodeFixture, ProgramLeavesItsRunLogBesideItselfAndItsSettingsInTheRegistry)
{
    // The program makes its own registry store and run log.
    const std::string exe = [] {
        wchar_t path[MAX_PATH] = L"";
        GetModuleFileNameW(nullptr, path, MAX_PATH);
        return Narrow(path);
    }();
    const fs::path logPath = PathOf(exe).replace_extension(".log");
    fs::remove(logPath);
    Registry.reset();
    AppRegistry = nullptr;
    RunLog = nullptr;
    size_t lines = 0;
    const int status = RunPellanDecode(MakeTestSettingsStore(), [&](TfrmMain& w) {
        w.Core().AddLog({txt::Severity::Information, "a line of the run"});
        lines = LogLines(w).size();
        PostMessageW(w.Handle(), WM_CLOSE, 0, 0);
    });
    EXPECT_EQ(status, 0);
    // Every line of the list, each ended by CR LF, and the plug-in count line among them.
    const std::string log = FileBytes(logPath);
    size_t ends = 0;
    for (size_t at = log.find("\r\n"); at != std::string::npos; at = log.find("\r\n", at + 2))
        ++ends;
    EXPECT_EQ(ends, lines);
    EXPECT_NE(log.find("a line of the run\r\n"), std::string::npos);
    fs::remove(logPath);
    EXPECT_EQ(StoredNumber("DecodeSettings\\CD", "DefaultLength"), 115);
    EXPECT_EQ(StoredNumber("DecodeSettings\\プラグインのデフォルト", "BitsPerSample"), 0);
    EXPECT_TRUE(KeyExists("SearchPath"));
    fs::remove(PathOf(exe).parent_path() / "plugin.cache");
}

TEST_F(DecodeFixture, EndOfTheSessionWritesEverythingAsAtEveryExit)
{
    const std::string exe = [] {
        wchar_t path[MAX_PATH] = L"";
        GetModuleFileNameW(nullptr, path, MAX_PATH);
        return Narrow(path);
    }();
    const fs::path logPath = PathOf(exe).replace_extension(".log");
    fs::remove(logPath);
    Registry.reset();
    AppRegistry = nullptr;
    RunLog = nullptr;
    bool agreed = false;
    RunPellanDecode(MakeTestSettingsStore(), [&](TfrmMain& w) {
        w.Core().AddLog({txt::Severity::Information, "before the end of the session"});
        // What the system sends when the user logs off.
        agreed = SendMessageW(w.Handle(), WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF) != FALSE;
        SendMessageW(w.Handle(), WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF);
        // By now the system may end the process at any moment: everything is written.
        EXPECT_FALSE(IsWindow(w.Handle()));
        EXPECT_NE(FileBytes(logPath).find("before the end of the session\r\n"), std::string::npos);
        EXPECT_EQ(StoredNumber("DecodeSettings\\CD", "FadeoutLength"), 5000);
    });
    EXPECT_TRUE(agreed);
    fs::remove(logPath);
    fs::remove(PathOf(exe).parent_path() / "plugin.cache");
}

// Plug-ins written for a window program, in the program as it starts: one that creates a COM
// object in Open, one whose Render waits until the window's thread has dispatched its own
// window's timer. The program's own loop runs the decodes; each gives the plain song's bytes.
TEST_F(DecodeFixture, PluginsThatNeedTheWindowThreadDecodeInTheProgram)
{
    const std::string exe = [] {
        wchar_t path[MAX_PATH] = L"";
        GetModuleFileNameW(nullptr, path, MAX_PATH);
        return Narrow(path);
    }();
    Registry.reset();
    AppRegistry = nullptr;
    RunLog = nullptr;
    testkpi::TestSong song;
    song.Frames = "30000";
    const std::vector<std::string> names = {"plain", "com", "timer"};
    Song("plain.tst", song);
    song.Extra = "com=open\n";
    Song("com.tst", song);
    song.Extra = "window=timer\n";
    Song("timer.tst", song);

    TfrmMain* window = nullptr;
    size_t started = 0;
    bool running = false;
    // Each decode starts from a timer in the program's loop once the one before has ended.
    During next([&] {
        if (window == nullptr)
            return false;
        const std::string last = LastLine(*window);
        if (running && last != "デコードは完了しました" && last != "警告: デコードは失敗しました")
            return false;
        running = false;
        if (started == names.size()) {
            PostMessageW(window->Handle(), WM_CLOSE, 0, 0);
            return true;
        }
        SetText(window->lbeSourceFile, Path(names[started] + ".tst"));
        SetText(window->lbePCMFile, Path(names[started] + ".wav"));
        Choose(window->cmbPCMFormat, "CD");
        Click(window->btnSingleDecode);
        ++started;
        running = true;
        return false;
    });
    EXPECT_EQ(RunPellanDecode(MakeTestSettingsStore(), [&](TfrmMain& w) { window = &w; }), 0);
    EXPECT_EQ(started, names.size());
    const std::string plain = FileBytes(Dir / "plain.wav");
    EXPECT_GT(plain.size(), 44u);
    EXPECT_TRUE(FileBytes(Dir / "com.wav") == plain);
    EXPECT_TRUE(FileBytes(Dir / "timer.wav") == plain);
    fs::remove(PathOf(exe).replace_extension(".log"));
    fs::remove(PathOf(exe).parent_path() / "plugin.cache");
}
