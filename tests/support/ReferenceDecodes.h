// The decodes that the Windows window is compared with the Linux window on: the same song
// files, the same settings and the same playlist, decoded by each window through its own build
// of the test plug-in, must give the same WAV files byte for byte. Each side writes the songs
// into a folder of its own; the Linux side leaves its WAV files where the Windows side reads
// them.
#pragma once

#include "tests/testplugin/TestPluginHost.h"

#include <string>
#include <vector>

namespace testsupport {

// The settings both sides store before their window starts: "CD" as built in, and a short one
// that fades a song without an end out soon.
struct ReferenceSetting {
    const char* Name;
    int Rate, Bits, Channels, DefaultLength, Fadeout;
};
inline constexpr ReferenceSetting kReferenceSettings[2] = {{"CD", 44100, 16, 2, 115, 5000},
                                                           {"short", 44100, 16, 2, 10, 1000}};
inline constexpr const ReferenceSetting& kReferenceSetting = kReferenceSettings[1];

struct ReferenceSong {
    std::string File;
    testkpi::TestSong Song;
};
std::vector<ReferenceSong> ReferenceSongs();

// One decode of the single-file tab.
struct ReferenceSingle {
    std::string Source;  // a song's file name
    std::string Setting; // the setting's name
    int SongNumber;
    std::string Output; // the WAV file's name
};
std::vector<ReferenceSingle> ReferenceSingles();

// The playlist's text for the songs in folder (named with the platform's delimiter), decoded
// with kReferenceSetting, and the WAV files it gives beside them.
std::string ReferencePlaylist(const std::string& folder, char delimiter);
std::vector<std::string> ReferencePlaylistOutputs();

} // namespace testsupport
