// Names that Windows reads otherwise, and the plain-named links that stand in for them.
#include "platform/PlainNames.h"
#include "platform/FilesInProgress.h"
#include "tests/support/ScopedEnvironment.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

using testsupport::TempFolder;
namespace fs = std::filesystem;

TEST(PlainNames, NamesWindowsWouldReadOtherwiseAreFoundInAnyComponent)
{
    for (const std::string plain : {"/music/a.mid", "/ミュージック/曲 1.mid", "/a/.hidden/b..c.mid",
                                    "/x/../y/./z.mid", "/null/cons.mid", "/com10.mid"})
        EXPECT_EQ(platform::WindowsNameProblem(plain), "") << plain;
    for (const std::string odd :
         {"/a\\b.mid", "/q\"uote/a.mid", "/p|q.mid", "/a<b.mid", "/a>b.mid", "/c:/a.mid",
          "/star*.mid", "/what?.mid", "/tab\t.mid", "/dot./a.mid", "/blank /a.mid", "/NUL.mid",
          "/com1 .txt", "/x/Lpt9", "/bad\xff.mid"})
        EXPECT_NE(platform::WindowsNameProblem(odd), "") << odd;
}

TEST(PlainNames, ALinkLeadsToItsFileFromAPrivateFolderThatGoesWithTheLastLink)
{
    TempFolder dir;
    testsupport::ScopedEnvironment environment;
    environment.Set("XDG_RUNTIME_DIR", dir / "runtime");
    fs::create_directories(dir / "runtime");
    testsupport::WriteFileBytes(dir / "a\\b.MID", "song");
    std::string error;
    auto first = platform::PlainNameLink::Make(dir / "a\\b.MID", error);
    ASSERT_NE(first, nullptr) << error;
    auto second = platform::PlainNameLink::Make(dir / "x|y.s?t", error);
    ASSERT_NE(second, nullptr) << error;
    const fs::path folder = fs::path(first->Path()).parent_path();
    EXPECT_EQ(folder.parent_path(), dir / "runtime");
    EXPECT_EQ(fs::status(folder).permissions(), fs::perms::owner_all);
    EXPECT_EQ(testsupport::ReadFileBytes(first->Path()), "song");
    EXPECT_EQ(platform::WindowsNameProblem(first->Path()), "");
    EXPECT_EQ(fs::path(first->Path()).extension(), ".MID");
    EXPECT_EQ(fs::path(second->Path()).extension(), "") << "an extension Windows cannot read";
    first.reset();
    EXPECT_TRUE(fs::exists(folder));
    second.reset();
    EXPECT_FALSE(fs::exists(folder));

    // An emergency exit takes the links and their folder along.
    auto link = platform::PlainNameLink::Make(dir / "a\\b.MID", error);
    ASSERT_NE(link, nullptr) << error;
    platform::FilesInProgress::DeleteAllNow();
    EXPECT_TRUE(fs::is_empty(dir / "runtime"));
    EXPECT_TRUE(fs::exists(dir / "a\\b.MID"));
}
