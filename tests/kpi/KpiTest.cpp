// The plug-in module: load checks, extension list, song calls, open count and cache record.
#include "kpi/KPI.h"
#include "platform/LittleEndian.h"
#include "tests/support/TempFolder.h"
#include "tests/testplugin/TestPluginHost.h"
#include "texts/Texts.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <thread>

using testkpi::TestPlugin;
using testkpi::TestSong;
using testsupport::TempFolder;

namespace {

// Loads path and returns the load failure's code, or -1 when it loaded; reason, when given,
// receives why.
int LoadFailureCode(const std::string& path, std::string* reason = nullptr)
{
    try {
        TZoKpi plugin(path);
        return -1;
    } catch (const EKpiLoadFailed& e) {
        EXPECT_STREQ(e.what(), "");
        if (reason != nullptr)
            *reason = e.Reason;
        return e.Code;
    }
}

// Writes the built plug-in to path with conf but without holding it open, so that a test can
// see whether the host left it loaded.
void PlacePlugin(const std::string& path, const std::map<std::string, std::string>& conf,
                 const std::string& variant = "testplugin.kpi")
{
    std::filesystem::copy_file(testkpi::BuiltPluginPath(variant), path);
    std::string text;
    for (const auto& [key, value] : conf)
        text += key + "=" + value + "\n";
    testsupport::WriteFileBytes(path + ".conf", text);
}

// Sanitizer runtimes keep closed libraries mapped, so unloading is only visible without them.
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
constexpr bool kUnloadIsVisible = false;
#else
constexpr bool kUnloadIsVisible = true;
#endif

bool IsLoaded(const std::string& path)
{
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (handle != nullptr)
        ::dlclose(handle);
    return handle != nullptr;
}

} // namespace

TEST(KpiLoad, HelperLibraryBesideThePluginIsFoundWithoutAnySearchPath)
{
    ASSERT_EQ(std::getenv("LD_LIBRARY_PATH") == nullptr ||
                  std::string(std::getenv("LD_LIBRARY_PATH")).find("helper") == std::string::npos,
              true);
    const std::string built = testkpi::BuiltPluginPath("helper/helperuser.kpi");
    const std::string helper = testkpi::BuiltPluginPath("helper/libkpihelper.so");

    // Without the helper beside it the plug-in cannot load. (Checked first: once loaded, the
    // helper's name would be known to the process.)
    TempFolder alone;
    std::filesystem::copy_file(built, alone / "helperuser.kpi");
    std::string reason;
    EXPECT_EQ(LoadFailureCode(alone / "helperuser.kpi", &reason), EKpiLoadFailed::kCannotLoad);
    EXPECT_NE(reason.find("libkpihelper.so"), std::string::npos) << reason;

    TempFolder dir;
    std::filesystem::copy_file(built, dir / "helperuser.kpi");
    std::filesystem::copy_file(helper, dir / "libkpihelper.so");
    TZoKpi kpi(dir / "helperuser.kpi");
    EXPECT_EQ(kpi.PluginVersion(), 77u); // answered by the helper
}

TEST(KpiLoad, EmptyFileNameFailsBeforeAnyLibraryCall)
{
    try {
        TZoKpi plugin("");
        FAIL() << "loaded";
    } catch (const EKpiLoadFailed&) {
        FAIL() << "not the base exception";
    } catch (const EZoError& e) {
        EXPECT_STREQ(e.what(), "szFileName == nil");
    }
}

TEST(KpiLoad, EachBrokenLibraryGivesItsCodeAndIsUnloadedWithoutInit)
{
    TempFolder dir;
    testsupport::WriteFileBytes(dir / "text.kpi", "not a library");
    std::string reason;
    EXPECT_EQ(LoadFailureCode(dir / "text.kpi", &reason), EKpiLoadFailed::kCannotLoad);
    // The loader's own words, which name the file.
    EXPECT_NE(reason.find("text.kpi"), std::string::npos) << reason;
    EXPECT_EQ(LoadFailureCode(dir / "missing.kpi", &reason), EKpiLoadFailed::kCannotLoad);
    EXPECT_EQ(reason, "no such file");

    struct Case {
        std::string name;
        std::map<std::string, std::string> conf;
        std::string variant;
        int code;
        std::string reason;
    };
    const std::vector<Case> cases = {
        {"noexport.kpi",
         {},
         "testplugin_noexport.kpi",
         EKpiLoadFailed::kNoEntry,
         txt::Format(txt::Id::LoadNoEntry, {"kmp_GetTestModule"})},
        {"nilmodule.kpi",
         {{"module", "nil"}},
         "testplugin.kpi",
         EKpiLoadFailed::kNilModule,
         txt::Format(txt::Id::LoadNilModule, {"kmp_GetTestModule"})},
        {"v99.kpi",
         {{"interface", "99"}},
         "testplugin.kpi",
         EKpiLoadFailed::kBadVersion,
         txt::Format(txt::Id::LoadBadVersion, {"99", "100"})},
        {"v101.kpi",
         {{"interface", "101"}},
         "testplugin.kpi",
         EKpiLoadFailed::kBadVersion,
         txt::Format(txt::Id::LoadBadVersion, {"101", "100"})},
        {"noext.kpi",
         {{"extensions", "nil"}},
         "testplugin.kpi",
         EKpiLoadFailed::kNilExtensions,
         txt::Text(txt::Id::LoadNoExtensionList)},
        {"noopen.kpi",
         {{"nil_entry", "Open"}},
         "testplugin.kpi",
         EKpiLoadFailed::kNilRequiredEntry,
         txt::Format(txt::Id::LoadNoRequiredEntry, {"Open"})},
        {"noclose.kpi",
         {{"nil_entry", "Close"}},
         "testplugin.kpi",
         EKpiLoadFailed::kNilRequiredEntry,
         txt::Format(txt::Id::LoadNoRequiredEntry, {"Close"})},
        {"norender.kpi",
         {{"nil_entry", "Render"}},
         "testplugin.kpi",
         EKpiLoadFailed::kNilRequiredEntry,
         txt::Format(txt::Id::LoadNoRequiredEntry, {"Render"})},
        {"nosetpos.kpi",
         {{"nil_entry", "SetPosition"}},
         "testplugin.kpi",
         EKpiLoadFailed::kNilRequiredEntry,
         txt::Format(txt::Id::LoadNoRequiredEntry, {"SetPosition"})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PlacePlugin(dir / c.name, c.conf, c.variant);
        EXPECT_EQ(LoadFailureCode(dir / c.name, &reason), c.code);
        EXPECT_EQ(reason, c.reason);
        if (kUnloadIsVisible) {
            EXPECT_FALSE(IsLoaded(dir / c.name)) << "the failed library must be unloaded";
        }
    }

    // Init is never reached for a refused library.
    TestPlugin held(dir / "held.kpi", {{"interface", "99"}});
    EXPECT_EQ(LoadFailureCode(held.Path()), EKpiLoadFailed::kBadVersion);
    EXPECT_EQ(held.Counts().Init, 0);
    EXPECT_EQ(held.Counts().Deinit, 0);
}

TEST(KpiLoad, InitOnLoadAndDeinitOnDestructionExactlyOnce)
{
    TempFolder dir;
    TestPlugin plugin(dir / "a.kpi", {{"version", "7"}});
    {
        TZoKpi kpi(plugin.Path());
        EXPECT_FALSE(kpi.NotLoaded());
        EXPECT_EQ(kpi.PluginVersion(), 7u);
        EXPECT_FALSE(kpi.Enabled);
        kpi.Load(); // loaded already: nothing happens
        EXPECT_EQ(plugin.Counts().Init, 1);
        EXPECT_EQ(plugin.Counts().Deinit, 0);
    }
    EXPECT_EQ(plugin.Counts().Deinit, 1);

    TestPlugin bare(dir / "bare.kpi", {{"init", "0"}, {"deinit", "0"}});
    {
        TZoKpi kpi(bare.Path());
    } // nil Init and Deinit are simply not called
    EXPECT_EQ(bare.Counts().Init, 0);
}

TEST(KpiExtensions, DottedEntriesOnlySortedIgnoringCaseDuplicatesKept)
{
    TempFolder dir;
    TestPlugin plugin(dir / "a.kpi", {{"extensions", ".wav,.mp3,mp4,.MP2,.MP3,."}});
    TZoKpi kpi(plugin.Path());
    const auto& ext = kpi.Extensions();
    ASSERT_EQ(ext.size(), 5u);
    EXPECT_EQ(ext[0], "");
    EXPECT_EQ(ext[1], "MP2");
    EXPECT_EQ(CompareTextIgnoringCase(ext[2], "mp3"), 0);
    EXPECT_EQ(CompareTextIgnoringCase(ext[3], "mp3"), 0);
    EXPECT_NE(ext[2], ext[3]);
    EXPECT_EQ(ext[4], "wav");
    EXPECT_TRUE(kpi.HasExtension("Mp3"));
    EXPECT_TRUE(kpi.HasExtension("WAV"));
    EXPECT_TRUE(kpi.HasExtension(""));
    EXPECT_FALSE(kpi.HasExtension("mp4"));
    EXPECT_FALSE(kpi.HasExtension("wa"));
}

TEST(KpiExtensions, ExtensionTextQuotesItemsWithBlanksQuotesOrSlashes)
{
    TempFolder dir;
    const auto text = [&](const std::string& list) {
        static int n = 0;
        TestPlugin plugin(dir / ("p" + std::to_string(n++) + ".kpi"), {{"extensions", list}});
        return TZoKpi(plugin.Path()).ExtensionText();
    };
    EXPECT_EQ(text(".mp3,.MP2,.wav"), "MP2/mp3/wav");
    EXPECT_EQ(text(".a b"), "\"a b\"");
    EXPECT_EQ(text("."), "\"\"");
    EXPECT_EQ(text(""), "");
    EXPECT_EQ(text(".,.mp3"), "/mp3");
    EXPECT_EQ(text(".a\"b,.c/d,.e\tf"), "\"a\"\"b\"/\"c/d\"/\"e\tf\"");
}

TEST(KpiCacheRecord, FieldsLittleEndianNamesCutAt255Bytes)
{
    TempFolder dir;
    TestPlugin plugin(dir / "a.kpi", {{"version", "258"}, {"extensions", ".mp3,.MP2"}});
    TZoKpi kpi(plugin.Path());
    kpi.Enabled = true;
    std::string record;
    kpi.WriteCacheRecord(record);

    std::string expected;
    le::Append32(expected, static_cast<uint32_t>(kpi.FileTime()));
    expected += std::string("\x02\x01\x00\x00", 4);
    expected += '\x01';
    expected += static_cast<char>(plugin.Path().size());
    expected += plugin.Path();
    expected += '\x07';
    expected += "MP2/mp3";
    EXPECT_EQ(record, expected);
    EXPECT_NE(kpi.FileTime(), -1);

    // A path of 300 bytes keeps its first 255 bytes and says 255.
    const std::string longFolder = dir.Path() + "/" + std::string(200, 'a');
    std::filesystem::create_directories(longFolder);
    const std::string longPath =
        longFolder + "/" + std::string(300 - longFolder.size() - 1 - 4, 'b') + ".kpi";
    ASSERT_EQ(longPath.size(), 300u);
    TestPlugin far(longPath);
    TZoKpi farKpi(far.Path());
    std::string farRecord;
    farKpi.WriteCacheRecord(farRecord);
    ASSERT_EQ(static_cast<uint8_t>(farRecord[9]), 255);
    EXPECT_EQ(farRecord.substr(10, 255), longPath.substr(0, 255));
    EXPECT_EQ(farRecord[8], '\0'); // not enabled
    EXPECT_EQ(static_cast<uint8_t>(farRecord[10 + 255]), 3u);
    EXPECT_EQ(farRecord.substr(10 + 256), "tst");
}

TEST(KpiSongCalls, OpenSetsPositionZeroAndCountsOnlyGoodOpens)
{
    TempFolder dir;
    TestPlugin plugin(dir / "a.kpi");
    TZoKpi kpi(plugin.Path());
    TestSong{}.WriteTo(dir / "good.tst");

    SoundFormat format{};
    const KPI_HANDLE h = kpi.OpenSong(dir / "good.tst", &format);
    ASSERT_NE(h, 0u);
    EXPECT_EQ(kpi.OpenCount(), 1);
    EXPECT_EQ(format.SampleRate, 44100u);
    const auto calls = plugin.SetPositionCalls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].Handle, h);
    EXPECT_EQ(calls[0].PositionMs, 0u);

    // A nil format never reaches the library.
    EXPECT_EQ(kpi.OpenSong(dir / "good.tst", nullptr), 0u);
    EXPECT_EQ(plugin.Counts().Open, 1);

    // A zero format: the host closes the handle at once, and nothing is counted.
    TestSong zero;
    zero.OpenMode = "zero";
    zero.WriteTo(dir / "zero.tst");
    SoundFormat zeroFormat{};
    EXPECT_EQ(kpi.OpenSong(dir / "zero.tst", &zeroFormat), 0u);
    EXPECT_EQ(plugin.Counts().Close, 1);
    EXPECT_EQ(plugin.Counts().SetPosition, 1);
    EXPECT_EQ(kpi.OpenCount(), 1);

    // A refused open changes nothing.
    SoundFormat missing{};
    EXPECT_EQ(kpi.OpenSong(dir / "missing.tst", &missing), 0u);
    EXPECT_EQ(kpi.OpenCount(), 1);

    kpi.CloseSong(h);
    EXPECT_EQ(kpi.OpenCount(), 0);
    EXPECT_EQ(plugin.Counts().Close, 2);
}

TEST(KpiSongCalls, ZeroHandleNeverReachesTheLibrary)
{
    TempFolder dir;
    TestPlugin plugin(dir / "a.kpi");
    TZoKpi kpi(plugin.Path());
    uint8_t buffer[16];
    EXPECT_EQ(kpi.Render(0, buffer, sizeof buffer), 0u);
    EXPECT_EQ(kpi.SetPosition(0, 1000), 0u);
    kpi.CloseSong(0);
    const auto counts = plugin.Counts();
    EXPECT_EQ(counts.Render + counts.SetPosition + counts.Close, 0);
    EXPECT_EQ(kpi.OpenCount(), 0);
}

TEST(KpiSongCalls, NonReentrantPluginGetsNoSecondOpenUntilTheFirstCloses)
{
    TempFolder dir;
    TestPlugin plugin(dir / "a.kpi", {{"reentrant", "0"}});
    TZoKpi kpi(plugin.Path());
    TestSong{}.WriteTo(dir / "s.tst");
    SoundFormat f1{}, f2{}, f3{};
    const KPI_HANDLE first = kpi.OpenSong(dir / "s.tst", &f1);
    ASSERT_NE(first, 0u);
    EXPECT_EQ(kpi.OpenSong(dir / "s.tst", &f2), 0u);
    EXPECT_EQ(plugin.Counts().Open, 1);
    kpi.CloseSong(first);
    const KPI_HANDLE again = kpi.OpenSong(dir / "s.tst", &f3);
    EXPECT_NE(again, 0u);
    kpi.CloseSong(again);
    EXPECT_EQ(plugin.Counts().MaxOpenNow, 1);
}

TEST(KpiSongCalls, NonReentrantPluginNeverHasTwoSongsOpenWhateverThreadsAsk)
{
    TempFolder dir;
    TestPlugin plugin(dir / "a.kpi", {{"reentrant", "0"}});
    TZoKpi kpi(plugin.Path());
    TestSong{}.WriteTo(dir / "s.tst");
    const std::string song = dir / "s.tst";
    std::atomic<int> opened{0};
    const auto openAndClose = [&] {
        for (int i = 0; i < 500; ++i) {
            SoundFormat f{};
            if (const KPI_HANDLE h = kpi.OpenSong(song, &f)) {
                ++opened;
                kpi.CloseSong(h);
            }
        }
    };
    std::thread a(openAndClose), b(openAndClose);
    a.join();
    b.join();
    EXPECT_EQ(plugin.Counts().MaxOpenNow, 1);
    EXPECT_EQ(plugin.Counts().Open, opened.load());
    EXPECT_EQ(kpi.OpenCount(), 0);
}

TEST(KpiSongCalls, RenderNeverClaimsMoreThanTheBufferHolds)
{
    TempFolder dir;
    TestPlugin plugin(dir / "a.kpi");
    TZoKpi kpi(plugin.Path());
    TestSong song;
    song.OverRender = true;
    song.WriteTo(dir / "s.tst");
    SoundFormat f{};
    const KPI_HANDLE h = kpi.OpenSong(dir / "s.tst", &f);
    uint8_t buffer[64];
    EXPECT_EQ(kpi.Render(h, buffer, sizeof buffer), sizeof buffer);
    kpi.CloseSong(h);
}

TEST(KpiOpenCount, OpensAndClosesFromTwoThreadsBalance)
{
    TempFolder dir;
    TestPlugin plugin(dir / "a.kpi");
    TZoKpi kpi(plugin.Path());
    TestSong{}.WriteTo(dir / "s.tst");
    const std::string song = dir / "s.tst";
    constexpr int kRounds = 2000;
    // One thread opens and closes; the other closes handles that the main thread opened,
    // as when a decoder thread releases a song the window opened.
    std::vector<KPI_HANDLE> handles;
    for (int i = 0; i < kRounds; ++i) {
        SoundFormat f{};
        handles.push_back(kpi.OpenSong(song, &f));
    }
    std::thread closer([&] {
        for (KPI_HANDLE h : handles)
            kpi.CloseSong(h);
    });
    std::thread opener([&] {
        for (int i = 0; i < kRounds; ++i) {
            SoundFormat f{};
            kpi.CloseSong(kpi.OpenSong(song, &f));
        }
    });
    closer.join();
    opener.join();
    EXPECT_EQ(kpi.OpenCount(), 0);
    EXPECT_EQ(plugin.Counts().Open, 2 * kRounds);
    EXPECT_EQ(plugin.Counts().Close, 2 * kRounds);
}

TEST(KpiOptionalEntries, SongInformationAndTheReasonOfAFailedOpenComeFromThePlugin)
{
    TempFolder dir;
    TestPlugin plugin(dir / "a.kpi");
    TZoKpi kpi(plugin.Path());
    EXPECT_TRUE(kpi.HasSongInfo());
    EXPECT_TRUE(kpi.HasOpenError());

    TestSong tagged;
    tagged.Songs = 3;
    tagged.Extra = "title=Overworld\ntitle.2=Underworld\ncopyright=1987 Pellan\n";
    tagged.WriteTo(dir / "tagged.tst");
    SoundFormat format{};
    std::string failure = "stale";
    const KPI_HANDLE h = kpi.OpenSong(dir / "tagged.tst", &format, &failure);
    ASSERT_NE(h, 0u);
    EXPECT_EQ(failure, "");
    EXPECT_EQ(kpi.SongInfo(h).Title, "Overworld");
    EXPECT_EQ(kpi.SongInfo(h).Copyright, "1987 Pellan");
    // The song a multi-song file has selected; nothing once it is closed.
    kpi.SetPosition(h, 2000);
    EXPECT_EQ(kpi.SongInfo(h).Title, "Underworld");
    kpi.CloseSong(h);
    EXPECT_TRUE(kpi.SongInfo(h).Empty());

    // Refused, and answered with a format of zeros: the reason on one line, without the
    // blanks and control characters around and inside it.
    for (const char* mode : {"refuse", "zero", "fail_keep"}) {
        TestSong refused;
        refused.OpenMode = mode;
        refused.Extra = "open_error=  bad chunk\tat byte 44 \n";
        refused.WriteTo(dir / "refused.tst");
        SoundFormat f{};
        EXPECT_EQ(kpi.OpenSong(dir / "refused.tst", &f, &failure), 0u) << mode;
        EXPECT_EQ(failure, "bad chunk at byte 44") << mode;
    }
    // A plug-in that gives no reason gives none; nor does a good open after a failed one.
    EXPECT_EQ(kpi.OpenSong(dir / "missing.tst", &format, &failure), 0u);
    EXPECT_EQ(failure, "");
    TestSong{}.WriteTo(dir / "good.tst");
    failure = "stale";
    const KPI_HANDLE good = kpi.OpenSong(dir / "good.tst", &format, &failure);
    EXPECT_EQ(failure, "");
    EXPECT_TRUE(kpi.SongInfo(good).Empty());
    kpi.CloseSong(good);
}

TEST(KpiOptionalEntries, LongTextsArriveWholeAndWrongLengthsAreNotBelieved)
{
    TempFolder dir;
    TestPlugin plugin(dir / "a.kpi");
    TZoKpi kpi(plugin.Path());
    const auto titleOf = [&](const std::string& extra) {
        TestSong song;
        song.Extra = extra;
        song.WriteTo(dir / "song.tst");
        SoundFormat format{};
        const KPI_HANDLE h = kpi.OpenSong(dir / "song.tst", &format);
        const std::string title = kpi.SongInfo(h).Title;
        kpi.CloseSong(h);
        return title;
    };
    // Longer than the first buffer the program offers: asked for again with room for all.
    const std::string long1000(1000, 'x');
    EXPECT_EQ(titleOf("title=" + long1000 + "\n"), long1000);
    // Beyond the limit: cut there, between two characters of three bytes.
    std::string kana;
    for (int i = 0; i < 30000; ++i)
        kana += "あ";
    const std::string cut = titleOf("title=" + kana + "\n");
    EXPECT_EQ(cut.size(), 65535u);
    EXPECT_EQ(cut, kana.substr(0, 65535));
    // A length claimed beyond what was written ends at the NUL; one claimed short is kept to.
    EXPECT_EQ(titleOf("title=abc\ninfo_claim=100000\n"), "abc");
    EXPECT_EQ(titleOf("title=abcdefgh\ninfo_claim=5\n"), "abcde");
}
