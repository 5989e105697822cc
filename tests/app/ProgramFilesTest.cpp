// Where the run log and the plug-in cache go: beside the program while its folder can be
// written, else in the user's state and cache folders.
#include "app/ProgramFiles.h"
#include "tests/support/ScopedEnvironment.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <filesystem>

using testsupport::ScopedEnvironment;
using testsupport::TempFolder;
namespace fs = std::filesystem;

TEST(ProgramFiles, BesideAProgramWhoseFolderCanBeWritten)
{
    TempFolder dir;
    fs::create_directories(dir / "bin");
    ScopedEnvironment environment;
    environment.Set("XDG_STATE_HOME", dir / "state");
    environment.Set("XDG_CACHE_HOME", dir / "cache");
    EXPECT_EQ(RunLogPath(dir / "bin/PellanDecode"), dir / "bin/PellanDecode.log");
    EXPECT_EQ(RunLogPath(dir / "bin/pellan-decode"), dir / "bin/pellan-decode.log");
    EXPECT_EQ(PluginCacheFolder(dir / "bin/PellanDecode"), dir / "bin");
    EXPECT_FALSE(fs::exists(dir / "state"));
    EXPECT_FALSE(fs::exists(dir / "cache"));
}

TEST(ProgramFiles, InTheUsersFoldersWhenTheProgramsFolderCannotBeWritten)
{
    // A folder that does not exist cannot be written, whoever runs the test; the installed
    // layout with a read-only folder is the install test's.
    TempFolder dir;
    ScopedEnvironment environment;
    environment.Set("XDG_STATE_HOME", dir / "state");
    environment.Set("XDG_CACHE_HOME", dir / "cache/");
    EXPECT_EQ(RunLogPath(dir / "gone/bin/PellanDecode"),
              dir / "state/pellandecoder/PellanDecode.log");
    EXPECT_EQ(PluginCacheFolder(dir / "gone/bin/pellan-decode"), dir / "cache/pellandecoder");
    // Made on the way, so that the file can be created there.
    EXPECT_TRUE(fs::is_directory(dir / "state/pellandecoder"));
    EXPECT_TRUE(fs::is_directory(dir / "cache/pellandecoder"));
}

TEST(ProgramFiles, UsersFoldersDefaultBelowHomeAndRelativeSettingsAreIgnored)
{
    TempFolder dir;
    ScopedEnvironment environment;
    environment.Set("HOME", dir / "home");
    environment.Set("XDG_STATE_HOME", std::nullopt);
    environment.Set("XDG_CACHE_HOME", "relative/cache");
    EXPECT_EQ(RunLogPath(dir / "gone/PellanDecode"),
              dir / "home/.local/state/pellandecoder/PellanDecode.log");
    EXPECT_EQ(PluginCacheFolder(dir / "gone/PellanDecode"), dir / "home/.cache/pellandecoder");
    EXPECT_FALSE(fs::exists("relative/cache/pellandecoder"));
}
