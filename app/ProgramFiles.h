// Where the programs keep the files they write at exit, the run log and "plugin.cache": beside
// the program, as portable copies always have; when the program's folder cannot be written (an
// installed copy), in the user's own folders, the run log with the user's state and the cache
// with the user's caches. The window and the command line choose by the same rule, so the
// files of both lie in one place.
#pragma once

#include "platform/FileSystem.h"

#include <string>

// The run log of the program at programPath: its name with ".log" for its extension, in the
// program's folder or else in the user's state folder. Creates the user's folder when that is
// the one chosen.
std::string RunLogPath(const std::string& programPath = platform::ExecutablePath());

// The folder for "plugin.cache": the program's folder or else the user's cache folder. Creates
// the user's folder when that is the one chosen.
std::string PluginCacheFolder(const std::string& programPath = platform::ExecutablePath());
