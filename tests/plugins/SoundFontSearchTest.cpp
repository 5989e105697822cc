// Where midi.kpi finds its SoundFont: the variable, then beside the plug-in, then Debian's.
#include "plugins/midi/SoundFontSearch.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <filesystem>

using midikpi::FindSoundFont;
using midikpi::SoundFontPlaces;
using testsupport::TempFolder;
using testsupport::WriteFileBytes;

TEST(SoundFontSearch, VariableThenFirstBesideThePluginByNameThenTheSystemList)
{
    TempFolder dir;
    std::filesystem::create_directories(dir / "plugins/c.sf2"); // a folder, not a SoundFont
    for (const char* name :
         {"plugins/b.sf2", "plugins/a.SF3", "plugins/.hidden.sf2", "plugins/0.txt", "system.sf2"})
        WriteFileBytes(dir / name, "x");
    SoundFontPlaces places;
    places.PluginFolder = dir / "plugins";
    places.SystemFiles = {dir / "missing.sf2", dir / "system.sf2"};

    // Taken as given, even where no file is: a wrong name must not quietly sound different.
    const std::string named = dir / "mine.sf2";
    places.Variable = named.c_str();
    EXPECT_EQ(FindSoundFont(places), named);
    const std::string empty;
    places.Variable = empty.c_str();
    EXPECT_EQ(FindSoundFont(places), dir / "plugins/a.SF3");
    places.Variable = nullptr;
    EXPECT_EQ(FindSoundFont(places), dir / "plugins/a.SF3");

    std::filesystem::remove(dir / "plugins/a.SF3");
    EXPECT_EQ(FindSoundFont(places), dir / "plugins/b.sf2");
    std::filesystem::remove(dir / "plugins/b.sf2");
    EXPECT_EQ(FindSoundFont(places), dir / "system.sf2");
    std::filesystem::remove(dir / "system.sf2");
    EXPECT_EQ(FindSoundFont(places), "");
}
