// A host player installed under Wine: its key read from a prefix's registry file in Wine's own
// format, and the plug-in folder found from it (through the prefix's drive table, whose mapping
// platform's tests cover) when the settings hold none.
#include "app/WinePrefix.h"
#include "app/KbMD_Common.h"
#include "app/KbMPath.h"
#include "platform/WindowsPaths.h"
#include "tests/app/MemorySettingsStore.h"
#include "tests/support/ScopedEnvironment.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>

namespace fs = std::filesystem;
using testsupport::TempFolder;

namespace {

// A prefix as Wine leaves it: the drive table's links and a user.reg holding the player's key
// (written as Wine writes it: backslashes doubled, characters past ASCII as \x escapes).
struct FakePrefix {
    TempFolder dir;
    std::string root = dir / "prefix";

    explicit FakePrefix(const std::string& player)
    {
        const std::string table = platform::DriveTableFolder(root);
        fs::create_directories(table);
        fs::create_directories(root + "/drive_c");
        fs::create_directory_symlink("../drive_c", table + "/c:");
        fs::create_directory_symlink(dir.Path(), table + "/d:");
        testsupport::WriteFileBytes(
            root + "/user.reg",
            "WINE REGISTRY Version 2\n"
            ";; All keys relative to \\\\User\\\\S-1-5-21-0-0-0-1000\n\n#arch=win64\n\n"
            "[Software\\\\Other] 1700000000\n\"Kbmplay\"=\"C:\\\\wrong\\\\kbmplay.exe\"\n\n"
            "[Software\\\\Tavoren's Soft\\\\KbMIDI Player\\\\SearchPath] 1796688819\n"
            "#time=1dd86a8f9ba115e\n"
            "\"Other\"=str(2):\"%TEMP%\\\\x\"\n"
            "\"Kbmplay\"=\"" +
                player + "\"\n\n");
    }
};

} // namespace

TEST(WinePrefix, TheRegistryFileIsReadWithWinesEscapes)
{
    // A player under "Program Files\KbMedia "Player"\日本" (日 is U+65E5, 本 U+672C).
    FakePrefix prefix(
        "C:\\\\Program Files\\\\KbMedia \\\"Player\\\"\\\\\\x65e5\\x672c\\\\KbMplay.exe");
    const std::string file = prefix.root + "/user.reg";
    EXPECT_EQ(wineprefix::ReadUserString(
                  file, "software\\tavoren's soft\\kbmidi player\\searchpath", "KBMPLAY"),
              "C:\\Program Files\\KbMedia \"Player\"\\日本\\KbMplay.exe");
    EXPECT_EQ(wineprefix::ReadUserString(
                  file, "Software\\Tavoren's Soft\\KbMIDI Player\\SearchPath", "Other"),
              "%TEMP%\\x");
    EXPECT_EQ(
        wineprefix::ReadUserString(file, "Software\\Tavoren's Soft\\KbMIDI Player", "Kbmplay"),
        std::nullopt);
    EXPECT_EQ(wineprefix::ReadUserString(
                  file, "Software\\Tavoren's Soft\\KbMIDI Player\\SearchPath", "Missing"),
              std::nullopt);
    EXPECT_EQ(wineprefix::ReadUserString(prefix.dir / "none.reg", "Software", "x"), std::nullopt);
}

TEST(WinePrefix, APlayerUnderWineGivesThePluginFolderWhenTheSettingsHoldNone)
{
    FakePrefix prefix("C:\\\\Program Files\\\\KbMedia Player\\\\KbMplay.exe");
    const std::string player = prefix.root + "/drive_c/Program Files/KbMedia Player";
    fs::create_directories(player + "/plugins");
    testsupport::WriteFileBytes(player + "/KbMplay.exe", "MZ");
    testsupport::ScopedEnvironment scoped;
    scoped.Set("WINEPREFIX", prefix.root);

    TMemorySettingsStore store;
    TAppRegistry registry(store);
    AppRegistry = &registry;
    const std::string found = player + "/plugins";
    EXPECT_EQ(ResolvePluginFolderWithoutAsking(""), found);

    // The player's own key on this system comes first, and a stored folder before both.
    store.HostPlayer = "/opt/kbmedia/kbmplay.exe";
    EXPECT_EQ(ResolvePluginFolderWithoutAsking(""), "/opt/kbmedia/Plugins");
    store.HostPlayer.reset();
    registry.WriteString("SearchPath", "Plugins", prefix.dir.Path());
    EXPECT_EQ(ResolvePluginFolderWithoutAsking(""), prefix.dir.Path());

    // Without a registered player the prefix gives nothing and the bundled folder is next.
    registry.WriteString("SearchPath", "Plugins", "");
    testsupport::ScopedEnvironment empty;
    empty.Set("WINEPREFIX", prefix.dir / "no-prefix");
    EXPECT_EQ(ResolvePluginFolderWithoutAsking("/bundled"), "/bundled");
    AppRegistry = nullptr;
}
