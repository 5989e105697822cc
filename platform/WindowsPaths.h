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
// in the Wine prefix (MapDrivePath); and each path component that does not exist as written is
// matched with its letter case ignored, as Windows matches names, an exact name winning over other
// spellings. When nothing is found, Path is the text turned as far as it could be (code page,
// separators, drive), or the text in UTF-8 when its drive maps nowhere. On Windows the system
// resolves names itself; only the code page of the text is bridged (932, else the ANSI code page).
// A relative text is taken from folder (an absolute path), never from the current folder, which
// a plug-in may have moved; Path is then absolute.
ForeignPath ResolveWindowsPath(const std::string& text, const std::string& folder);

#ifndef _WIN32
// The Wine prefix that Wine would use: $WINEPREFIX, else .wine in the home folder (from $HOME,
// else the user's entry in the password database, as Wine finds it); "" when there is neither.
std::string WinePrefixFolder();

// The drive table of prefix: the folder of its drives' links, named "c:", "z:" and so on.
std::string DriveTableFolder(const std::string& prefix);

// The folder that a drive letter stands for in prefix: its link in the drive table
// followed as Wine's own file access follows it (every link on the way resolved by the system,
// so ".." in a target means the parent of where the link leads). A folder put in the table by
// hand serves as well. With no table at all Z: is the root of the file system, as in the table
// Wine makes, and no other letter maps anywhere; a link that leads nowhere maps nowhere.
std::optional<std::string> DriveFolder(const std::string& prefix, char letter);

// The path here that a drive path ("C:\Program Files\...", either delimiter) names in prefix:
// "." and ".." taken by the letters as Windows takes them, never above the drive's root, then
// the drive's folder (DriveFolder) and each name after it matched as MatchPathIgnoringCase
// matches. Path is the path found, or the mapped path as written when none is. Nothing for a
// text without a drive letter, or a drive that maps nowhere.
std::optional<ForeignPath> MapDrivePath(const std::string& prefix, const std::string& drivePath);

// path, or the existing path that matches it when each component that is missing as written
// is compared with letter case ignored; none when no such path exists. Of several spellings
// the exact one wins, then the first in byte order.
std::optional<std::string> MatchPathIgnoringCase(const std::string& path);
#endif

} // namespace platform
