// Part files: an output takes its name only when asked, replacing an older file only when told
// to; what is discarded leaves nothing; a part file nobody holds is removed by the next sweep of
// its folder, a live one never.
#include "platform/PartFiles.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;
using platform::PartFile;

namespace {

void Write(const std::string& path, const std::string& bytes)
{
    std::ofstream(platform::FileSystemPath(path), std::ios::binary | std::ios::trunc) << bytes;
}

std::vector<std::string> Names(const std::string& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(platform::FileSystemPath(folder)))
        names.push_back(platform::PathText(entry.path().filename()));
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

TEST(PartFiles, TheTargetGetsItsNameOnlyAsAskedAndNothingElseIsLeft)
{
    testsupport::TempFolder dir;
    const std::string target = dir / "song.wav";
    Write(target, "older");
    std::string error;

    auto part = PartFile::Create(target, error);
    ASSERT_TRUE(part) << error;
    EXPECT_EQ(platform::ExtractFilePath(part->Path()), platform::ExtractFilePath(target));
    EXPECT_TRUE(platform::IsPartFileName(platform::ExtractFileName(part->Path())));
    Write(part->Path(), "newer");
    part->Hide();
    // Without replace an existing file is kept, and the new one goes.
    EXPECT_EQ(part->Commit(false, error), PartFile::Outcome::TargetExists);
    EXPECT_EQ(Names(dir.Path()), std::vector<std::string>{"song.wav"});

    part = PartFile::Create(target, error);
    ASSERT_TRUE(part) << error;
    Write(part->Path(), "newer");
    part->Hide();
    EXPECT_EQ(part->Commit(true, error), PartFile::Outcome::Moved) << error;
    EXPECT_EQ(testsupport::ReadFileBytes(target), "newer");
    EXPECT_FALSE(platform::IsPartFileName("song.wav"));

    part = PartFile::Create(dir / "other.wav", error);
    ASSERT_TRUE(part) << error;
    part->Discard();
    part.reset();
    EXPECT_EQ(Names(dir.Path()), std::vector<std::string>{"song.wav"});
}

TEST(PartFiles, ASweepRemovesWhatNoRunHoldsAndLeavesLiveOnes)
{
    testsupport::TempFolder dir;
    std::string error;
    auto live = PartFile::Create(dir / "live.wav", error);
    ASSERT_TRUE(live) << error;
    live->Hide();
    const std::string abandoned =
        platform::IncludeTrailingDelimiter(dir.Path()) + ".pellan-1-1-lost.wav.part";
    Write(abandoned, "left by a killed run");
    Write(dir / ".pellan-notes", "not ours");

    EXPECT_EQ(platform::RemoveAbandonedPartFiles(dir.Path()), std::vector<std::string>{abandoned});
    EXPECT_TRUE(platform::FileExists(live->Path()));
    EXPECT_TRUE(platform::FileExists(dir / ".pellan-notes"));
    live.reset();
    EXPECT_EQ(Names(dir.Path()), std::vector<std::string>{".pellan-notes"});
}
