// Where the run log and the plug-in cache go: beside the program while its folder can be
// written, else in the user's state and cache folders.
#include "app/ProgramFiles.h"
#include "tests/support/ScopedEnvironment.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace fs = std::filesystem;

TEST(ProgramFiles, BesideTheProgramWhileItsFolderCanBeWritten)
{
    testsupport::TempFolder dir;
    fs::create_directories(dir / "bin");
    testsupport::ScopedEnvironment environment;
    environment.Set("XDG_STATE_HOME", dir / "state");
    environment.Set("XDG_CACHE_HOME", dir / "cache");
    EXPECT_EQ(RunLogPath(dir / "bin/pellan-decode"), dir / "bin/pellan-decode.log");
    EXPECT_EQ(PluginCacheFolder(dir / "bin/PellanDecode"), dir / "bin");
    EXPECT_FALSE(fs::exists(dir / "state"));
    EXPECT_FALSE(fs::exists(dir / "cache"));
}

TEST(ProgramFiles, ElseInTheUsersFoldersMadeOnTheWay)
{
    // A folder that does not exist cannot be written, whoever runs the test; a read-only
    // installed folder is the install test's.
    testsupport::TempFolder dir;
    testsupport::ScopedEnvironment environment;
    environment.Set("XDG_STATE_HOME", dir / "state");
    environment.Set("XDG_CACHE_HOME", dir / "cache/");
    EXPECT_EQ(RunLogPath(dir / "gone/PellanDecode"), dir / "state/pellandecoder/PellanDecode.log");
    EXPECT_EQ(PluginCacheFolder(dir / "gone/PellanDecode"), dir / "cache/pellandecoder");
    EXPECT_TRUE(fs::is_directory(dir / "state/pellandecoder"));
    EXPECT_TRUE(fs::is_directory(dir / "cache/pellandecoder"));

    // Unset or relative settings: the defaults below the home folder.
    environment.Set("HOME", dir / "home");
    environment.Set("XDG_STATE_HOME", std::nullopt);
    environment.Set("XDG_CACHE_HOME", "relative/cache");
    EXPECT_EQ(RunLogPath(dir / "gone/PellanDecode"),
              dir / "home/.local/state/pellandecoder/PellanDecode.log");
    EXPECT_EQ(PluginCacheFolder(dir / "gone/PellanDecode"), dir / "home/.cache/pellandecoder");
}
