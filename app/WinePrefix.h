// The host player as installed under Wine: its key in the Wine prefix's registry, read from the
// prefix's user.reg file (no Wine process is started), and its path mapped through the prefix's
// drive table (platform::MapDrivePath, which Windows playlists go through as well).
#pragma once

#ifndef _WIN32
#include "platform/WindowsPaths.h"
#endif

#include <optional>
#include <string>

namespace wineprefix {

// A string value (REG_SZ or REG_EXPAND_SZ, as stored) of a key below HKEY_CURRENT_USER in a
// registry file of Wine's own text format ("WINE REGISTRY Version 2"), in UTF-8. Key and value
// names ignore letter case, as the registry's do. Nothing when the file, the key or the value
// is missing or is no string.
std::optional<std::string> ReadUserString(const std::string& registryFile, const std::string& key,
                                          const std::string& value);

#ifndef _WIN32
// The plug-in folder of a host player installed in the prefix: the folder of the executable
// that its key names, and in it "Plugins" (letter case ignored); nothing when no player is
// registered there.
std::optional<std::string>
HostPlayerPluginFolder(const std::string& prefix = platform::WinePrefixFolder());
#endif

} // namespace wineprefix
