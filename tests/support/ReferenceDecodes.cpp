#include "tests/support/ReferenceDecodes.h"

namespace testsupport {

std::vector<ReferenceSong> ReferenceSongs()
{
    std::vector<ReferenceSong> songs;
    testkpi::TestSong known; // a length of its own: no fade
    known.Length = "1500";
    known.Frames = "66150";
    songs.push_back({"single.tst", known});
    testkpi::TestSong endless; // faded from its length
    endless.Length = "2000";
    endless.Endless = true;
    endless.Frames = "inf";
    songs.push_back({"endless.tst", endless});
    testkpi::TestSong shortSong;
    shortSong.Length = "100";
    shortSong.Frames = "4410";
    songs.push_back({"a.tst", shortSong});
    shortSong.Bits = 24;
    songs.push_back({"b.tst", shortSong});
    shortSong.Bits = 16;
    shortSong.Channels = 1;
    songs.push_back({"c.tst", shortSong});
    testkpi::TestSong game; // three songs that never end: faded at the default length
    game.Songs = 3;
    game.Frames = "inf";
    songs.push_back({"game.tst", game});
    return songs;
}

std::vector<ReferenceSingle> ReferenceSingles()
{
    return {{"single.tst", "CD", 1, "single.wav"},
            {"endless.tst", kReferenceSetting.Name, 1, "endless.wav"},
            {"game.tst", kReferenceSetting.Name, 3, "game-3.wav"}};
}

std::string ReferencePlaylist(const std::string& folder, char delimiter)
{
    const std::string at = folder + delimiter;
    // Tags as the playlist holds them, Japanese included: they reach the files unchanged.
    return "KbMIDI Player Play List\r\n"
           "0=" +
           at +
           "a.tst\r\n2=First\r\n3=Singer\r\n-\r\n"
           "0=" +
           at +
           "b.tst\r\n2=二曲目\r\n-\r\n"
           "0=" +
           at +
           "game.tst::2\r\n3=Chip\r\n-\r\n"
           "0=" +
           at + "c.tst\r\n";
}

std::vector<std::string> ReferencePlaylistOutputs()
{
    return {"a.wav", "b.wav", "game[2].wav", "c.wav"};
}

} // namespace testsupport
