// The user's own folders for what a program keeps between runs, for a program installed where
// it cannot write beside itself.
#pragma once

#include <string>

namespace platform {

// The user's home folder: $HOME, else the user database's entry; "" when neither is known.
// Windows has no such folder for the program's purposes and gives "".
std::string HomeFolder();

// The folder for state kept between runs, such as logs: $XDG_STATE_HOME, else
// ~/.local/state; on Windows the local application data folder. "" when neither the variable
// nor a home folder is known.
std::string UserStateFolder();
// The folder for caches: $XDG_CACHE_HOME, else ~/.cache; on Windows the local application
// data folder. "" when neither is known.
std::string UserCacheFolder();

// Whether this process may create files in folder (an existing folder).
bool IsWritableFolder(const std::string& folder);

} // namespace platform
