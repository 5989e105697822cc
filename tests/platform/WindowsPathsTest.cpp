// Texts and paths written on Windows: code page 932, letter case as Windows ignores it, Wine's
// drive table, and the cases a playlist decode does not reach.
#include "platform/WindowsPaths.h"
#include "platform/CodePages.h"
#include "platform/Paths.h"
#include "tests/support/ScopedEnvironment.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <filesystem>

#include <pwd.h>
#include <unistd.h>

using testsupport::TempFolder;
namespace fs = std::filesystem;

namespace {

// Shift_JIS bytes of ソ表 (both end in 0x5C, a backslash's byte) and of ゲーム.
const std::string kSoHyou = "\x83\x5C\x95\x5C";
const std::string kGame = "\x83\x51\x81\x5B\x83\x80";

} // namespace

TEST(CodePages, Utf8IsRecognisedAndCodePage932KeepsItsBackslashes)
{
    EXPECT_TRUE(platform::IsValidUtf8("C:\\音楽\\ソ表.mid"));
    EXPECT_TRUE(platform::IsValidUtf8("\xF0\x9F\x8E\xB5"));
    for (const std::string& bad :
         {kSoHyou, std::string("\xC0\xAF"), std::string("\xE0\x80\xAF"),
          std::string("\xED\xA0\x80"), std::string("\xF4\x90\x80\x80"), std::string("\xE3\x82")})
        EXPECT_FALSE(platform::IsValidUtf8(bad)) << testing::PrintToString(bad);

    // 0x5C stays a backslash, also as a second byte, and is no yen sign.
    EXPECT_EQ(platform::FromCodePage932("C:\\" + kSoHyou + "\x87\x40~"), "C:\\ソ表①~");
    EXPECT_EQ(platform::FromCodePage932("\x83"), std::nullopt); // a lead byte alone
    EXPECT_EQ(platform::SystemTextOf(kGame), "ゲーム");
    EXPECT_EQ(platform::SystemTextOf("ゲーム"), "ゲーム");
    EXPECT_EQ(platform::SystemTextOf("a\x80"), "a\x80"); // neither: left alone
}

TEST(CodePages, NamesCompareWithLetterCaseIgnoredAsWindowsDoes)
{
    EXPECT_TRUE(platform::SameNameIgnoringCase("Stage1.NSF", "stage1.nsf"));
    EXPECT_TRUE(platform::SameNameIgnoringCase("Ａ曲", "ａ曲")); // full-width Latin
    EXPECT_TRUE(platform::SameNameIgnoringCase("ΣΟΦΙΑ Москва", "σοφια МОСКВА"));
    EXPECT_FALSE(platform::SameNameIgnoringCase("stage1.nsf", "stage1.nsfx"));
    EXPECT_FALSE(platform::SameNameIgnoringCase("ソ", "ゾ"));
    EXPECT_FALSE(platform::SameNameIgnoringCase("a\x80", "A\x80")); // not UTF-8: bytes only
}

TEST(WineDrives, LettersMapThroughThePrefixTableAndWithoutOneOnlyZIsTheRoot)
{
    TempFolder dir;
    testsupport::ScopedEnvironment environment;
    environment.Set("WINEPREFIX", std::nullopt);
    environment.Set("HOME", dir.Path());
    const std::string prefix = platform::WinePrefixFolder();
    EXPECT_EQ(prefix, dir / ".wine");
    EXPECT_EQ(platform::DriveFolder(prefix, 'Z'), "/");
    EXPECT_EQ(platform::DriveFolder(prefix, 'C'), std::nullopt);

    // Wine's relative link, an absolute one, a folder, and a link that leads nowhere.
    const std::string table = platform::DriveTableFolder(prefix);
    fs::create_directories(table + "/f:");
    fs::create_directories(dir / ".wine/drive_c");
    fs::create_directories(dir / "media");
    fs::create_symlink("../drive_c", table + "/c:");
    fs::create_symlink(dir / "media/", table + "/e:");
    fs::create_symlink(dir / "unplugged", table + "/g:");
    EXPECT_EQ(platform::DriveFolder(prefix, 'c'), dir / ".wine/drive_c");
    EXPECT_EQ(platform::DriveFolder(prefix, 'E'), dir / "media");
    EXPECT_EQ(platform::DriveFolder(prefix, 'F'), table + "/f:");
    EXPECT_EQ(platform::DriveFolder(prefix, 'G'), std::nullopt);
    EXPECT_EQ(platform::DriveFolder(prefix, 'Z'), std::nullopt); // a table without Z:

    // A prefix whose table is a link: the relative target is taken from where it leads, not
    // from beside the link.
    fs::create_directories(dir / "linked/drive_c");
    fs::create_directory_symlink(table, platform::DriveTableFolder(dir / "linked"));
    EXPECT_EQ(platform::DriveFolder(dir / "linked", 'C'), dir / ".wine/drive_c");

    environment.Set("WINEPREFIX", dir / "elsewhere");
    EXPECT_EQ(platform::WinePrefixFolder(), dir / "elsewhere");
    // Without $HOME Wine takes the home folder from the password database, and so does this.
    environment.Set("WINEPREFIX", std::nullopt);
    environment.Set("HOME", std::nullopt);
    if (const passwd* entry = ::getpwuid(::getuid()); entry != nullptr && entry->pw_dir) {
        EXPECT_EQ(platform::WinePrefixFolder(),
                  platform::IncludeTrailingDelimiter(entry->pw_dir) + ".wine");
    }
}

TEST(WineDrives, DrivePathsMatchNamesAsWindowsDoesWhoeverAsks)
{
    TempFolder dir;
    const std::string prefix = dir / "prefix";
    const std::string table = platform::DriveTableFolder(prefix);
    fs::create_directories(table);
    fs::create_directories(prefix + "/drive_c/Program Files/KbMedia Player/Plugins");
    fs::create_directories(prefix + "/drive_c/Ｓｏｎｇｓ/Σοφια");
    fs::create_directory_symlink("../drive_c", table + "/c:");
    fs::create_directory_symlink(dir.Path(), table + "/d:");
    const std::string drive = prefix + "/drive_c";
    const auto map = [&prefix](const std::string& text) {
        return platform::MapDrivePath(prefix, text);
    };

    auto found = map("c:\\PROGRAM FILES\\kbmedia player\\plugins");
    ASSERT_TRUE(found);
    EXPECT_TRUE(found->Found);
    EXPECT_EQ(found->Path, drive + "/Program Files/KbMedia Player/Plugins");
    // Letters beyond ASCII fold as well, full-width Latin and Greek among them.
    found = map("C:/ｓｏｎｇｓ\\ΣΟΦΙΑ");
    ASSERT_TRUE(found);
    EXPECT_EQ(found->Path, drive + "/Ｓｏｎｇｓ/Σοφια");
    // A name that matches nothing: the path as written, below the drive's folder.
    found = map("C:\\Program Files\\New\\..\\Gone");
    ASSERT_TRUE(found);
    EXPECT_FALSE(found->Found);
    EXPECT_EQ(found->Path, drive + "/Program Files/Gone");
    ASSERT_TRUE(map("D:\\prefix"));
    EXPECT_EQ(map("D:\\prefix")->Path, prefix);
    EXPECT_EQ(map("Q:\\nowhere"), std::nullopt);
    EXPECT_EQ(map("\\\\server\\share"), std::nullopt);
    EXPECT_EQ(map("1:\\x"), std::nullopt);

    // A playlist entry reaches the same file as the host player's lookup.
    testsupport::ScopedEnvironment environment;
    environment.Set("WINEPREFIX", prefix);
    const platform::ForeignPath entry = platform::ResolveWindowsPath("c:\\ＳＯＮＧＳ\\σοφια", "/");
    EXPECT_TRUE(entry.Found);
    EXPECT_EQ(entry.Path, drive + "/Ｓｏｎｇｓ/Σοφια");
}

TEST(CaseInsensitivePaths, TheExactSpellingWinsThenTheFirstThatLeadsToTheFile)
{
    TempFolder dir;
    for (const char* folder : {"Songs", "songs", "SONGS"})
        fs::create_directories(dir / folder);
    testsupport::WriteFileBytes(dir / "songs/a.mid", "exact");
    testsupport::WriteFileBytes(dir / "Songs/a.mid", "other");
    testsupport::WriteFileBytes(dir / "SONGS/.Only.mid", "x");

    EXPECT_EQ(platform::MatchPathIgnoringCase(dir / "songs/A.MID"), dir / "songs/a.mid");
    // No exact spelling: the first in byte order, the same one on every run.
    EXPECT_EQ(platform::MatchPathIgnoringCase(dir / "sONGS/a.mid"), dir / "Songs/a.mid");
    // Only one spelling of the folder holds the file; a leading dot hides nothing.
    EXPECT_EQ(platform::MatchPathIgnoringCase(dir / "songs/.ONLY.mid"), dir / "SONGS/.Only.mid");
    EXPECT_EQ(platform::MatchPathIgnoringCase(dir / "songs/b.mid"), std::nullopt);
    EXPECT_EQ(platform::MatchPathIgnoringCase(dir / "songs/a.mid/x"), std::nullopt);
}

TEST(WindowsPlaylistPaths, NamesThatExistAsWrittenStayAndMissingOnesSayWhereTheyWereSought)
{
    TempFolder dir;
    // Legal names here, though Windows would read them otherwise.
    testsupport::WriteFileBytes(dir / "a\\b.mid", "x");
    testsupport::WriteFileBytes(dir / (kSoHyou + ".mid"), "x");
    EXPECT_EQ(platform::ResolveWindowsPath(dir / "a\\b.mid", "/").Path, dir / "a\\b.mid");
    EXPECT_EQ(platform::ResolveWindowsPath(dir / (kSoHyou + ".mid"), "/").Path,
              dir / (kSoHyou + ".mid"));

    testsupport::ScopedEnvironment environment;
    environment.Set("WINEPREFIX", dir / "prefix");
    fs::create_directories(platform::DriveTableFolder(dir / "prefix"));
    fs::create_symlink(dir.Path(), platform::DriveTableFolder(dir / "prefix") + "/c:");
    // A drive that maps: the path that was looked for here.
    platform::ForeignPath missing =
        platform::ResolveWindowsPath("C:\\Music\\" + kGame + ".nsf", "/");
    EXPECT_FALSE(missing.Found);
    EXPECT_EQ(missing.Path, dir / "Music/ゲーム.nsf");
    // A drive that maps nowhere: the text as written, readable in the log.
    missing = platform::ResolveWindowsPath("D:\\" + kGame + ".nsf", "/");
    EXPECT_FALSE(missing.Found);
    EXPECT_EQ(missing.Path, "D:\\ゲーム.nsf");
}

TEST(WindowsPlaylistPaths, DotDotStopsAtTheDrivesRoot)
{
    TempFolder dir;
    testsupport::ScopedEnvironment environment;
    environment.Set("WINEPREFIX", dir / "prefix");
    fs::create_directories(platform::DriveTableFolder(dir / "prefix"));
    fs::create_directories(dir / "drive_c/outside");
    fs::create_directories(dir / "outside");
    fs::create_symlink("../../drive_c", platform::DriveTableFolder(dir / "prefix") + "/c:");
    // A file beside the drive's folder, which no name on drive C: reaches on Windows.
    testsupport::WriteFileBytes(dir / "outside/x.mid", "x");
    for (const std::string text :
         {"C:\\..\\..\\outside\\x.mid", "c:/Music/../../../outside/./x.mid"}) {
        const platform::ForeignPath found = platform::ResolveWindowsPath(text, "/");
        EXPECT_FALSE(found.Found) << text;
        EXPECT_EQ(found.Path, dir / "drive_c/outside/x.mid") << text;
    }
}
