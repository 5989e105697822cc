// The settings store on QSettings: files written by earlier releases keep every setting, and
// what the program writes back keeps their layout.
#include "qtcore/QtSettingsStore.h"
#include "app/DecodeSettings.h"
#include "app/KbMD_Common.h"
#include "app/KbMPath.h"
#include "app/SettingsLayout.h"
#include "tests/support/TempFolder.h"
#include "tests/ui/UiTestSupport.h"

#include <QSettings>
#include <gtest/gtest.h>

#include <filesystem>

namespace fs = std::filesystem;

namespace {

struct StoreFixture : ::testing::Test {
    uitest::AppEnvironment env; // points QSettings at a temporary folder
    std::string file = env.Dir / "settings/Quenz/PellanDecoder.conf";

    // Puts the settings file of release 1.0.0.79 where the store looks for it.
    void PlaceReleaseFile()
    {
        fs::create_directories(fs::path(file).parent_path());
        fs::copy_file(std::string(PELLAN_TEST_FIXTURES) + "/PellanDecoder-1.0.0.79.conf", file,
                      fs::copy_options::overwrite_existing);
    }
};

} // namespace

TEST_F(StoreFixture, ReleaseFileKeepsEverySettingAndIsWrittenBackAsItWas)
{
    PlaceReleaseFile();
    const std::string before = testsupport::ReadFileBytes(file);
    TQtSettingsStore store;
    EXPECT_EQ(store.ReadString(settings::kSearchPathKey, settings::kPluginsValue),
              "/home/me/KbMedia Player/Plugins");
    const auto rows = LoadDecodeSettingRows(store);
    ASSERT_TRUE(rows);
    std::vector<std::pair<std::string, std::array<std::string, 5>>> seen;
    for (const auto& row : *rows)
        seen.push_back({row.Name, row.Values});
    // In the registry's order: by name, letter case ignored; 0 bits read back as "default".
    EXPECT_EQ(seen, (decltype(seen){
                        {"CD", {"44100", "16", "2", "115", "5000"}},
                        {"Hi-Res 96k", {"96000", "24", "2", "300", "10000"}},
                        {"mono 8", {"22050", "8", "1", "60", "0"}},
                        {"プラグインのデフォルト", {"0", "default", "0", "86", "4000"}},
                    }));

    // Stored again unchanged, the file is the same bytes.
    store.WriteString(settings::kSearchPathKey, settings::kPluginsValue,
                      "/home/me/KbMedia Player/Plugins");
    SaveDecodeSettingRows(store, *rows);
    EXPECT_EQ(testsupport::ReadFileBytes(file), before);
}

TEST_F(StoreFixture, KeysValuesAndTheHostPlayersKey)
{
    TQtSettingsStore store;
    EXPECT_FALSE(store.KeyExists("DecodeSettings"));
    EXPECT_FALSE(store.ReadInteger("DecodeSettings\\x", "Channels"));
    store.WriteInteger("DecodeSettings\\b", "Channels", 2);
    store.WriteInteger("DecodeSettings\\A", "Channels", 0xFFFFFFFFu);
    store.WriteString("DecodeSettings\\A", "Text", "abc");
    EXPECT_TRUE(store.KeyExists("DecodeSettings"));
    EXPECT_TRUE(store.KeyExists("DecodeSettings\\b"));
    EXPECT_EQ(store.SubKeys("DecodeSettings"), (std::vector<std::string>{"A", "b"}));
    EXPECT_EQ(store.ReadInteger("DecodeSettings\\A", "Channels"), 0xFFFFFFFFu);
    // A text is no number.
    EXPECT_FALSE(store.ReadInteger("DecodeSettings\\A", "Text"));
    store.DeleteKey("DecodeSettings");
    EXPECT_FALSE(store.KeyExists("DecodeSettings"));
    store.DeleteKey("Missing"); // nothing to remove is no error

    EXPECT_FALSE(store.HostPlayerExecutable());
    QSettings host(settings::kHostPlayerOrganization, settings::kHostPlayerApplication);
    host.setValue("SearchPath/Kbmplay", "C:\\Program Files\\KbMedia Player\\KbMPlay.exe");
    host.sync();
    EXPECT_EQ(TQtSettingsStore().HostPlayerExecutable(),
              "C:\\Program Files\\KbMedia Player\\KbMPlay.exe");
}
