// Finding the plug-in folder: stored, from the host player's settings, bundled, or asked.
#include "app/KbMD_Common.h"
#include "app/KbMPath.h"
#include "tests/ui/UiTestSupport.h"

#include <QSettings>
#include <gtest/gtest.h>

#include <filesystem>

using uitest::AppEnvironment;
using uitest::ScriptedDialogs;
namespace fs = std::filesystem;

namespace {

struct ResolveFixture : ::testing::Test {
    AppEnvironment env;
    ScriptedDialogs dialogs;

    std::string Stored() { return AppRegistry->ReadString("SearchPath", "Plugins", "<none>"); }
    void Store(const std::string& folder)
    {
        AppRegistry->WriteString("SearchPath", "Plugins", folder);
    }
    void SetHostPlayer(const std::string& exe)
    {
        QSettings host("Tavoren's Soft", "KbMIDI Player");
        host.setValue("SearchPath/Kbmplay", QString::fromStdString(exe));
    }
    std::string Folder(const std::string& name)
    {
        fs::create_directories(env.Dir / name);
        return env.Dir / name;
    }
};

} // namespace

TEST_F(ResolveFixture, ExistingStoredFolderIsUsedWithoutAsking)
{
    const std::string folder = Folder("plugins");
    Store(folder);
    SetHostPlayer("/elsewhere/kbmplay.exe");
    EXPECT_EQ(ResolvePluginFolder(dialogs, ""), folder);
    EXPECT_TRUE(dialogs.Messages.empty());
    EXPECT_EQ(Stored(), folder);
}

TEST_F(ResolveFixture, HostPlayersFolderGivesItsPluginsFolderWhichIsStored)
{
    SetHostPlayer("/opt/KbMedia Player/kbmplay.exe");
    EXPECT_EQ(ResolvePluginFolder(dialogs, Folder("bundled")), "/opt/KbMedia Player/Plugins");
    EXPECT_TRUE(dialogs.Messages.empty());
    EXPECT_EQ(Stored(), "/opt/KbMedia Player/Plugins");
}

TEST_F(ResolveFixture, StaleStoredFolderIsReplaced)
{
    Store(env.Dir / "gone");
    SetHostPlayer(env.Dir / "player/kbmplay.exe");
    const std::string expected = env.Dir / "player/Plugins";
    EXPECT_EQ(ResolvePluginFolder(dialogs, ""), expected);
    EXPECT_EQ(Stored(), expected);
}

TEST_F(ResolveFixture, BundledFolderComesBeforeAskingOnThisPlatform)
{
    const std::string bundled = Folder("lib/plugins");
    EXPECT_EQ(ResolvePluginFolder(dialogs, bundled), bundled);
    EXPECT_TRUE(dialogs.Messages.empty());
    EXPECT_EQ(Stored(), bundled);
    EXPECT_EQ(ResolvePluginFolderWithoutAsking(""), bundled); // now stored
}

TEST_F(ResolveFixture, AskedUntilAFolderWithThePlayerIsPicked)
{
    const std::string empty = Folder("empty");
    const std::string player = Folder("player");
    testsupport::WriteFileBytes(player + "/KbMPlay.exe", "");
    dialogs.FolderAnswers = {empty, player};
    EXPECT_EQ(ResolvePluginFolder(dialogs, ""), player);
    ASSERT_EQ(dialogs.Messages.size(), 2u);
    EXPECT_EQ(dialogs.Messages[0].caption, "KbMP パス指定");
    EXPECT_EQ(dialogs.Messages[0].text, "KbMedia Player（KbMPlay.exe）のパスを指定してください。");
    EXPECT_EQ(dialogs.StartFolders, (std::vector<std::string>{".", "."}));
    EXPECT_EQ(Stored(), player);
    EXPECT_FALSE(EndRequested());

    // The next start finds the stored folder.
    ScriptedDialogs later;
    EXPECT_EQ(ResolvePluginFolder(later, ""), player);
    EXPECT_TRUE(later.Messages.empty());
}

TEST_F(ResolveFixture, FolderHoldingPluginsBelowItIsAccepted)
{
    const std::string folder = Folder("mine");
    fs::create_directories(folder + "/deeper/still");
    testsupport::WriteFileBytes(folder + "/deeper/still/x.kpi", "");
    fs::create_directory_symlink(folder, folder + "/deeper/loop"); // must not hang the check
    dialogs.FolderAnswers = {folder};
    EXPECT_EQ(ResolvePluginFolder(dialogs, ""), folder);
    EXPECT_EQ(dialogs.Messages.size(), 1u);
}

TEST_F(ResolveFixture, CancelEndsTheProgramAndStoresTheLastPick)
{
    const std::string empty = Folder("empty");
    dialogs.FolderAnswers = {empty, std::nullopt};
    EXPECT_EQ(ResolvePluginFolder(dialogs, ""), empty);
    EXPECT_TRUE(EndRequested());
    EXPECT_EQ(Stored(), empty);

    // While the end is pending nothing more is asked.
    Store(env.Dir / "gone");
    ScriptedDialogs again;
    EXPECT_EQ(ResolvePluginFolder(again, ""), env.Dir / "gone");
    EXPECT_TRUE(again.Messages.empty());
}

TEST_F(ResolveFixture, FindingWithoutAskingStoresNothing)
{
    SetHostPlayer("/opt/player/kbmplay.exe");
    EXPECT_EQ(ResolvePluginFolderWithoutAsking(""), "/opt/player/Plugins");
    EXPECT_EQ(Stored(), "<none>");
    EXPECT_TRUE(dialogs.Messages.empty());
}

TEST_F(ResolveFixture, CancellingTheFirstQuestionWritesBackWhatWasStored)
{
    dialogs.FolderAnswers = {std::nullopt};
    EXPECT_EQ(ResolvePluginFolder(dialogs, ""), "");
    EXPECT_TRUE(EndRequested());
    EXPECT_EQ(Stored(), "");
    EXPECT_EQ(ResolvePluginFolderWithoutAsking(""), "");
}
