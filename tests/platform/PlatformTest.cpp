// Platform services: plug-in dependencies from the plug-in's folder, file times, folder
// listings and path texts.
#include "platform/DynamicLibrary.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "tests/support/TempFolder.h"
#include "tests/testplugin/TestPluginHost.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <utime.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <filesystem>

using testsupport::TempFolder;
namespace fs = std::filesystem;

TEST(PluginDependencies, TheHelperPluginNamesItsHelperAndCarriesNoSearchPath)
{
    const std::string built = testkpi::BuiltPluginPath("helper/helperuser.kpi");
    ASSERT_FALSE(platform::HasRunPath(built));
    const auto needed = platform::ReadNeededLibraries(built);
    EXPECT_NE(std::find(needed.begin(), needed.end(), "libkpihelper.so"), needed.end());
}

TEST(PluginDependencies, ReadingAnythingThatIsNotAnElfFileGivesNoNames)
{
    TempFolder dir;
    testsupport::WriteFileBytes(dir / "junk", std::string("\x7f"
                                                          "ELF\x02\x01\x01",
                                                          7));
    EXPECT_TRUE(platform::ReadNeededLibraries(dir / "junk").empty());
    std::string garbage(4096, '\0');
    std::srand(5);
    for (auto& c : garbage)
        c = static_cast<char>(std::rand());
    garbage.replace(0, 4,
                    "\x7f"
                    "ELF");
    testsupport::WriteFileBytes(dir / "garbage", garbage);
    platform::ReadNeededLibraries(dir / "garbage"); // must not crash or read past the end
    EXPECT_TRUE(platform::ReadNeededLibraries(dir / "missing").empty());
    std::string error;
    EXPECT_EQ(platform::DynamicLibrary::Load(dir / "junk", error), nullptr);
    EXPECT_FALSE(error.empty());
}

TEST(FileTime, LocalTimePackedAsDosDateTime)
{
    TempFolder dir;
    const std::string file = dir / "f.kpi";
    testsupport::WriteFileBytes(file, "x");
    struct tm local {};
    local.tm_year = 2024 - 1900;
    local.tm_mon = 2; // March
    local.tm_mday = 17;
    local.tm_hour = 13;
    local.tm_min = 45;
    local.tm_sec = 31;
    local.tm_isdst = -1;
    const time_t when = std::mktime(&local);
    const struct utimbuf times {
        when, when
    };
    ASSERT_EQ(::utime(file.c_str(), &times), 0);
    const uint32_t expected =
        (44u << 25) | (3u << 21) | (17u << 16) | (13u << 11) | (45u << 5) | 15u;
    EXPECT_EQ(static_cast<uint32_t>(platform::FileDosDateTime(file)), expected);

    local.tm_year = 1979 - 1900; // before the format's range
    const time_t early = std::mktime(&local);
    const struct utimbuf earlyTimes {
        early, early
    };
    ASSERT_EQ(::utime(file.c_str(), &earlyTimes), 0);
    EXPECT_EQ(platform::FileDosDateTime(file), -1);

    EXPECT_EQ(platform::FileDosDateTime(dir.Path()), -1);
    EXPECT_EQ(platform::FileDosDateTime(dir / "missing"), -1);
    // Years from 2044 set the top bit: the value reads as negative.
    EXPECT_LT(platform::PackDosDateTime(2044, 1, 1, 0, 0, 0), 0);
    EXPECT_EQ(platform::PackDosDateTime(2108, 1, 1, 0, 0, 0), -1);
}

TEST(FolderListing, HiddenEntriesAreLeftOutAndMasksSelectFilesOrFolders)
{
    TempFolder dir;
    for (const char* name : {"a.kpi", "B.KPI", ".hidden.kpi", "c.kpix", "d.txt"})
        testsupport::WriteFileBytes(dir / name, "x");
    fs::create_directory(dir / "sub.kpi");
    fs::create_directory(dir / "sub");
    fs::create_directory(dir / ".secret");

    auto names = [](std::vector<platform::FolderEntry> entries) {
        std::vector<std::string> result;
        for (const auto& e : entries)
            result.push_back(e.Name + (e.IsDirectory ? "/" : ""));
        std::sort(result.begin(), result.end());
        return result;
    };
    EXPECT_EQ(names(platform::ListFolder(dir.Path(), "*.kpi", platform::kPluginFileMask)),
              (std::vector<std::string>{"B.KPI", "a.kpi"}));
    EXPECT_EQ(names(platform::ListFolder(dir.Path(), "*.*", platform::kSubFolderMask)),
              (std::vector<std::string>{"B.KPI", "a.kpi", "c.kpix", "d.txt", "sub.kpi/", "sub/"}));
    EXPECT_TRUE(platform::ListFolder(dir / "missing", "*.*", platform::kSubFolderMask).empty());

    // A pipe named like a plug-in is no plug-in: opening it would wait for a writer.
    ASSERT_EQ(::mkfifo((dir / "pipe.kpi").c_str(), 0600), 0);
    EXPECT_EQ(names(platform::ListFolder(dir.Path(), "*.kpi", platform::kPluginFileMask)),
              (std::vector<std::string>{"B.KPI", "a.kpi"}));
    std::string error;
    EXPECT_EQ(platform::DynamicLibrary::Load(dir / "pipe.kpi", error), nullptr);
    EXPECT_EQ(error, "not a regular file");
}

TEST(Paths, ExtensionIsTheTextFromTheLastDotOfTheName)
{
    using namespace platform;
    EXPECT_EQ(ExtractFileExt("/music/a.b/song.mid"), ".mid");
    EXPECT_EQ(ExtractFileExt("/music/a.b/song"), "");
    EXPECT_EQ(ChangeFileExt("/music/a.b/song", ".wav"), "/music/a.b/song.wav");
    EXPECT_EQ(ChangeFileExt("/music/song.tar.gz", ".wav"), "/music/song.tar.wav");
    EXPECT_EQ(ChangeFileExt("song.", ".wav"), "song.wav");
    EXPECT_EQ(ExtractFileName("/music/song.mid"), "song.mid");
    EXPECT_EQ(ExtractFilePath("/music/song.mid"), "/music/");
    EXPECT_EQ(ExtractFilePath("song.mid"), "");
    EXPECT_EQ(IncludeTrailingDelimiter("/music"), "/music/");
    EXPECT_EQ(IncludeTrailingDelimiter("/music/"), "/music/");
}

TEST(FileIdentity, SameFileThroughAnotherNameIsRecognised)
{
    TempFolder dir;
    testsupport::WriteFileBytes(dir / "a.wav", "x");
    fs::create_symlink(dir / "a.wav", dir / "link.wav");
    fs::create_hard_link(dir / "a.wav", dir / "hard.wav");
    testsupport::WriteFileBytes(dir / "b.wav", "x");
    const auto a = platform::GetFileIdentity(dir / "a.wav");
    ASSERT_TRUE(a.has_value());
    EXPECT_EQ(a, platform::GetFileIdentity(dir / "link.wav"));
    EXPECT_EQ(a, platform::GetFileIdentity(dir / "hard.wav"));
    EXPECT_EQ(a, platform::GetFileIdentity(dir.Path() + "/./a.wav"));
    EXPECT_NE(a, platform::GetFileIdentity(dir / "b.wav"));
    EXPECT_FALSE(platform::GetFileIdentity(dir / "none.wav").has_value());
}

TEST(Paths, RelativePathIsCompletedFromTheCurrentFolder)
{
    TempFolder dir;
    ASSERT_TRUE(platform::SetCurrentFolder(dir.Path()));
    const std::string here = platform::CurrentFolder();
    EXPECT_EQ(platform::AbsolutePath("a/./b"), here + "/a/b");
    EXPECT_EQ(platform::AbsolutePath("./a//b/"), here + "/a/b");
    EXPECT_EQ(platform::AbsolutePath("../a"), here + "/../a");
    EXPECT_EQ(platform::AbsolutePath("."), here);
    EXPECT_EQ(platform::AbsolutePath("/x/./y"), "/x/./y");
}

TEST(InputFiles, PathsThatNameOneFileCompareEqualWhetherOrNotItExists)
{
    TempFolder dir;
    fs::create_directories(dir / "real/sub");
    fs::create_symlink(dir / "real", dir / "link");
    const std::string key = platform::ComparablePath(dir / "real/song.wav");
    EXPECT_EQ(platform::ComparablePath(dir / "link/song.wav"), key);
    EXPECT_EQ(platform::ComparablePath(dir / "real/sub/../song.wav"), key);
    EXPECT_EQ(platform::ComparablePath(dir / "real/./new/../song.wav"), key);
    EXPECT_NE(platform::ComparablePath(dir / "real/Song.wav"), key); // letter case counts here
}
