// Texts and paths written on Windows: code page 932, letter case as Windows ignores it, Wine's
// drive table, and whole playlist paths found on this system.
#include "platform/WindowsPaths.h"
#include "platform/CodePages.h"
#include "tests/support/ScopedEnvironment.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <filesystem>

using testsupport::ScopedEnvironment;
using testsupport::TempFolder;
namespace fs = std::filesystem;

namespace {

// Shift_JIS bytes of the words the tests use. "ソ" and "表" end in 0x5C, a backslash's byte.
const std::string kSo = "\x83\x5C";
const std::string kHyou = "\x95\x5C";
const std::string kGame = "\x83\x51\x81\x5B\x83\x80"; // ゲーム
const std::string kOngaku = "\x89\xB9\x8A\x79";       // 音楽
const std::string kCircledOne = "\x87\x40";           // ①, an NEC extension of code page 932
const std::string kFullWidthA = "\xEF\xBC\xA1";       // Ａ in UTF-8
const std::string kFullWidthSmallA = "\xEF\xBD\x81";  // ａ in UTF-8

// A Wine prefix with Wine's own default links: C: to drive_c beside the table, Z: to the root.
struct WinePrefix {
    TempFolder dir;
    std::string driveC = dir / "prefix/drive_c";
    ScopedEnvironment environment;

    WinePrefix()
    {
        fs::create_directories(driveC);
        fs::create_directories(dir / "prefix/dosdevices");
        fs::create_symlink("../drive_c", dir / "prefix/dosdevices/c:");
        fs::create_symlink("/", dir / "prefix/dosdevices/z:");
        environment.Set("WINEPREFIX", dir / "prefix");
    }
};

} // namespace

TEST(CodePages, Utf8IsRecognisedAndShiftJisIsNot)
{
    EXPECT_TRUE(platform::IsValidUtf8(""));
    EXPECT_TRUE(platform::IsValidUtf8("C:\\Music\\a.mid"));
    EXPECT_TRUE(platform::IsValidUtf8("音楽/ソ表.mid"));
    EXPECT_TRUE(platform::IsValidUtf8("\xF0\x9F\x8E\xB5")); // four bytes
    EXPECT_FALSE(platform::IsValidUtf8(kOngaku + "\\" + kSo + ".mid"));
    EXPECT_FALSE(platform::IsValidUtf8("\xC0\xAF"));         // an overlong "/"
    EXPECT_FALSE(platform::IsValidUtf8("\xE0\x80\xAF"));     // the same in three bytes
    EXPECT_FALSE(platform::IsValidUtf8("\xED\xA0\x80"));     // a surrogate
    EXPECT_FALSE(platform::IsValidUtf8("\xF4\x90\x80\x80")); // beyond U+10FFFF
    EXPECT_FALSE(platform::IsValidUtf8("\xE3\x82"));         // cut off
    EXPECT_FALSE(platform::IsValidUtf8("\x82\xBD"));         // a continuation byte first
}

TEST(CodePages, CodePage932KeepsBackslashesAndItsOwnCharacters)
{
    // A backslash stays one, also as the second byte of ソ and 表, and is not a yen sign.
    EXPECT_EQ(platform::FromCodePage932("C:\\" + kOngaku + "\\" + kSo + kHyou + ".mid"),
              "C:\\音楽\\ソ表.mid");
    EXPECT_EQ(platform::FromCodePage932(kCircledOne + "~"), "①~");
    EXPECT_EQ(platform::FromCodePage932(""), "");
    EXPECT_EQ(platform::FromCodePage932("\x83"), std::nullopt);  // a lead byte alone
    EXPECT_EQ(platform::FromCodePage932("a\x80"), std::nullopt); // undefined in code page 932

    EXPECT_EQ(platform::SystemTextOf(kGame), "ゲーム");
    EXPECT_EQ(platform::SystemTextOf("ゲーム"), "ゲーム"); // UTF-8 already
    EXPECT_EQ(platform::SystemTextOf("a\x80"), "a\x80");   // neither: left alone
}

TEST(CodePages, NamesCompareWithLetterCaseIgnoredAsWindowsDoes)
{
    EXPECT_TRUE(platform::SameNameIgnoringCase("Stage1.NSF", "stage1.nsf"));
    EXPECT_TRUE(platform::SameNameIgnoringCase(kFullWidthA + "曲", kFullWidthSmallA + "曲"));
    EXPECT_TRUE(platform::SameNameIgnoringCase("ΣΟΦΙΑ", "σοφια"));
    EXPECT_TRUE(platform::SameNameIgnoringCase("Москва", "МОСКВА"));
    EXPECT_FALSE(platform::SameNameIgnoringCase("stage1.nsf", "stage1.nsfx"));
    EXPECT_FALSE(platform::SameNameIgnoringCase("ソ", "ゾ"));
    EXPECT_FALSE(platform::SameNameIgnoringCase("a\x80", "A\x80")); // not UTF-8: bytes only
    EXPECT_TRUE(platform::SameNameIgnoringCase("a\x80", "a\x80"));
}

TEST(WineDrives, LettersMapThroughThePrefixTable)
{
    WinePrefix wine;
    EXPECT_EQ(platform::DriveFolder('C'), wine.driveC);
    EXPECT_EQ(platform::DriveFolder('c'), wine.driveC);
    EXPECT_EQ(platform::DriveFolder('Z'), "/");
    EXPECT_EQ(platform::DriveFolder('D'), std::nullopt);

    // An absolute link, and a folder put in place of a link.
    fs::create_directories(wine.dir / "media");
    fs::create_symlink(wine.dir / "media/", wine.dir / "prefix/dosdevices/e:");
    fs::create_directories(wine.dir / "prefix/dosdevices/f:");
    EXPECT_EQ(platform::DriveFolder('E'), wine.dir / "media");
    EXPECT_EQ(platform::DriveFolder('F'), wine.dir / "prefix/dosdevices/f:");

    // A table without Z: maps nothing there.
    fs::remove(wine.dir / "prefix/dosdevices/z:");
    EXPECT_EQ(platform::DriveFolder('Z'), std::nullopt);
}

TEST(WineDrives, WithoutATableOnlyZIsTheRoot)
{
    TempFolder home;
    ScopedEnvironment environment;
    environment.Set("WINEPREFIX", std::nullopt);
    environment.Set("HOME", home.Path());
    EXPECT_EQ(platform::DriveFolder('Z'), "/");
    EXPECT_EQ(platform::DriveFolder('C'), std::nullopt);

    // The default prefix is ~/.wine.
    fs::create_directories(home / ".wine/dosdevices");
    fs::create_directories(home / ".wine/drive_c");
    fs::create_symlink("../drive_c", home / ".wine/dosdevices/c:");
    EXPECT_EQ(platform::DriveFolder('C'), home / ".wine/drive_c");
    EXPECT_EQ(platform::DriveFolder('Z'), std::nullopt);
}

TEST(CaseInsensitivePaths, EachMissingComponentIsMatchedIgnoringCase)
{
    TempFolder dir;
    fs::create_directories(dir / "Music/Game");
    testsupport::WriteFileBytes(dir / "Music/Game/Stage1.NSF", "x");
    testsupport::WriteFileBytes(dir / "Music/Game/.Hidden.mid", "x");

    EXPECT_EQ(platform::MatchPathIgnoringCase(dir / "music/GAME/stage1.nsf"),
              dir / "Music/Game/Stage1.NSF");
    EXPECT_EQ(platform::MatchPathIgnoringCase(dir / "Music/Game/Stage1.NSF"),
              dir / "Music/Game/Stage1.NSF");
    EXPECT_EQ(platform::MatchPathIgnoringCase(dir / "MUSIC/game/.hidden.MID"),
              dir / "Music/Game/.Hidden.mid");
    EXPECT_EQ(platform::MatchPathIgnoringCase(dir / "music/game/stage2.nsf"), std::nullopt);
    // A file is no folder to go on in.
    EXPECT_EQ(platform::MatchPathIgnoringCase(dir / "music/game/stage1.nsf/x"), std::nullopt);

    // Relative paths start from the current folder, and stay relative.
    ASSERT_TRUE(fs::exists(dir.Path()));
    fs::current_path(dir.Path());
    EXPECT_EQ(platform::MatchPathIgnoringCase("music/./GAME/stage1.nsf"), "Music/Game/Stage1.NSF");
}

TEST(CaseInsensitivePaths, TheExactSpellingWinsThenTheOneThatLeadsToTheFile)
{
    TempFolder dir;
    fs::create_directories(dir / "Songs");
    fs::create_directories(dir / "songs");
    fs::create_directories(dir / "SONGS");
    testsupport::WriteFileBytes(dir / "songs/a.mid", "exact");
    testsupport::WriteFileBytes(dir / "Songs/a.mid", "other");
    testsupport::WriteFileBytes(dir / "SONGS/only.mid", "x");

    EXPECT_EQ(platform::MatchPathIgnoringCase(dir / "songs/A.MID"), dir / "songs/a.mid");
    // No exact spelling: the first in byte order, always the same one.
    EXPECT_EQ(platform::MatchPathIgnoringCase(dir / "sONGS/a.mid"), dir / "Songs/a.mid");
    // Only one spelling of the folder holds the file.
    EXPECT_EQ(platform::MatchPathIgnoringCase(dir / "songs/ONLY.mid"), dir / "SONGS/only.mid");
}

TEST(WindowsPlaylistPaths, DriveBackslashesCodePageAndCaseAllResolve)
{
    WinePrefix wine;
    const std::string folder = wine.driveC + "/Music/ゲーム";
    fs::create_directories(folder);
    testsupport::WriteFileBytes(folder + "/ソ表 Stage1.nsf", "x");

    const std::string written = "C:\\MUSIC\\" + kGame + "\\" + kSo + kHyou + " stage1.NSF";
    const platform::ForeignPath found = platform::ResolveWindowsPath(written);
    EXPECT_TRUE(found.Found);
    EXPECT_EQ(found.Path, folder + "/ソ表 Stage1.nsf");

    // Z: is the root, and forward slashes do as well as backslashes.
    fs::create_directories(wine.dir / "Other");
    testsupport::WriteFileBytes(wine.dir / "Other/ソ.nsf", "x");
    const platform::ForeignPath onZ =
        platform::ResolveWindowsPath("z:" + wine.dir.Path() + "/OTHER\\" + kSo + ".NSF");
    EXPECT_TRUE(onZ.Found);
    EXPECT_EQ(onZ.Path, wine.dir / "Other/ソ.nsf");
}

TEST(WindowsPlaylistPaths, RelativePathsWithBackslashesStayRelative)
{
    TempFolder dir;
    fs::create_directories(dir / "Game");
    testsupport::WriteFileBytes(dir / "Game/Stage1.nsf", "x");
    fs::current_path(dir.Path());
    const platform::ForeignPath found = platform::ResolveWindowsPath("game\\stage1.nsf");
    EXPECT_TRUE(found.Found);
    EXPECT_EQ(found.Path, "Game/Stage1.nsf");
}

TEST(WindowsPlaylistPaths, ANameThatExistsAsWrittenIsUsedUnchanged)
{
    TempFolder dir;
    // Legal names here, though Windows would read them otherwise.
    testsupport::WriteFileBytes(dir / "a\\b.mid", "x");
    testsupport::WriteFileBytes(dir / (kSo + ".mid"), "x");
    EXPECT_EQ(platform::ResolveWindowsPath(dir / "a\\b.mid").Path, dir / "a\\b.mid");
    EXPECT_EQ(platform::ResolveWindowsPath(dir / (kSo + ".mid")).Path, dir / (kSo + ".mid"));
}

TEST(WindowsPlaylistPaths, WhatResolvesToNothingSaysWhereItWasLookedFor)
{
    WinePrefix wine;
    // A drive with a folder: the Linux path that was looked for.
    platform::ForeignPath missing = platform::ResolveWindowsPath("C:\\Music\\" + kGame + ".nsf");
    EXPECT_FALSE(missing.Found);
    EXPECT_EQ(missing.Path, wine.driveC + "/Music/ゲーム.nsf");
    // A drive that maps nowhere: the text as written, readable in the log.
    missing = platform::ResolveWindowsPath("D:\\" + kGame + ".nsf");
    EXPECT_FALSE(missing.Found);
    EXPECT_EQ(missing.Path, "D:\\ゲーム.nsf");
    EXPECT_FALSE(platform::ResolveWindowsPath("").Found);
    EXPECT_EQ(platform::ResolveWindowsPath("").Path, "");
}
