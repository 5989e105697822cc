// Plug-ins served by host processes, through the driver as the program uses it: the same songs,
// records, cache and failures as the plug-in loaded into the program; hosts started once and
// kept; and a plug-in that crashes, hangs or scribbles on its replies costing one song and
// nothing more. Each case runs for every hosting this test program was built for: the native
// host, and the Windows hosts under Wine.
#include "kpi/KpiHostedPlugin.h"
#include "kpi/kpiDriver.h"
#include "platform/FileSystem.h"
#include "tests/support/Hosting.h"
#include "tests/support/ScopedEnvironment.h"
#include "tests/support/TempFolder.h"
#include "tests/testplugin/TestPluginHost.h"
#include "texts/Texts.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <ctime>
#include <filesystem>

namespace fs = std::filesystem;
using testkpi::TestPlugin;
using testkpi::TestSong;
using testsupport::Hosting;
using testsupport::TempFolder;

namespace {

using Clock = std::chrono::steady_clock;

std::string Render(TZoSong& song, uint32_t blockSize)
{
    std::string bytes;
    std::string block(blockSize, '\0');
    for (int guard = 0; guard < 100000; ++guard) {
        const uint32_t n = song.Render(reinterpret_cast<uint8_t*>(block.data()), blockSize);
        bytes.append(block, 0, n);
        if (n < blockSize)
            break;
    }
    return bytes;
}

bool SameFormat(const SoundFormat& a, const SoundFormat& b)
{
    return a.SampleRate == b.SampleRate && a.Channels == b.Channels &&
           a.BitsPerSample == b.BitsPerSample && a.LengthMs == b.LengthMs &&
           a.UnitRenderSize == b.UnitRenderSize && a.Endless == b.Endless &&
           a.MultiSong == b.MultiSong;
}

void SetFileYear(const std::string& path, int year)
{
    std::tm local{};
    local.tm_year = year - 1900;
    local.tm_mon = 5;
    local.tm_mday = 1;
    local.tm_isdst = -1;
    const timespec times[2] = {{std::mktime(&local), 0}, {std::mktime(&local), 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

class HostedDriver : public ::testing::TestWithParam<Hosting> {
protected:
    void SetUp() override
    {
        PELLAN_SKIP_UNLESS_HOSTING_RUNS(GetParam());
        if (GetParam() != Hosting::Isolated) {
            ASSERT_FALSE(testsupport::RequireWinePrefix().empty());
        }
    }

    // A copy of the hosting's build of the test plug-in, publishing its counts.
    TestPlugin& Plugin(const std::string& name, std::map<std::string, std::string> conf = {})
    {
        conf["publish"] = "1";
        plugins.push_back(
            std::make_unique<TestPlugin>(dir / name, conf, testsupport::VariantOf(GetParam())));
        return *plugins.back();
    }
    // A driver of hosted plug-ins that enables all of them and writes its cache here.
    std::unique_ptr<TZoKpiDriver> Driver(std::chrono::milliseconds timeLimit = {})
    {
        auto driver = std::make_unique<TZoKpiDriver>();
        driver->CacheFolder = dir.Path();
        driver->IsolateNativePlugins = GetParam() == Hosting::Isolated;
        if (timeLimit.count() > 0)
            driver->HostSettings.CallTimeLimit = timeLimit;
        driver->OnPluginLoaded = [](TZoKpi&) { return true; };
        driver->OnPluginLoadFailed = [this](const std::string& name, const std::string& reason) {
            failures.push_back(fs::path(name).filename().string() + ": " + reason);
        };
        return driver;
    }
    std::string Song(const std::string& name, TestSong song = TestSong{},
                     const std::string& extra = "")
    {
        song.Extra += extra;
        song.WriteTo(dir / name);
        return dir / name;
    }
    // The same song rendered by the native plug-in loaded into this process.
    std::string Reference(const std::string& songPath, const SoundFormat* requested, uint32_t seek,
                          uint32_t blockSize, SoundFormat& format)
    {
        const std::string path = reference / ("ref" + std::to_string(++references) + ".kpi");
        TestPlugin keep(path);
        TZoKpi plugin(path);
        auto song = requested ? std::make_unique<TZoSong>(songPath, plugin, *requested)
                              : std::make_unique<TZoSong>(songPath, plugin);
        format = song->Format;
        if (seek > 0)
            song->Seek(seek);
        return Render(*song, blockSize);
    }

    TempFolder dir;
    TempFolder reference;
    int references = 0;
    std::vector<std::unique_ptr<TestPlugin>> plugins;
    std::vector<std::string> failures;
};

std::string HostingName(const ::testing::TestParamInfo<Hosting>& info)
{
    return testsupport::NameOf(info.param);
}

} // namespace

TEST_P(HostedDriver, SongsComeOutWithTheBytesOfThePluginInTheProgram)
{
    Plugin("p.kpi");
    struct Case {
        std::string name;
        TestSong song;
        bool request = false;
        uint32_t seek = 0;
    };
    std::vector<Case> cases(5);
    cases[0].name = "plain.tst";
    cases[1].name = "narrow.tst";
    cases[1].song.Rate = 22050;
    cases[1].song.Channels = 1;
    cases[1].song.Bits = 8;
    cases[1].song.Pattern = "const";
    cases[1].song.Value = 200;
    cases[2].name = "odd.tst";
    cases[2].song.Channels = 6;
    cases[2].song.Bits = 24;
    cases[2].song.Unit = 3001; // not a whole number of frames
    cases[2].song.Frames = "12345";
    cases[3].name = "multi.tst";
    cases[3].song.Songs = 3;
    cases[3].seek = 2;
    cases[4].name = "asked.tst";
    cases[4].song.Rate = 0; // takes the requested rate
    cases[4].request = true;

    auto driver = Driver();
    driver->LoadFolder(dir.Path());
    ASSERT_EQ(driver->Plugins().size(), 1u) << testing::PrintToString(failures);
    ASSERT_NE(driver->Plugins()[0]->Hosted(), nullptr);
    SoundFormat requested{};
    requested.SampleRate = 48000;
    requested.Channels = 2;
    requested.BitsPerSample = 16;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = Song(c.name, c.song);
        SoundFormat expectedFormat{};
        const uint32_t block = c.song.Unit != 0 ? c.song.Unit : 8192;
        const std::string expected =
            Reference(path, c.request ? &requested : nullptr, c.seek, block, expectedFormat);
        const auto song = driver->OpenSong(path, c.request ? &requested : nullptr);
        ASSERT_NE(song, nullptr);
        ASSERT_NE(song->Handle, 0u);
        EXPECT_TRUE(SameFormat(song->Format, expectedFormat));
        if (c.seek > 0)
            song->Seek(c.seek);
        const std::string bytes = Render(*song, block);
        EXPECT_EQ(bytes.size(), expected.size());
        EXPECT_TRUE(bytes == expected);
        EXPECT_TRUE(song->Ended);
    }

    // Blocks of changing sizes still give the song's bytes in order, and end where it ends.
    const std::string path = Song("mixed.tst");
    SoundFormat format{};
    const std::string expected = Reference(path, nullptr, 0, 8192, format);
    const auto song = driver->OpenSong(path, nullptr);
    ASSERT_NE(song, nullptr);
    std::string bytes;
    const uint32_t sizes[] = {8192, 1000, 8192, 3, 20000, 8192};
    std::string block(20000, '\0');
    for (size_t i = 0; !song->Ended; ++i) {
        const uint32_t size = sizes[i % std::size(sizes)];
        bytes.append(block, 0, song->Render(reinterpret_cast<uint8_t*>(block.data()), size));
    }
    EXPECT_TRUE(bytes == expected);
}

// Plays song as a program might: three blocks, a seek to second 2, blocks up to 1.5 MB, then
// blocks of changing sizes up to the end. Every byte, in order.
std::string PlayAround(TZoSong& song)
{
    std::string bytes;
    std::string block(20000, '\0');
    const auto render = [&](uint32_t size) {
        const uint32_t n = song.Render(reinterpret_cast<uint8_t*>(block.data()), size);
        bytes.append(block, 0, n);
        return n == size;
    };
    for (int i = 0; i < 3; ++i)
        render(8192);
    song.Seek(2);
    while (bytes.size() < 1500000 && render(8192)) {
    }
    const uint32_t sizes[] = {5000, 20000, 8192};
    for (size_t i = 0; !song.Ended; ++i)
        render(sizes[i % 3]);
    return bytes;
}

TEST_P(HostedDriver, LongSongsMoveInBatchesWithoutLosingOrRepeatingAByte)
{
    Plugin("long.kpi");
    auto driver = Driver();
    driver->LoadFolder(dir.Path());
    TestSong longSong;
    longSong.Frames = "700000"; // 2.8 MB: several batches
    const std::string path = Song("long.tst", longSong);

    TestPlugin native(reference / "long.kpi");
    TZoKpi inProgram(native.Path());
    TZoSong expectedSong(path, inProgram);
    const std::string expected = PlayAround(expectedSong);
    auto song = driver->OpenSong(path, nullptr);
    ASSERT_NE(song->Handle, 0u);
    EXPECT_TRUE(PlayAround(*song) == expected);
    EXPECT_GT(expected.size(), 2000000u);

    // A song let go while its next batch is on its way.
    song = driver->OpenSong(path, nullptr);
    uint8_t block[8192];
    EXPECT_EQ(song->Render(block, sizeof block), sizeof block);
    TZoKpi& plugin = song->Plugin;
    song.reset();
    EXPECT_EQ(plugin.OpenCount(), 0);
    song = driver->OpenSong(path, nullptr);
    EXPECT_TRUE(Render(*song, 8192) == Render(*std::make_unique<TZoSong>(path, inProgram), 8192));
}

TEST_P(HostedDriver, RegistrationAndCacheAreThoseOfThePluginsInTheProgram)
{
    // The same three plug-ins, once as the native build in the program and once hosted, in
    // folders whose paths have the same length.
    struct Entry {
        std::string name, version, extensions;
        int year;
    };
    const std::vector<Entry> entries = {{"low.kpi", "3", ".tst,.MP3,.mp3", 2001},
                                        {"high.kpi", "5", ".xyz,.a b", 2010},
                                        {"newer.kpi", "3", ".", 2020}};
    fs::create_directories(dir / "native");
    fs::create_directories(dir / "hosted");
    for (const Entry& e : entries) {
        TestPlugin native(dir / ("native/" + e.name),
                          {{"version", e.version}, {"extensions", e.extensions}});
        Plugin("hosted/" + e.name, {{"version", e.version}, {"extensions", e.extensions}});
        SetFileYear(dir / ("native/" + e.name), e.year);
        SetFileYear(dir / ("hosted/" + e.name), e.year);
    }
    fs::create_directories(dir / "cache-native");
    fs::create_directories(dir / "cache-hosted");
    std::vector<std::string> orders[2];
    for (int hosted = 0; hosted < 2; ++hosted) {
        auto driver = Driver();
        driver->IsolateNativePlugins = hosted == 1 && GetParam() == Hosting::Isolated;
        driver->CacheFolder = dir / (hosted ? "cache-hosted" : "cache-native");
        driver->LoadFolder(dir / (hosted ? "hosted" : "native"));
        for (const auto& plugin : driver->Plugins()) {
            EXPECT_EQ(plugin->Hosted() != nullptr, hosted == 1);
            orders[hosted].push_back(fs::path(plugin->FileName()).filename().string() + " " +
                                     plugin->ExtensionText());
        }
        if (hosted) {
            EXPECT_EQ(driver->AllExtensions(),
                      (std::vector<std::string>{"", "a b", "MP3", "tst", "xyz"}));
        }
    }
    EXPECT_TRUE(failures.empty()) << testing::PrintToString(failures);
    EXPECT_EQ(orders[1], orders[0]);
    EXPECT_EQ(orders[1], (std::vector<std::string>{"high.kpi \"a b\"/xyz", "newer.kpi \"\"",
                                                   "low.kpi MP3/mp3/tst"}));
    std::string native = testsupport::ReadFileBytes(dir / "cache-native/plugin.cache");
    for (size_t at = native.find(dir / "native"); at != std::string::npos;
         at = native.find(dir / "native", at))
        native.replace(at, (dir / "native").size(), dir / "hosted");
    EXPECT_TRUE(testsupport::ReadFileBytes(dir / "cache-hosted/plugin.cache") == native);
}

TEST_P(HostedDriver, LoadFailuresGiveTheReasonsOfALoadInTheProgram)
{
    const std::vector<std::map<std::string, std::string>> confs = {{{"interface", "99"}},
                                                                   {{"module", "nil"}},
                                                                   {{"extensions", "nil"}},
                                                                   {{"nil_entry", "Render"}}};
    std::vector<std::string> expected;
    for (size_t i = 0; i < confs.size(); ++i) {
        const std::string name = "bad" + std::to_string(i) + ".kpi";
        TestPlugin native(reference / name, confs[i]);
        try {
            TZoKpi plugin(native.Path());
            ADD_FAILURE() << name << " loaded";
        } catch (const EKpiLoadFailed& e) {
            expected.push_back(name + ": " + e.Reason);
        }
        Plugin(name, confs[i]);
    }
    auto driver = Driver();
    driver->LoadFolder(dir.Path());
    EXPECT_TRUE(driver->Plugins().empty());
    std::sort(failures.begin(), failures.end());
    EXPECT_EQ(failures, expected);
    // One loader host read them all.
    ASSERT_NE(driver->HostPool(), nullptr);
    EXPECT_EQ(driver->HostPool()->StartedHosts(), 1);
}

TEST_P(HostedDriver, APluginThatCrashesWhileLoadingIsALoadFailureAndTheScanGoesOn)
{
    TestPlugin& crashes = Plugin("a-crashes.kpi", {{"crash", "init"}, {"extensions", ".bad"}});
    TestPlugin& works = Plugin("b-works.kpi");
    auto driver = Driver();
    driver->AddPlugin(crashes.Path());
    driver->AddPlugin(works.Path());
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_EQ(failures[0].rfind("a-crashes.kpi: " + txt::Format(txt::Id::HostFailedOnPlugin,
                                                                {txt::Text(txt::Id::HostEnded)}),
                                0),
              0u)
        << failures[0];
    ASSERT_EQ(driver->Plugins().size(), 1u);
    // The loader died with the first plug-in; a fresh one read the second.
    EXPECT_EQ(driver->HostPool()->StartedHosts(), 2);
    const auto song = driver->OpenSong(Song("s.tst"), nullptr);
    EXPECT_NE(song->Handle, 0u);
}

TEST_P(HostedDriver, OneHostReadsTheFolderAndEachPluginKeepsItsHostForItsSongs)
{
    TestPlugin& first = Plugin("first.kpi", {{"version", "2"}, {"extensions", ".tst"}});
    TestPlugin& second = Plugin("second.kpi", {{"extensions", ".two"}});
    Plugin("third.kpi", {{"extensions", ".three"}});
    {
        auto driver = Driver();
        driver->LoadFolder(dir.Path());
        ASSERT_EQ(driver->Plugins().size(), 3u);
        const TZoKpiHostPool& pool = *driver->HostPool();
        EXPECT_EQ(pool.StartedHosts(), 1) << "a folder costs one host start";

        int64_t servedBy = -1;
        for (int i = 0; i < 3; ++i) {
            const auto song = driver->OpenSong(Song("s" + std::to_string(i) + ".tst"), nullptr);
            ASSERT_NE(song, nullptr);
            ASSERT_NE(song->Handle, 0u);
            Render(*song, 8192);
            const int64_t pid = song->Plugin.Hosted()->ServingProcessId();
            if (i > 0) {
                EXPECT_EQ(pid, servedBy) << "the same host serves the plug-in's next song";
            }
            servedBy = pid;
        }
        // The loader became the first plug-in's host; the second plug-in starts its own.
        EXPECT_EQ(pool.StartedHosts(), 1);
        const auto other = driver->OpenSong(Song("s.two"), nullptr);
        ASSERT_NE(other, nullptr);
        EXPECT_NE(other->Handle, 0u);
        EXPECT_EQ(pool.StartedHosts(), 2);
        EXPECT_NE(other->Plugin.Hosted()->ServingProcessId(), servedBy);
    }
    // The driver is gone: every serving host ran its plug-in's Deinit on the way out.
    const testkpi::PublishedCounts served = first.ServingProcess();
    EXPECT_EQ(served.Counts.Open, 3);
    // The host placed each song at 0 as part of its open; that move is not made twice.
    EXPECT_EQ(served.Counts.SetPosition, 3);
    EXPECT_EQ(served.Counts.Close, 3);
    EXPECT_EQ(served.Counts.Init, 1);
    EXPECT_EQ(served.Counts.Deinit, 1);
    EXPECT_EQ(second.ServingProcess().Counts.Deinit, 1);
}

TEST_P(HostedDriver, EverySongOpenAtOnceHasAProcessOfItsOwnReentrantOrNot)
{
    TestPlugin& single = Plugin("single.kpi", {{"reentrant", "0"}, {"extensions", ".one"}});
    TestPlugin& many = Plugin("many.kpi", {{"reentrant", "1"}, {"extensions", ".tst"}});
    {
        auto driver = Driver();
        driver->LoadFolder(dir.Path());
        auto a = driver->OpenSong(Song("a.one"), nullptr);
        ASSERT_NE(a, nullptr);
        ASSERT_NE(a->Handle, 0u);
        EXPECT_TRUE(a->Plugin.CanOpenSong()) << "a second song waits for no one: it gets a host";
        auto b = driver->OpenSong(Song("b.one"), nullptr);
        ASSERT_NE(b, nullptr);
        ASSERT_NE(b->Handle, 0u);
        TZoKpiHostedPlugin& hosted = *a->Plugin.Hosted();
        EXPECT_NE(hosted.ServingProcessId(a->Handle), hosted.ServingProcessId(b->Handle));
        // Both play at once, each with its own bytes.
        Render(*a, 4096);
        Render(*b, 4096);
        // The host that a closed song leaves idle takes the next song; nothing else starts.
        const int64_t aHost = hosted.ServingProcessId(a->Handle);
        a.reset();
        const auto c = driver->OpenSong(Song("c.one"), nullptr);
        ASSERT_NE(c->Handle, 0u);
        EXPECT_EQ(hosted.ServingProcessId(c->Handle), aHost);
        EXPECT_EQ(hosted.ServingHosts(), 2);

        const auto d = driver->OpenSong(Song("d.tst"), nullptr);
        const auto e = driver->OpenSong(Song("e.tst"), nullptr);
        EXPECT_NE(d->Handle, 0u);
        EXPECT_NE(e->Handle, 0u);
        // A reentrant plug-in's songs too: one song's crash or hang never reaches the other.
        EXPECT_NE(d->Plugin.Hosted()->ServingProcessId(d->Handle),
                  e->Plugin.Hosted()->ServingProcessId(e->Handle));
    }
    for (TestPlugin* plugin : {&single, &many}) {
        int opened = 0;
        for (const auto& p : plugin->Published()) {
            EXPECT_LE(p.Counts.MaxOpenNow, 1) << "process " << p.Process;
            opened += p.Counts.Open;
        }
        EXPECT_EQ(opened, plugin == &single ? 3 : 2);
    }
}

TEST_P(HostedDriver, ACrashInOpenCostsThatSongAndTheNextSongGetsAFreshHost)
{
    Plugin("crash.kpi");
    auto driver = Driver();
    driver->LoadFolder(dir.Path());
    const std::string crashPath = Song("crash.tst", TestSong{}, "crash=open\n");
    SoundFormat requested{};
    requested.SampleRate = 32000;
    requested.Channels = 2;
    requested.BitsPerSample = 16;
    const auto crashed = driver->OpenSong(crashPath, &requested);
    ASSERT_NE(crashed, nullptr);
    EXPECT_EQ(crashed->Handle, 0u);
    EXPECT_EQ(crashed->Format.SampleRate, 32000u) << "the format stays as it was asked";
    TZoKpi& plugin = crashed->Plugin;
    EXPECT_NE(plugin.Hosted()->LastFailure().find(txt::Text(txt::Id::HostEnded)), std::string::npos)
        << plugin.Hosted()->LastFailure();
    // The host's end is the reason the open failed.
    EXPECT_EQ(crashed->OpenFailure, plugin.Hosted()->LastFailure());
    EXPECT_EQ(plugin.OpenCount(), 0);

    SoundFormat format{};
    const std::string path = Song("good.tst");
    const std::string expected = Reference(path, nullptr, 0, 8192, format);
    const auto good = driver->OpenSong(path, nullptr);
    ASSERT_NE(good->Handle, 0u);
    EXPECT_TRUE(Render(*good, 8192) == expected);
}

TEST_P(HostedDriver, SongInformationAndTheReasonOfAFailedOpenCrossTheHostInUtf8)
{
    // A Windows plug-in writes its ANSI code page, a Western one in this locale: "é" is the
    // byte E9 there. The program gets UTF-8 either way.
    testsupport::ScopedEnvironment locale;
    locale.Set("LANG", "C.UTF-8");
    locale.Set("LC_ALL", "C.UTF-8");
    const std::string cafe = GetParam() == Hosting::Isolated ? "Café" : "Caf\xE9";
    Plugin("p.kpi");
    auto driver = Driver();
    driver->LoadFolder(dir.Path());
    ASSERT_EQ(driver->Plugins().size(), 1u) << testing::PrintToString(failures);
    EXPECT_TRUE(driver->Plugins()[0]->HasSongInfo());
    EXPECT_TRUE(driver->Plugins()[0]->HasOpenError());

    TestSong multi;
    multi.Songs = 2;
    const auto song = driver->OpenSong(
        Song("tagged.tst", multi, "title=" + cafe + "\ntitle.2=Second\nartist=A\ncopyright=1987\n"),
        nullptr);
    ASSERT_NE(song->Handle, 0u);
    const TZoSongInfo info = song->Info();
    EXPECT_EQ(info.Title, "Café");
    EXPECT_EQ(info.Artist, "A");
    EXPECT_EQ(info.Album, "");
    EXPECT_EQ(info.Copyright, "1987");
    song->Seek(2);
    EXPECT_EQ(song->Info().Title, "Second");

    TestSong refused;
    refused.OpenMode = "refuse";
    const auto failed = driver->OpenSong(
        Song("refused.tst", refused, "open_error=" + cafe + " is damaged at byte 9\n"), nullptr);
    EXPECT_EQ(failed->Handle, 0u);
    EXPECT_EQ(failed->OpenFailure, "Café is damaged at byte 9");
}

TEST_P(HostedDriver, ACrashInRenderEndsTheSongWithAnErrorNamingThePlugin)
{
    Plugin("crashy.kpi");
    auto driver = Driver();
    driver->LoadFolder(dir.Path());
    const std::string path = Song("crash.tst", TestSong{}, "crash=render\n");
    auto song = driver->OpenSong(path, nullptr);
    ASSERT_NE(song->Handle, 0u);
    uint8_t block[8192];
    try {
        song->Render(block, sizeof block);
        ADD_FAILURE() << "the render of a crashed host returned";
    } catch (const EZoError& e) {
        EXPECT_NE(std::string(e.what()).find("crashy.kpi"), std::string::npos) << e.what();
    }
    // The song goes as any song does, and the next one plays.
    TZoKpi& plugin = song->Plugin;
    song.reset();
    EXPECT_EQ(plugin.OpenCount(), 0);
    SoundFormat format{};
    const std::string good = Song("good.tst");
    const std::string expected = Reference(good, nullptr, 0, 8192, format);
    const auto next = driver->OpenSong(good, nullptr);
    ASSERT_NE(next->Handle, 0u);
    EXPECT_TRUE(Render(*next, 8192) == expected);
}

TEST_P(HostedDriver, ACallThatDoesNotAnswerIsCutOffAtTheTimeLimit)
{
    Plugin("slow.kpi");
    auto driver = Driver(std::chrono::milliseconds(1500));
    driver->LoadFolder(dir.Path());
    const std::string hangsInRender = Song("render.tst", TestSong{}, "hang=render\n");
    const std::string hangsInOpen = Song("open.tst", TestSong{}, "hang=open\n");

    auto song = driver->OpenSong(hangsInRender, nullptr);
    ASSERT_NE(song->Handle, 0u);
    uint8_t block[8192];
    const auto start = Clock::now();
    try {
        song->Render(block, sizeof block);
        ADD_FAILURE() << "a hung render returned";
    } catch (const EZoError& e) {
        EXPECT_NE(e.Reason().find(txt::Format(txt::Id::HostNoAnswer, {"1500 ms"})),
                  std::string::npos)
            << e.Reason();
    }
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(1500));
    song.reset();

    const auto stuck = driver->OpenSong(hangsInOpen, nullptr);
    EXPECT_EQ(stuck->Handle, 0u);
    const auto next = driver->OpenSong(Song("good.tst"), nullptr);
    EXPECT_NE(next->Handle, 0u);
}

TEST_P(HostedDriver, RepliesThatBreakTheProtocolFailTheCallAndNothingElse)
{
    Plugin("scribbler.kpi");
    auto driver = Driver();
    driver->LoadFolder(dir.Path());
    const std::string atOpen = Song("open.tst", TestSong{}, "garbage=open\n");
    const std::string atRender = Song("render.tst", TestSong{}, "garbage=render\n");

    const auto refused = driver->OpenSong(atOpen, nullptr);
    EXPECT_EQ(refused->Handle, 0u);
    // Whatever kind the junk makes of it.
    const std::string wrongKind = txt::Text(txt::Id::HostWrongMessage);
    EXPECT_NE(
        refused->Plugin.Hosted()->LastFailure().find(wrongKind.substr(0, wrongKind.find('%'))),
        std::string::npos)
        << refused->Plugin.Hosted()->LastFailure();

    const auto song = driver->OpenSong(atRender, nullptr);
    ASSERT_NE(song->Handle, 0u);
    uint8_t block[8192];
    EXPECT_THROW(
        {
            try {
                song->Render(block, sizeof block);
            } catch (const EZoError& e) {
                EXPECT_NE(e.Reason().find("longer than asked"), std::string::npos) << e.Reason();
                throw;
            }
        },
        EZoError);

    // A plug-in that prints on standard output does not reach the replies.
    const std::string chatty = Song("chatty.tst", TestSong{}, "chatter=1\n");
    SoundFormat format{};
    const std::string expected = Reference(chatty, nullptr, 0, 8192, format);
    const auto talks = driver->OpenSong(chatty, nullptr);
    ASSERT_NE(talks->Handle, 0u);
    EXPECT_TRUE(Render(*talks, 8192) == expected);
}

TEST_P(HostedDriver, ThePluginGetsTheFileNameItWouldGetInItsOwnSystem)
{
    TestPlugin& plugin = Plugin("names.kpi");
    auto driver = Driver();
    driver->LoadFolder(dir.Path());
    Song("song.tst");
    ASSERT_TRUE(platform::SetCurrentFolder(dir.Path()));
    const auto song = driver->OpenSong("song.tst", nullptr);
    ASSERT_NE(song->Handle, 0u);
    std::string expected = "song.tst";
    if (GetParam() != Hosting::Isolated) {
        // Wine's DOS name of the file: the root drive, backslashes, in the ANSI code page.
        expected = "Z:" + (dir / "song.tst");
        std::replace(expected.begin(), expected.end(), '/', '\\');
    }
    EXPECT_EQ(plugin.ServingProcess().LastOpenName, expected);
}

// Calls as a window program on Windows makes them: Render from a decoder thread, everything
// else from the host's main thread. Then, in the Windows hosts, plug-ins that rely on that
// thread being a window thread: one that creates a COM object in Open, one whose Render waits
// until the main thread has dispatched its window's timer, and a 32-bit one that holds more than
// 2 GB. Each gives the bytes of the plain song.
TEST_P(HostedDriver, PluginsGetTheirCallsOnTheThreadsOfAWindowProgram)
{
    TestPlugin& plugin = Plugin("windowish.kpi");
    auto driver = Driver();
    driver->LoadFolder(dir.Path());
    TestSong plain;
    plain.Frames = "30000";
    SoundFormat format{};
    const std::string expected = Reference(Song("plain.tst", plain), nullptr, 0, 8192, format);
    {
        const auto song = driver->OpenSong(dir / "plain.tst", nullptr);
        ASSERT_NE(song->Handle, 0u);
        song->Seek(0);
        EXPECT_TRUE(Render(*song, 8192) == expected);
    }
    const TestKpiCounts counts = plugin.ServingProcess().Counts;
    EXPECT_GT(counts.Render, 0);
    EXPECT_EQ(counts.Close, 1);
    EXPECT_EQ(counts.CallsOffMainThread, 0);
    EXPECT_EQ(counts.RendersOnMainThread, 0);

    if (GetParam() == Hosting::Isolated)
        return; // COM, windows and a 32-bit address space are the Windows builds' cases
    std::vector<std::string> behaviours = {"com=open\n", "window=timer\n",
                                           "com=open\nwindow=timer\n"};
    if (GetParam() == Hosting::Windows32)
        behaviours.push_back("hold_mb=2600\n");
    for (size_t i = 0; i < behaviours.size(); ++i) {
        SCOPED_TRACE(behaviours[i]);
        const auto song = driver->OpenSong(
            Song("song" + std::to_string(i) + ".tst", plain, behaviours[i]), nullptr);
        ASSERT_NE(song->Handle, 0u) << song->OpenFailure;
        EXPECT_TRUE(Render(*song, 8192) == expected);
    }
}

#ifdef PELLAN_WINE_TESTS
INSTANTIATE_TEST_SUITE_P(Wine, HostedDriver,
                         ::testing::Values(Hosting::Windows64, Hosting::Windows32), HostingName);
#else
INSTANTIATE_TEST_SUITE_P(Native, HostedDriver, ::testing::Values(Hosting::Isolated), HostingName);
#endif
