// The ways a plug-in reaches the program through a host process, for tests that run the same
// cases through each: the test plug-in kept apart in the native host, and its Windows builds
// under Wine.
#pragma once

#include <string>

namespace testsupport {

enum class Hosting {
    Isolated,  // the native build in pellan-kpi-host
    Windows64, // the 64-bit DLL in pellan-kpi-host64.exe under Wine
    Windows32, // the 32-bit __stdcall DLL in pellan-kpi-host32.exe under Wine
};

// The build of the test plug-in that a hosting runs.
const char* VariantOf(Hosting hosting);
// For test names.
const char* NameOf(Hosting hosting);

// Whether this machine runs 32-bit Windows programs under Wine: its 32-bit Wine loader is
// installed and the machine can run 32-bit x86 code (the loader is such code); when not, why.
// Found by starting that loader once.
bool Runs32BitX86Code(std::string& why);

// The private Wine prefix that CTest boots for the Wine tests: "" and a failed test when the
// test was started without one, so that no test ever touches the user's own prefix.
std::string RequireWinePrefix();

} // namespace testsupport

// Skips the rest of a test of the 32-bit hosting on a machine that cannot run 32-bit Windows
// programs, and says so loudly. Anywhere else the test runs.
#define PELLAN_SKIP_UNLESS_HOSTING_RUNS(hosting)                                                   \
    do {                                                                                           \
        std::string why_;                                                                          \
        if ((hosting) == testsupport::Hosting::Windows32 && !testsupport::Runs32BitX86Code(why_))  \
            GTEST_SKIP() << "\n*** SKIPPED: 32-bit Windows programs cannot run here (" << why_     \
                         << "), so the 32-bit Windows plug-in cannot run under Wine. ***\n";       \
    } while (false)
