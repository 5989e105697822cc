// Paths written on Windows, found on this system: playlists made on Windows name their files
// with drive letters, backslashes, Shift_JIS names and whatever letter case the user typed.
#pragma once

#include <optional>
#include <string>

namespace platform {

struct ForeignPath {
    std::string Path;   // the path to use on this system
    bool Found = false; // whether Path names an existing file or folder
};

// Where the file that text names on Windows lies here. A text that names an existing file as
// it stands is used unchanged. Otherwise, on POSIX: a text that is not UTF-8 is read as code
// page 932; backslashes become separators; a drive letter becomes the folder Wine maps it to
// (DriveFolder); and each path component that does not exist as written is matched with its
// letter case ignored, as Windows matches names, an exact name winning over other spellings.
// When nothing is found, Path is the text turned as far as it could be (code page, separators,
// drive), or the text in UTF-8 when its drive maps nowhere. On Windows the system resolves
// names itself; only the code page of the text is bridged (932, else the ANSI code page).
// A relative text is taken from folder (an absolute path), never from the current folder, which
// a plug-in may have moved; Path is then absolute.
ForeignPath ResolveWindowsPath(const std::string& text, const std::string& folder);

#ifndef _WIN32
// The folder that a drive letter stands for: the target of the link
// $WINEPREFIX/dosdevices/<letter>: (prefix ~/.wine by default), the way Wine maps drives. With
// no such table Z: is the root of the file system, as in Wine's default table, and no other
// letter maps anywhere.
std::optional<std::string> DriveFolder(char letter);

// path, or the existing path that matches it when each component that is missing as written
// is compared with letter case ignored; none when no such path exists. Of several spellings
// the exact one wins, then the first in byte order.
std::optional<std::string> MatchPathIgnoringCase(const std::string& path);
#endif

} // namespace platform
