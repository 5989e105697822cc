// The KBM playlist reader: the header, line breaks, the line rules and how entries are handed
// out. Arbitrary bytes are left to the fuzz target, which checks them against a model.
#include "platform/Errors.h"
#include "playlist/kpiPlayListReader.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <filesystem>

using testsupport::TempFolder;

namespace {

const std::string kHeader = "KbMIDI Player Play List";
const std::string kCannotOpen = "エラー：KBM プレイリストを開けません。";

// A literal's bytes, NULs included.
template <size_t N> std::string Bytes(const char (&text)[N])
{
    return std::string(text, N - 1);
}

// An expected entry; fields left out are empty.
struct Entry {
    Entry(std::string fileName = "", std::string archiveItem = "", std::string title = "",
          std::string artist = "")
        : FileName(std::move(fileName)), ArchiveItem(std::move(archiveItem)),
          Title(std::move(title)), Artist(std::move(artist))
    {}
    std::string FileName, ArchiveItem, Title, Artist;
};

bool operator==(const TZoKbmPlayListEntry& a, const Entry& b)
{
    return a.FileName == b.FileName && a.ArchiveItem == b.ArchiveItem && a.Title == b.Title &&
           a.Artist == b.Artist;
}

std::string Show(const TZoKbmPlayListEntry& e)
{
    return '{' + e.FileName + '|' + e.ArchiveItem + '|' + e.Title + '|' + e.Artist + '}';
}

class PlaylistFile : public ::testing::Test {
protected:
    // Every entry of a playlist holding bytes, read as the playlist decoding reads them.
    std::vector<TZoKbmPlayListEntry> ReadAll(const std::string& bytes)
    {
        testsupport::WriteFileBytes(Path(), bytes);
        TZoKbmPlayListReader reader(Path());
        std::vector<TZoKbmPlayListEntry> entries;
        while (!reader.Eof()) {
            entries.emplace_back();
            reader.ReadEntry(entries.back());
        }
        return entries;
    }

    // The message the reader raised for bytes, or "" when it opened them.
    std::string OpenFailure(const std::string& bytes)
    {
        testsupport::WriteFileBytes(Path(), bytes);
        try {
            TZoKbmPlayListReader reader(Path());
            return "";
        } catch (const EZoError& e) {
            return e.what();
        }
    }

    std::string Path() const { return dir / "list.kbm"; }

    // Lines joined with CR LF after the header line.
    static std::string Playlist(const std::vector<std::string>& lines,
                                const std::string& br = "\r\n")
    {
        std::string text = kHeader;
        for (const std::string& line : lines)
            text += br + line;
        return text;
    }

    TempFolder dir;
};

void ExpectEntries(const std::vector<TZoKbmPlayListEntry>& actual,
                   const std::vector<Entry>& expected)
{
    ASSERT_EQ(actual.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i)
        EXPECT_TRUE(actual[i] == expected[i]) << "entry " << i << ": " << Show(actual[i]);
}

} // namespace

TEST_F(PlaylistFile, HeaderOnlyGivesOneEmptyEntry)
{
    ExpectEntries(ReadAll(kHeader), {{}});
    ExpectEntries(ReadAll(kHeader + "\r\n"), {{}});
    ExpectEntries(ReadAll(kHeader + "\n\n;comment\n"), {{}});
}

TEST_F(PlaylistFile, AnythingButTheExactHeaderLineIsRefused)
{
    for (const std::string& bytes : {
             std::string(),
             kHeader + " ",
             " " + kHeader,
             std::string("KbMIDI Player Play list"),
             std::string("KBMIDI PLAYER PLAY LIST"),
             "\xEF\xBB\xBF" + kHeader,
             "\r\n" + kHeader,
             Bytes("\0") + kHeader,
             Bytes("KbMIDI\0 Player Play List"),
             std::string("KbMIDI Player Play"),
         }) {
        SCOPED_TRACE(::testing::PrintToString(bytes));
        EXPECT_EQ(OpenFailure(bytes), kCannotOpen);
    }
    EXPECT_EQ(OpenFailure(kHeader + "\n0=a"), "");
    EXPECT_EQ(OpenFailure(kHeader + Bytes("\0garbage")), "");

    // A file that is missing or is a folder cannot be read.
    for (const std::string& path : {dir / "missing.kbm", dir.Path()}) {
        try {
            TZoKbmPlayListReader reader(path);
            ADD_FAILURE() << path << " opened";
        } catch (const EZoError& e) {
            EXPECT_EQ(e.what(), kCannotOpen);
        }
    }
}

TEST_F(PlaylistFile, OneCharacterLinesEndEntriesAndTheLastNeedsNone)
{
    const std::vector<std::string> lines = {"0=a.mid", "2=Song", "3=Singer", "*", "0=b.mid"};
    const std::vector<Entry> two = {{"a.mid", "", "Song", "Singer"}, {"b.mid", "", "", ""}};
    ExpectEntries(ReadAll(Playlist(lines)), two);

    auto closed = lines;
    closed.push_back("/");
    ExpectEntries(ReadAll(Playlist(closed)), two);
    ExpectEntries(ReadAll(Playlist(closed) + "\r\n"), two);

    // Any line after the last one-character line starts one more entry, empty as it may be.
    auto three = two;
    three.push_back({});
    ExpectEntries(ReadAll(Playlist(closed) + "\r\n\r\n"), three);
    ExpectEntries(ReadAll(Playlist(closed) + "\r\n;comment"), three);

    // Two one-character lines in a row enclose an empty entry; ";" alone is a comment.
    ExpectEntries(ReadAll(Playlist({"0=a", "*", "*", "0=b"})), {{"a"}, {}, {"b"}});
    ExpectEntries(ReadAll(Playlist({"0=a", ";", "0=b"})), {{"b"}});
}

TEST_F(PlaylistFile, FieldLinesTakeTheTextFromTheThirdCharacter)
{
    ExpectEntries(ReadAll(Playlist({"0=a.mid", "1=inner.mid", "2 Abc", "3:Who", "2=Abc2"})),
                  {{"a.mid", "inner.mid", "Abc2", "Who"}});
    // "0" alone ends the entry and leaves the file name; "0=" empties it.
    ExpectEntries(ReadAll(Playlist({"0=a.mid", "0", "0=b.mid", "0="})), {{"a.mid"}, {}});
    // Values are kept byte for byte: blanks, a separator that is not "=", Shift_JIS bytes.
    ExpectEntries(ReadAll(Playlist({"0=C:\\music\\a.mid::2", "2= padded ", "3=\x83\x65\x83\x58"})),
                  {{"C:\\music\\a.mid::2", "", " padded ", "\x83\x65\x83\x58"}});
}

TEST_F(PlaylistFile, OtherLinesAreIgnored)
{
    ExpectEntries(ReadAll(Playlist({"4=x", "9=y", "Comment", " 0=blank", ";0=commented", "\t2=tab",
                                    "0=kept", "5"})),
                  {{"kept"}});
    // The header is itself one of the lines the first entry passes over.
    ExpectEntries(ReadAll(Playlist({"3=a"})), {{"", "", "", "a"}});
}

TEST_F(PlaylistFile, LineBreaksCrLfAndCrLfAloneAreOneBreakEach)
{
    const std::vector<std::string> lines = {"0=a.mid", "2=Song", "*", "0=b.mid", "3=Who"};
    const std::vector<Entry> expected = {{"a.mid", "", "Song", ""}, {"b.mid", "", "", "Who"}};
    for (const char* br : {"\r\n", "\r", "\n"}) {
        SCOPED_TRACE(::testing::PrintToString(std::string(br)));
        ExpectEntries(ReadAll(Playlist(lines, br)), expected);
        ExpectEntries(ReadAll(Playlist(lines, br) + br), expected);
    }
    // LF CR is two breaks, and so is CR CR: the empty line between them starts an entry.
    ExpectEntries(ReadAll(Playlist({"0=a", "*"}) + "\n\r"), {{"a"}, {}});
    ExpectEntries(ReadAll(Playlist({"0=a", "*"}) + "\r\r"), {{"a"}, {}});
    ExpectEntries(ReadAll(Playlist({"0=a", "*"}) + "\r"), {{"a"}});
    ExpectEntries(ReadAll(Playlist({"0=a\r\r\n*", "0=b"})), {{"a"}, {"b"}});
}

TEST_F(PlaylistFile, NulEndsTheText)
{
    ExpectEntries(ReadAll(Playlist({"0=ab"}) + Bytes("\0cd\r\n*\r\n0=c")), {{"ab"}});
    ExpectEntries(ReadAll(Playlist({"0=a", "*"}) + Bytes("\0\r\n0=b")), {{"a"}});

    // Far into a large file too: nothing after the NUL counts.
    std::string big = Playlist({"2=" + std::string(200000, 'x'), "0=before"});
    big += Bytes("\0\r\n0=after\r\n*\r\n0=more");
    const auto entries = ReadAll(big);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].FileName, "before");
    EXPECT_EQ(entries[0].Title.size(), 200000u);
}

TEST_F(PlaylistFile, ReadingPastTheEndHandsOutTheLastEntryAgain)
{
    testsupport::WriteFileBytes(Path(), Playlist({"0=a", "*", "0=b"}));
    TZoKbmPlayListReader reader(Path());
    EXPECT_EQ(reader.FileName(), Path());
    TZoKbmPlayListEntry entry;
    ASSERT_FALSE(reader.Eof());
    reader.ReadEntry(entry);
    EXPECT_EQ(entry.FileName, "a");
    ASSERT_FALSE(reader.Eof());
    reader.ReadEntry(entry);
    EXPECT_EQ(entry.FileName, "b");
    EXPECT_TRUE(reader.Eof());
    entry = {};
    reader.ReadEntry(entry);
    EXPECT_EQ(entry.FileName, "b");
    EXPECT_TRUE(reader.Eof());
}
