// Windows plug-ins under Wine: file names with Japanese characters reach a plug-in in the ANSI
// code page, or as short 8.3 names when the code page cannot hold them; a plug-in that does not
// load says why in words the user can act on; a 32-bit DLL goes to the 32-bit host.
#include "kpi/KpiHostedPlugin.h"
#include "kpi/kpiDriver.h"
#include "tests/support/Hosting.h"
#include "tests/support/ScopedEnvironment.h"
#include "tests/support/TempFolder.h"
#include "tests/testplugin/TestPluginHost.h"

#include <gtest/gtest.h>
#include <iconv.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <optional>

namespace fs = std::filesystem;
using testkpi::TestPlugin;
using testkpi::TestSong;
using testsupport::Hosting;
using testsupport::TempFolder;

namespace {

std::string ToShiftJis(const std::string& utf8)
{
    iconv_t convert = ::iconv_open("SHIFT_JIS", "UTF-8");
    std::string in = utf8;
    std::string out(in.size() * 2 + 16, '\0');
    char* from = in.data();
    char* to = out.data();
    size_t fromLeft = in.size(), toLeft = out.size();
    const size_t done = ::iconv(convert, &from, &fromLeft, &to, &toLeft);
    ::iconv_close(convert);
    EXPECT_NE(done, static_cast<size_t>(-1));
    out.resize(out.size() - toLeft);
    return out;
}

class WineNames : public ::testing::TestWithParam<Hosting> {
protected:
    void SetUp() override
    {
        PELLAN_SKIP_UNLESS_HOSTING_RUNS(GetParam());
        ASSERT_FALSE(testsupport::RequireWinePrefix().empty());
        fs::create_directories(dir / "日本語フォルダ");
        song.Frames = "30000";
        song.WriteTo(songPath);
    }

    // Converts the song through a fresh driver (its hosts start with the environment of the
    // moment) and returns the name the plug-in was given.
    std::string Convert()
    {
        const std::string name = "p" + std::to_string(++plugins) + ".kpi";
        TestPlugin plugin(dir / name, {{"publish", "1"}}, testsupport::VariantOf(GetParam()));
        {
            TZoKpiDriver driver;
            driver.CacheFolder = dir.Path();
            driver.OnPluginLoaded = [](TZoKpi&) { return true; };
            driver.AddPlugin(plugin.Path());
            const auto opened = driver.OpenSong(songPath, nullptr);
            EXPECT_NE(opened, nullptr);
            if (!opened)
                return "";
            EXPECT_NE(opened->Handle, 0u) << "the plug-in could not open the file by that name";
            std::string bytes(30000 * 4, '\0');
            EXPECT_EQ(opened->Render(reinterpret_cast<uint8_t*>(bytes.data()), bytes.size() + 4),
                      bytes.size());
            const std::vector<uint8_t> expected = testkpi::ExpectedPcm(song, 0, 0, bytes.size());
            EXPECT_TRUE(std::equal(expected.begin(), expected.end(),
                                   reinterpret_cast<const uint8_t*>(bytes.data())));
        }
        return plugin.ServingProcess().LastOpenName;
    }

    TempFolder dir;
    TestSong song;
    std::string songPath = dir / "日本語フォルダ/曲名テスト.tst";
    int plugins = 0;
};

std::string HostingName(const ::testing::TestParamInfo<Hosting>& info)
{
    return testsupport::NameOf(info.param);
}

} // namespace

TEST_P(WineNames, AJapaneseNameGoesInShiftJisWhereTheCodePageIsJapanese)
{
    // A Japanese locale for Wine's processes, made in the test folder: the system need not
    // have one installed.
    const std::string locales = dir / "locales";
    fs::create_directories(locales);
    ASSERT_EQ(
        std::system(("localedef -i ja_JP -f UTF-8 '" + locales + "/ja_JP.UTF-8' 2>&1").c_str()), 0)
        << "localedef (Debian's locales package) makes the Japanese locale for this test";
    // The hosts started meanwhile get them.
    testsupport::ScopedEnvironment environment;
    environment.Set("LOCPATH", locales);
    environment.Set("LANG", "ja_JP.UTF-8");
    environment.Set("LC_ALL", "ja_JP.UTF-8");
    std::string dosName = "Z:" + songPath;
    std::replace(dosName.begin(), dosName.end(), '/', '\\');
    EXPECT_EQ(Convert(), ToShiftJis(dosName));
}

TEST_P(WineNames, ANameTheCodePageCannotHoldGoesAsItsShortName)
{
    testsupport::ScopedEnvironment environment;
    environment.Set("LANG", "C.UTF-8");
    environment.Set("LC_ALL", "C.UTF-8");
    const std::string name = Convert();
    // Western code page: the Japanese folder and file go by their 8.3 names, which the plug-in
    // opened (Convert checked the bytes).
    ASSERT_FALSE(name.empty());
    EXPECT_EQ(name.rfind("Z:\\", 0), 0u) << name;
    EXPECT_TRUE(std::all_of(name.begin(), name.end(), [](char c) {
        return static_cast<unsigned char>(c) < 0x80;
    })) << name;
    EXPECT_NE(name.find('~'), std::string::npos) << name;
    const std::string tail = name.substr(name.rfind('\\') + 1);
    EXPECT_LE(tail.size(), 12u) << name;
}

// Why a plug-in file fails to load under Wine ("" when it loads).
std::string WineLoadFailure(const std::string& path, const std::string& cacheFolder)
{
    TZoKpiDriver driver;
    driver.CacheFolder = cacheFolder;
    driver.OnPluginLoaded = [](TZoKpi&) { return true; };
    std::string reason;
    driver.OnPluginLoadFailed = [&](const std::string&, const std::string& why) { reason = why; };
    driver.AddPlugin(path);
    return reason;
}

TEST_P(WineNames, ALoadFailureNamesTheMissingDllOrTheFileTheLoaderSpeaksOf)
{
    const std::string built = std::string(GetParam() == Hosting::Windows32 ? "win32/" : "win64/");
    // A plug-in built against a DLL of its own, without that DLL, then with it beside it.
    fs::copy_file(testkpi::BuiltPluginPath(built + "helper/helperuser.kpi"), dir / "user.kpi");
    EXPECT_EQ(WineLoadFailure(dir / "user.kpi", dir.Path()),
              "kpihelper.dll が必要ですが、インストールされていません (Wine "
              "のプレフィックスにインストールするか、プラグインと同じフォルダに置いてください)");
    fs::copy_file(testkpi::BuiltPluginPath(built + "helper/kpihelper.dll"), dir / "kpihelper.dll");
    EXPECT_EQ(WineLoadFailure(dir / "user.kpi", dir.Path()), "");
    // A DLL cut off after its headers: the loader's text names the file in its placeholder.
    const std::string dll =
        testsupport::ReadFileBytes(testkpi::BuiltPluginPath(built + "testplugin.kpi"));
    testsupport::WriteFileBytes(dir / "damaged.kpi", dll.substr(0, 1024));
    const std::string damaged = WineLoadFailure(dir / "damaged.kpi", dir.Path());
    EXPECT_EQ(damaged.find("%1"), std::string::npos) << damaged;
    EXPECT_NE(damaged.find("damaged.kpi"), std::string::npos) << damaged;
}

INSTANTIATE_TEST_SUITE_P(Wine, WineNames, ::testing::Values(Hosting::Windows64, Hosting::Windows32),
                         HostingName);

TEST(WineHosts, A32BitDllGoesToThe32BitHost)
{
    ASSERT_FALSE(testsupport::RequireWinePrefix().empty());
    TempFolder dir;
    TestPlugin plugin(dir / "old.kpi", {}, testkpi::kWindows32Variant);
    TZoKpiDriver driver;
    driver.CacheFolder = dir.Path();
    driver.OnPluginLoaded = [](TZoKpi&) { return true; };
    std::string reason;
    driver.OnPluginLoadFailed = [&](const std::string&, const std::string& why) { reason = why; };
    driver.AddPlugin(plugin.Path());
    std::string why;
    if (testsupport::Runs32BitX86Code(why)) {
        ASSERT_EQ(driver.Plugins().size(), 1u) << reason;
        EXPECT_EQ(driver.Plugins()[0]->Hosted()->Kind(), KpiHostKind::Windows32);
    } else {
        // Here the 32-bit host cannot start, and the load failure says which host that was.
        EXPECT_TRUE(driver.Plugins().empty());
        EXPECT_NE(reason.find("pellan-kpi-host32.exe"), std::string::npos) << reason;
        std::cerr << "\n*** NOTE: this machine cannot run 32-bit x86 code (" << why
                  << "); the 32-bit DLL was routed to pellan-kpi-host32.exe, which could not "
                     "start: "
                  << reason << " ***\n";
    }
}
