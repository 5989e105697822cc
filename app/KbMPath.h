// Finds the folder that holds the decoder plug-ins: the one stored earlier, the host player's
// own, the one installed with the program, or one the user picks, and stores the answer.
#pragma once

#include <string>

class IUserDialogs;

// The folder of plug-ins installed with the program, or "" when it does not exist.
std::string BundledPluginFolder();

// The plug-in folder, possibly empty. May ask the user; a cancelled question requests the end
// of the program (EndRequested), after which nothing more is asked. bundledFolder is the
// folder installed with the program ("" for none).
std::string ResolvePluginFolder(IUserDialogs& dialogs,
                                const std::string& bundledFolder = BundledPluginFolder());

// The plug-in folder found without asking anybody: the stored folder, the host player's, then
// the bundled one; empty when none of them gives one. Stores nothing: the window's stored
// folder is the window's.
std::string
ResolvePluginFolderWithoutAsking(const std::string& bundledFolder = BundledPluginFolder());

// The end of the program was requested (a cancelled folder selection).
bool EndRequested();
void RequestEnd();
void ClearEndRequest(); // for tests
