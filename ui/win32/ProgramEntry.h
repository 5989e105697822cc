// The window program's run from start to exit, in the order that start-up and shutdown
// require.
#pragma once

#include <functional>
#include <memory>

class ISettingsStore;
class TfrmMain;

// Runs the window program on store (the registry, for the program itself). afterStart, when
// given, is called once the main window has been created (tests close the window from it).
// Returns the program's exit code.
int RunPellanDecode(std::unique_ptr<ISettingsStore> store,
                    const std::function<void(TfrmMain&)>& afterStart = nullptr);
