// Which way the driver takes a plug-in file, read from the file's header, and the load failures
// of a plug-in whose host cannot be had at all.
#include "kpi/kpiDriver.h"
#include "platform/LibraryFormat.h"
#include "tests/support/TempFolder.h"
#include "tests/testplugin/TestPluginHost.h"
#include "texts/Texts.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace fs = std::filesystem;
using platform::LibraryFormat;
using testsupport::TempFolder;

#ifdef PELLAN_HAVE_WINDOWS_BUILDS
TEST(HostChoice, TheFilesHeaderPicksTheWayAndTheHostsBitness)
{
    TempFolder dir;
    testsupport::WriteFileBytes(dir / "text.kpi", "not a library at all");
    const struct {
        std::string path;
        std::optional<KpiHostKind> inProgram, isolated;
    } cases[] = {
        {testkpi::BuiltPluginPath(), std::nullopt, KpiHostKind::Native},
        {testkpi::BuiltPluginPath(testkpi::kWindows32Variant), KpiHostKind::Windows32,
         KpiHostKind::Windows32},
        {testkpi::BuiltPluginPath(testkpi::kWindows64Variant), KpiHostKind::Windows64,
         KpiHostKind::Windows64},
        // Anything else is left to the load in the program, which fails as it always did.
        {dir / "text.kpi", std::nullopt, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        const LibraryFormat format = platform::SniffLibrary(c.path);
        EXPECT_EQ(ChooseHost(format, false), c.inProgram);
        EXPECT_EQ(ChooseHost(format, true), c.isolated);
    }
}

TEST(HostChoice, WithoutWineAWindowsPluginFailsToLoadAndSaysWhy)
{
    TempFolder dir;
    fs::create_directories(dir / "no-wine-here");
    testkpi::TestPlugin dll(dir / "windows.kpi", {}, testkpi::kWindows64Variant);
    testkpi::TestPlugin native(dir / "native.kpi", {{"extensions", ".nat"}});
    TZoKpiDriver driver;
    driver.CacheFolder = dir.Path();
    driver.HostSettings.SearchPath = dir / "no-wine-here";
    driver.OnPluginLoaded = [](TZoKpi&) { return true; };
    std::vector<std::string> failed;
    driver.OnPluginLoadFailed = [&](const std::string& name, const std::string& reason) {
        failed.push_back(name + ": " + reason);
    };
    driver.LoadFolder(dir.Path());
    EXPECT_EQ(failed,
              (std::vector<std::string>{dll.Path() + ": " + txt::Text(txt::Id::HostNeedsWine)}));
    ASSERT_EQ(driver.Plugins().size(), 1u);
    EXPECT_EQ(driver.Plugins()[0]->FileName(), native.Path());
}

#endif

TEST(HostChoice, AMissingHostProgramIsALoadFailureNamingIt)
{
    TempFolder dir;
    fs::create_directories(dir / "hosts");
    testkpi::TestPlugin plugin(dir / "apart.kpi");
    TZoKpiDriver driver;
    driver.CacheFolder = dir.Path();
    driver.IsolateNativePlugins = true;
    driver.HostSettings.HostFolder = dir / "hosts";
    std::string reason;
    driver.OnPluginLoadFailed = [&](const std::string&, const std::string& why) { reason = why; };
    driver.AddPlugin(plugin.Path());
    EXPECT_TRUE(driver.Plugins().empty());
    EXPECT_EQ(reason, txt::Format(txt::Id::HostProgramMissing, {dir / "hosts/pellan-kpi-host"}));
}
