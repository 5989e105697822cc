// The host player as installed under Wine: its key in the Wine prefix's registry, read from the
// prefix's user.reg file (no Wine process is started), and Windows paths mapped through the
// prefix's drive table to paths of this system.
#pragma once

#include <optional>
#include <string>

namespace wineprefix {

// The prefix Wine uses: $WINEPREFIX, or ~/.wine.
std::string PrefixFolder();

// A string value (REG_SZ or REG_EXPAND_SZ, as stored) of a key below HKEY_CURRENT_USER in a
// registry file of Wine's own text format ("WINE REGISTRY Version 2"), in UTF-8. Key and value
// names ignore letter case, as the registry's do. Nothing when the file, the key or the value
// is missing or is no string.
std::optional<std::string> ReadUserString(const std::string& registryFile, const std::string& key,
                                          const std::string& value);

// The path of this system that a drive path ("C:\Program Files\...") names in prefix: the
// drive's folder as the prefix's dosdevices link leads to it, each name after it matched to an
// entry of its folder ignoring letter case as Windows does (a name that matches nothing is kept as
// it is). Nothing for a path without a drive, or a drive the prefix does not have.
std::optional<std::string> MapDrivePath(const std::string& prefix, const std::string& drivePath);

// The plug-in folder of a host player installed in the prefix: the folder of the executable
// that its key names, and in it "Plugins" (letter case ignored); nothing when no player is
// registered there.
std::optional<std::string> HostPlayerPluginFolder(const std::string& prefix = PrefixFolder());

} // namespace wineprefix
