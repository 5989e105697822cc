// The plug-in driver: the folder scan, the order of preference, the choice of plug-in for a file,
// the events, the cache file and the shutdown.
#include "kpi/kpiDriver.h"
#include "platform/FileSystem.h"
#include "tests/support/TempFolder.h"
#include "tests/testplugin/TestPluginHost.h"
#include "texts/Texts.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#include <filesystem>

namespace fs = std::filesystem;
using testkpi::TestPlugin;
using testkpi::TestSong;
using testsupport::TempFolder;

namespace {

// Sets path's last-write time to the given local time.
void SetLocalFileTime(const std::string& path, int year, int month, int day, int hour = 0,
                      int minute = 0, int second = 0)
{
    std::tm local{};
    local.tm_year = year - 1900;
    local.tm_mon = month - 1;
    local.tm_mday = day;
    local.tm_hour = hour;
    local.tm_min = minute;
    local.tm_sec = second;
    local.tm_isdst = -1;
    const timespec times[2] = {{std::mktime(&local), 0}, {std::mktime(&local), 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

// A copy of the built plug-in that nobody else holds open.
void CopyPlugin(const std::string& path)
{
    fs::copy_file(testkpi::BuiltPluginPath(), path);
}

std::vector<std::string> FileNames(const TZoKpiDriver& driver)
{
    std::vector<std::string> names;
    for (const auto& plugin : driver.Plugins())
        names.push_back(plugin->FileName());
    return names;
}

// A driver that enables every plug-in and writes its cache into the test's folder.
struct EnablingDriver : TZoKpiDriver {
    explicit EnablingDriver(const TempFolder& dir)
    {
        CacheFolder = dir.Path();
        OnPluginLoaded = [](TZoKpi&) { return true; };
    }
};

} // namespace

TEST(DriverScan, FolderWithoutPluginsGivesNoSongAndAnEightByteCache)
{
    TempFolder dir;
    fs::create_directory(dir / "empty");
    TestSong{}.WriteTo(dir / "song.tst");
    {
        EnablingDriver driver(dir);
        driver.LoadFolder(dir / "empty");
        EXPECT_TRUE(driver.Plugins().empty());
        EXPECT_TRUE(driver.AllExtensions().empty());
        EXPECT_EQ(driver.OpenSong(dir / "song.tst", nullptr), nullptr);
        EXPECT_EQ(driver.OpenSong(dir / "song", nullptr), nullptr);
    }
    EXPECT_EQ(testsupport::ReadFileBytes(dir / "plugin.cache"), std::string("\1\0\0\0\0\0\0\0", 8));
}

TEST(DriverScan, FolderPluginsComeBeforeSubFoldersDownToTheDepthGiven)
{
    TempFolder dir;
    fs::create_directories(dir / "a/b");
    CopyPlugin(dir / "top.kpi");
    CopyPlugin(dir / "a/one.KPI");
    CopyPlugin(dir / "a/b/two.kpi");
    fs::create_directory(dir / "folder.kpi"); // a folder is never a plug-in
    testsupport::WriteFileBytes(dir / "readme.txt", "x");

    const auto scan = [&](int32_t depth) {
        EnablingDriver driver(dir);
        std::vector<std::string> loaded;
        driver.OnPluginLoaded = [&](TZoKpi& plugin) {
            loaded.push_back(plugin.FileName());
            return true;
        };
        driver.OnPluginLoadFailed = [&](const std::string& name, const std::string&) {
            loaded.push_back("!" + name);
        };
        driver.ScanFolder(dir.Path(), depth);
        EXPECT_EQ(FileNames(driver), loaded);
        return loaded;
    };
    EXPECT_EQ(scan(0), (std::vector<std::string>{dir / "top.kpi"}));
    EXPECT_EQ(scan(1), (std::vector<std::string>{dir / "top.kpi", dir / "a/one.KPI"}));
    EXPECT_EQ(scan(255),
              (std::vector<std::string>{dir / "top.kpi", dir / "a/one.KPI", dir / "a/b/two.kpi"}));
}

TEST(DriverScan, HiddenPluginFilesAndHiddenFoldersAreSkipped)
{
    TempFolder dir;
    fs::create_directories(dir / ".hidden");
    fs::create_directories(dir / "shown");
    CopyPlugin(dir / ".dot.kpi");
    CopyPlugin(dir / ".hidden/inside.kpi");
    CopyPlugin(dir / "shown/visible.kpi");

    EnablingDriver driver(dir);
    int failures = 0;
    driver.OnPluginLoadFailed = [&](const std::string&, const std::string&) { ++failures; };
    driver.LoadFolder(dir.Path());
    EXPECT_EQ(FileNames(driver), (std::vector<std::string>{dir / "shown/visible.kpi"}));
    EXPECT_EQ(failures, 0);
}

TEST(DriverScan, PluginTwoHundredFiftyFiveLevelsDownIsFoundOneLevelMoreIsNot)
{
    TempFolder dir;
    // Stepping down one level at a time keeps every path short, however deep the tree.
    ASSERT_EQ(::chdir(dir.Path().c_str()), 0);
    std::string deepest = dir.Path();
    for (int level = 1; level <= 256; ++level) {
        ASSERT_EQ(::mkdir("d", 0755), 0);
        ASSERT_EQ(::chdir("d"), 0);
        if (level <= 255)
            deepest += "/d";
        if (level >= 255)
            CopyPlugin("p" + std::to_string(level) + ".kpi");
    }
    ASSERT_TRUE(platform::SetCurrentFolder(dir.Path()));

    EnablingDriver driver(dir);
    driver.LoadFolder(dir.Path());
    EXPECT_EQ(FileNames(driver), (std::vector<std::string>{deepest + "/p255.kpi"}));
    // The scan leaves the current folder where it last listed: the deepest folder it reached.
    EXPECT_EQ(platform::CurrentFolder(), deepest);
}

TEST(DriverScan, RelativeFolderIsTakenFromTheCurrentFolderAndPathsStoredAreAbsolute)
{
    TempFolder dir;
    fs::create_directories(dir / "plugins/sub/deeper");
    TestPlugin top(dir / "plugins/top.kpi");
    TestPlugin sub(dir / "plugins/sub/sub.kpi", {{"version", "2"}});
    TestPlugin deeper(dir / "plugins/sub/deeper/deeper.kpi", {{"version", "3"}});
    ASSERT_TRUE(platform::SetCurrentFolder(dir.Path()));

    EnablingDriver driver(dir);
    driver.LoadFolder("./plugins");
    EXPECT_EQ(FileNames(driver), (std::vector<std::string>{deeper.Path(), sub.Path(), top.Path()}));

    // The owner puts its own current folder back; a song named relative to it then reaches the
    // plug-in by that same name.
    ASSERT_TRUE(platform::SetCurrentFolder(dir.Path()));
    TestSong{}.WriteTo(dir / "song.tst");
    const auto song = driver.OpenSong("song.tst", nullptr);
    ASSERT_NE(song, nullptr);
    EXPECT_NE(song->Handle, 0u);
    EXPECT_EQ(deeper.LastOpenName(), "song.tst");
}

TEST(DriverScan, EmptyFolderTextScansNothing)
{
    TempFolder dir;
    CopyPlugin(dir / "here.kpi");
    ASSERT_TRUE(platform::SetCurrentFolder(dir.Path()));

    EnablingDriver driver(dir);
    driver.LoadFolder("");
    EXPECT_TRUE(driver.Plugins().empty());
    EXPECT_EQ(platform::CurrentFolder(), dir.Path());
}

TEST(DriverScan, LinksBackUpTheScanPathAreNotFollowedOtherLinksAre)
{
    // One loop per tree, so that a scan that follows it still ends: 255 levels later.
    struct Loop {
        std::string link;
        std::string target; // relative to the tree's root folder; "" stands for the root
        bool absolute;
    };
    const std::vector<Loop> loops = {
        {"self", ".", false}, {"sub/parent", "..", false}, {"sub/absolute", "", true}};
    for (const Loop& loop : loops) {
        SCOPED_TRACE(loop.link);
        TempFolder dir;
        fs::create_directories(dir / "root/sub");
        fs::create_directories(dir / "elsewhere");
        CopyPlugin(dir / "root/top.kpi");
        CopyPlugin(dir / "root/sub/inner.kpi");
        CopyPlugin(dir / "elsewhere/outer.kpi");
        fs::create_directory_symlink(loop.absolute ? dir / "root" : loop.target,
                                     dir / ("root/" + loop.link));
        fs::create_directory_symlink(dir / "elsewhere", dir / "root/sub/away");

        EnablingDriver driver(dir);
        driver.LoadFolder(dir / "root");
        auto names = FileNames(driver);
        std::sort(names.begin(), names.end());
        ASSERT_EQ(names.size(), 3u);
        EXPECT_EQ(names,
                  (std::vector<std::string>{dir / "root/sub/away/outer.kpi",
                                            dir / "root/sub/inner.kpi", dir / "root/top.kpi"}));
    }
}

TEST(DriverLoad, FailuresAreReportedWithTheirPathAndTheScanGoesOn)
{
    TempFolder dir;
    testsupport::WriteFileBytes(dir / "broken.kpi", "not a library");
    TestPlugin refused(dir / "refused.kpi", {{"interface", "99"}});
    TestPlugin good(dir / "good.kpi", {{"extensions", ".good"}});
    TestPlugin rejectedByOwner(dir / "owner.kpi", {{"extensions", ".owner"}});

    TZoKpiDriver driver;
    driver.CacheFolder = dir.Path();
    driver.OnPluginLoaded = [&](TZoKpi& plugin) {
        if (plugin.FileName() == rejectedByOwner.Path())
            throw std::runtime_error("handler failed");
        return true;
    };
    std::vector<std::string> failed;
    driver.OnPluginLoadFailed = [&](const std::string& name, const std::string& reason) {
        failed.push_back(name + ": " + reason);
    };
    ASSERT_NO_THROW(driver.LoadFolder(dir.Path()));

    EXPECT_EQ(FileNames(driver), (std::vector<std::string>{good.Path()}));
    std::sort(failed.begin(), failed.end());
    ASSERT_EQ(failed.size(), 3u);
    // Each failure says why: the loader's words, the handler's error, the check that failed.
    EXPECT_EQ(failed[0].rfind(dir / "broken.kpi: ", 0), 0u) << failed[0];
    EXPECT_NE(failed[0].find("broken.kpi"), failed[0].rfind("broken.kpi")) << failed[0];
    EXPECT_EQ(failed[1], rejectedByOwner.Path() + ": handler failed");
    EXPECT_EQ(failed[2],
              refused.Path() + ": " + txt::Format(txt::Id::LoadBadVersion, {"99", "100"}));
    // The plug-in whose handler raised was loaded, so it is shut down again; its extension is
    // not registered.
    EXPECT_EQ(rejectedByOwner.Counts().Init, 1);
    EXPECT_EQ(rejectedByOwner.Counts().Deinit, 1);
    EXPECT_EQ(driver.AllExtensions(), (std::vector<std::string>{"good"}));

    // Without a failure handler a bad file is dropped silently.
    TZoKpiDriver quiet;
    quiet.CacheFolder = dir.Path();
    EXPECT_NO_THROW(quiet.AddPlugin(dir / "broken.kpi"));
    EXPECT_NO_THROW(quiet.AddPlugin(""));
    EXPECT_TRUE(quiet.Plugins().empty());
}

TEST(DriverLoad, AllExtensionsIsASortedUnionIgnoringCase)
{
    TempFolder dir;
    TestPlugin first(dir / "first.kpi", {{"extensions", ".wav,.mp3,.MP3"}});
    TestPlugin second(dir / "second.kpi", {{"extensions", ".Mp3,.ogg,.,.WAV"}});
    TZoKpiDriver driver; // no handler: both stay disabled, yet both count
    driver.CacheFolder = dir.Path();
    driver.AddPlugin(first.Path());
    driver.AddPlugin(second.Path());
    EXPECT_EQ(driver.AllExtensions(), (std::vector<std::string>{"", "mp3", "ogg", "wav"}));
    for (const auto& plugin : driver.Plugins())
        EXPECT_FALSE(plugin->Enabled);
}

TEST(DriverOrder, HigherVersionFirstThenLaterFileTime)
{
    TempFolder dir;
    struct Candidate {
        std::string name;
        std::string version;
        int year;
    };
    // Years chosen so that a packed time with its top bit set (2044 on, a negative number)
    // and the missing time of a file older than 1980 both take part; times compare as signed.
    const std::vector<Candidate> candidates = {
        {"v3-2001", "3", 2001}, {"v5-2000", "5", 2000}, {"v3-2020", "3", 2020},
        {"v3-1975", "3", 1975}, {"v3-2050", "3", 2050}, {"vbig-1990", "2147483648", 1990},
        {"v1-2010", "1", 2010},
    };
    for (const Candidate& c : candidates) {
        const std::string path = dir / (c.name + ".kpi");
        CopyPlugin(path);
        testsupport::WriteFileBytes(path + ".conf", "version=" + c.version + "\n");
        SetLocalFileTime(path, c.year, 6, 1);
    }
    EnablingDriver driver(dir);
    driver.LoadFolder(dir.Path());

    std::vector<std::string> order;
    for (const auto& plugin : driver.Plugins())
        order.push_back(fs::path(plugin->FileName()).stem().string());
    EXPECT_EQ(order, (std::vector<std::string>{"vbig-1990", "v5-2000", "v3-2020", "v3-2001",
                                               "v3-1975", "v3-2050", "v1-2010"}));
    EXPECT_EQ(driver.Plugins()[4]->FileTime(), -1);
    EXPECT_LT(driver.Plugins()[5]->FileTime(), -1) << "2050 packs with the top bit set";
}

TEST(DriverOpenSong, FirstClaimIsFinalEvenWhenTheOpenFails)
{
    TempFolder dir;
    TestPlugin first(dir / "first.kpi", {{"version", "2"}});
    TestPlugin second(dir / "second.kpi", {{"version", "1"}});
    TestSong refused;
    refused.OpenMode = "refuse";
    refused.WriteTo(dir / "bad.tst");

    EnablingDriver driver(dir);
    driver.LoadFolder(dir.Path());
    const auto song = driver.OpenSong(dir / "bad.tst", nullptr);
    ASSERT_NE(song, nullptr);
    EXPECT_EQ(song->Handle, 0u);
    EXPECT_EQ(song->PluginFileName(), first.Path());
    EXPECT_EQ(first.Counts().Open, 1);
    EXPECT_EQ(second.Counts().Open, 0);
}

TEST(DriverOpenSong, ExtensionMatchIgnoresCaseAndNoExtensionNeedsTheLoneDot)
{
    TempFolder dir;
    fs::create_directories(dir / "folder.tst");
    TestPlugin lower(dir / "lower.kpi", {{"version", "2"}, {"extensions", ".mp3"}});
    TestPlugin bare(dir / "bare.kpi", {{"version", "1"}, {"extensions", ".,.wav"}});
    for (const char* name : {"song.MP3", "song", "song.", "folder.tst/song", "song.wav.tst"})
        TestSong{}.WriteTo(dir / name);

    EnablingDriver driver(dir);
    driver.LoadFolder(dir.Path());
    const auto pluginFor = [&](const std::string& name) -> std::string {
        const auto song = driver.OpenSong(dir / name, nullptr);
        return song ? fs::path(song->PluginFileName()).filename().string() : "none";
    };
    EXPECT_EQ(pluginFor("song.MP3"), "lower.kpi");
    EXPECT_EQ(pluginFor("song"), "bare.kpi");
    EXPECT_EQ(pluginFor("song."), "bare.kpi");
    EXPECT_EQ(pluginFor("folder.tst/song"), "bare.kpi");
    EXPECT_EQ(pluginFor("song.wav.tst"), "none");
    EXPECT_EQ(pluginFor("song.WAV"), "bare.kpi"); // the file need not exist to be claimed
}

TEST(DriverOpenSong, RequestedFormatIsPassedToThePlugin)
{
    TempFolder dir;
    TestPlugin plugin(dir / "p.kpi");
    TestSong song;
    song.Rate = 0; // the plug-in takes the requested rate
    song.WriteTo(dir / "s.tst");

    EnablingDriver driver(dir);
    driver.LoadFolder(dir.Path());
    SoundFormat requested{};
    requested.SampleRate = 22050;
    requested.Channels = 1;
    requested.BitsPerSample = 8;
    const auto withRequest = driver.OpenSong(dir / "s.tst", &requested);
    ASSERT_NE(withRequest, nullptr);
    EXPECT_EQ(plugin.LastRequest().SampleRate, 22050u);
    EXPECT_EQ(plugin.LastRequest().BitsPerSample, 8u);
    EXPECT_EQ(withRequest->Format.SampleRate, 22050u);
    EXPECT_EQ(requested.SampleRate, 22050u) << "the caller's record is copied, not written";

    const auto without = driver.OpenSong(dir / "s.tst", nullptr);
    ASSERT_NE(without, nullptr);
    EXPECT_EQ(plugin.LastRequest().SampleRate, 0u);
    EXPECT_EQ(plugin.LastRequest().Channels, 0u);
}

TEST(DriverOpenSong, DisabledPluginStaysRegisteredButIsNeverOffered)
{
    TempFolder dir;
    TestPlugin disabled(dir / "disabled.kpi", {{"version", "9"}});
    TestSong{}.WriteTo(dir / "s.tst");
    {
        TZoKpiDriver driver;
        driver.CacheFolder = dir.Path();
        driver.OnPluginLoaded = [](TZoKpi&) { return false; };
        driver.LoadFolder(dir.Path());
        ASSERT_EQ(driver.Plugins().size(), 1u);
        EXPECT_EQ(driver.OpenSong(dir / "s.tst", nullptr), nullptr);
        EXPECT_EQ(disabled.Counts().Open, 0);

        TestPlugin enabled(dir / "enabled.kpi", {{"version", "1"}});
        driver.OnPluginLoaded = [](TZoKpi&) { return true; };
        driver.AddPlugin(enabled.Path());
        const auto song = driver.OpenSong(dir / "s.tst", nullptr);
        ASSERT_NE(song, nullptr);
        EXPECT_EQ(song->PluginFileName(), enabled.Path());
    }
    const std::string cache = testsupport::ReadFileBytes(dir / "plugin.cache");
    ASSERT_GT(cache.size(), 16u);
    EXPECT_EQ(cache[16], '\0') << "the disabled plug-in is written with Enabled 0";
}

TEST(DriverCache, WrittenInPreferenceOrderBeforeThePluginsAreShutDown)
{
    TempFolder dir;
    {
        TZoKpiDriver program;
        EXPECT_EQ(program.CachePath(), platform::ExecutableFolder() + "plugin.cache");
        program.CacheFolder = dir.Path(); // tests keep the build folder clean
    }
    fs::create_directories(dir / "plugins/sub");
    TestPlugin low(dir / "plugins/low.kpi", {{"version", "3"}, {"extensions", ".tst"}});
    TestPlugin high(dir / "plugins/sub/high.kpi", {{"version", "5"}, {"extensions", ".mp3,.MP2"}});
    SetLocalFileTime(high.Path(), 2020, 5, 17, 12, 34, 56);
    SetLocalFileTime(low.Path(), 1979, 12, 31, 23, 59, 58);
    testsupport::WriteFileBytes(dir / "plugin.cache", std::string(1000, 'x')); // replaced
    {
        TZoKpiDriver driver;
        driver.CacheFolder = dir.Path();
        driver.OnPluginLoaded = [&](TZoKpi& p) { return p.FileName() == high.Path(); };
        driver.LoadFolder(dir / "plugins");
        EXPECT_EQ(high.Counts().Deinit + low.Counts().Deinit, 0);
    }
    EXPECT_EQ(high.Counts().Deinit, 1);
    EXPECT_EQ(low.Counts().Deinit, 1);
    std::string expected("\x01\x00\x00\x00\x02\x00\x00\x00", 8);
    expected += std::string("\x5C\x64\xB1\x50\x05\x00\x00\x00\x01", 9);
    expected += static_cast<char>(high.Path().size()) + high.Path();
    expected += "\x07MP2/mp3";
    expected += std::string("\xFF\xFF\xFF\xFF\x03\x00\x00\x00\x00", 9);
    expected += static_cast<char>(low.Path().size()) + low.Path();
    expected += "\x03tst";
    EXPECT_EQ(testsupport::ReadFileBytes(dir / "plugin.cache"), expected);
}

TEST(DriverShutdown, UnwritableCacheIsReportedAndPluginsAreStillReleased)
{
    TempFolder dir;
    TestPlugin a(dir / "a.kpi");
    TestPlugin b(dir / "b.kpi");
    // A folder in the cache's place cannot be replaced by a file, whoever runs the test.
    fs::create_directories(dir / "blocked/plugin.cache");
    std::vector<std::string> reported;
    {
        EnablingDriver driver(dir);
        driver.CacheFolder = dir / "blocked";
        driver.LoadFolder(dir.Path());
        EXPECT_THROW(driver.SaveCache(), EZoError);
        driver.OnCacheSaveFailed = [&](const std::string& path) { reported.push_back(path); };
    }
    EXPECT_EQ(reported, (std::vector<std::string>{dir / "blocked/plugin.cache"}));
    EXPECT_EQ(a.Counts().Deinit, 1);
    EXPECT_EQ(b.Counts().Deinit, 1);

    // A missing folder, no handler, and a handler that itself fails: nothing escapes.
    EXPECT_NO_THROW({
        EnablingDriver driver(dir);
        driver.CacheFolder = dir / "missing";
    });
    EXPECT_NO_THROW({
        EnablingDriver driver(dir);
        driver.CacheFolder = dir / "missing";
        driver.OnCacheSaveFailed = [](const std::string&) { throw std::runtime_error("log"); };
    });
    EXPECT_FALSE(fs::exists(dir / "missing"));
}

TEST(DriverShutdown, CacheReplacesAPipeOrALinkInItsPlaceWithoutWaitingOrWritingThrough)
{
    TempFolder dir;
    TestPlugin a(dir / "a.kpi");
    // A pipe would block an ordinary write until somebody reads it.
    ASSERT_EQ(::mkfifo((dir / "plugin.cache").c_str(), 0600), 0);
    {
        EnablingDriver driver(dir);
        driver.LoadFolder(dir.Path());
    }
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(dir / "plugin.cache")));
    const std::string written = testsupport::ReadFileBytes(dir / "plugin.cache");
    EXPECT_EQ(written.substr(0, 8), std::string("\1\0\0\0\1\0\0\0", 8));

    // A link: its target is left as it was, and the link becomes the cache.
    fs::remove(dir / "plugin.cache");
    testsupport::WriteFileBytes(dir / "precious", "keep me");
    fs::create_symlink(dir / "precious", dir / "plugin.cache");
    {
        EnablingDriver driver(dir);
        driver.LoadFolder(dir.Path());
    }
    EXPECT_EQ(testsupport::ReadFileBytes(dir / "precious"), "keep me");
    EXPECT_FALSE(fs::is_symlink(dir / "plugin.cache"));
    EXPECT_EQ(testsupport::ReadFileBytes(dir / "plugin.cache"), written);
    // Nothing is left behind beside it.
    int entries = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(dir.Path()))
        ++entries;
    EXPECT_EQ(entries, 4); // a.kpi, a.kpi.conf, precious, plugin.cache
}
