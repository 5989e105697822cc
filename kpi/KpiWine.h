// Where Wine is, for running Windows plug-in hosts on Linux. Wine is looked for on PATH once, by
// looking at files only: no Wine process is started to find it.
//
// Wine's `wine` command runs 32-bit programs (and on most systems 64-bit ones too). Debian's
// `wine` is a script that always starts the 32-bit loader when that is installed, so a 64-bit
// program gets `wine64` from PATH, or else the 64-bit loader that lies beside the 32-bit one the
// script names (/usr/lib/wine/wine64), or else `wine` itself when it is a 64-bit program.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace kpihost {

struct WineLoaders {
    std::string Wine32; // "" when there is none
    std::string Wine64; // "" when there is none
};

// pathVariable is PATH's value.
WineLoaders FindWine(const std::string& pathVariable);

// What a Windows host under Wine gets on top of the program's environment: Wine's debugging
// messages are switched off unless the user asked for some. WINEPREFIX and everything else
// pass through.
std::vector<std::pair<std::string, std::string>> WineEnvironment();

} // namespace kpihost
