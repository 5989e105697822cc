// Which General MIDI SoundFont the plug-in plays with. The first of:
// - the file that PELLAN_SOUNDFONT names (taken as given: a user who names a file means it,
//   so a wrong name fails the open rather than quietly sounding different);
// - the first .sf2 or .sf3 file beside the plug-in, by name, so that a copied plug-in
//   folder brings its own sound;
// - Debian's SoundFonts: the default-GM.sf2 alternative, then FluidR3_GM.sf2, then
//   TimGM6mb.sf2.
#pragma once

#include <string>
#include <vector>

namespace midikpi {

constexpr const char* kSoundFontVariable = "PELLAN_SOUNDFONT";

struct SoundFontPlaces {
    const char* Variable = nullptr; // the variable's value, nullptr when unset
    std::string PluginFolder;       // empty when unknown
    std::vector<std::string> SystemFiles;
};

// Where this plug-in looks when it runs.
SoundFontPlaces DefaultSoundFontPlaces();

// The SoundFont to load, or an empty text when there is none.
std::string FindSoundFont(const SoundFontPlaces& places);

// Why the file at path cannot be the SoundFont, for the user: it is missing or unreadable, a
// folder, no plain file (a pipe would block the read for ever), or no SoundFont at all; "" when
// it looks like one. Nothing is read from anything but a plain file.
std::string SoundFontProblem(const std::string& path);

} // namespace midikpi
