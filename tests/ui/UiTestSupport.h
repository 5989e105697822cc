// What the window tests share: a Qt application without a display, a settings store in a
// temporary folder, dialogs that answer from a script, and a way to wait for the window.
#pragma once

#include "tests/support/ScriptedDialogs.h"
#include "tests/support/TempFolder.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class TAppRegistry;
class TQtSettingsStore;
class TRunLog;
class TfrmMain;

namespace uitest {

using testsupport::ScriptedDialogs;

// A fresh settings store and run log for one test; the settings live in a temporary folder
// and the end request of an earlier test is forgotten.
class AppEnvironment {
public:
    AppEnvironment();
    ~AppEnvironment();
    testsupport::TempFolder Dir;
    std::unique_ptr<TQtSettingsStore> Store;
    std::unique_ptr<TAppRegistry> Registry;
    std::unique_ptr<TRunLog> Log;
    // Replaces the registry with a new one reading the same store, as a restart would.
    void Restart();
};

// The log list's lines, as the run log holds them.
std::vector<std::string> LogLines(TfrmMain& window);

// Processes events until done() holds or the time runs out; false on time-out.
bool WaitUntil(const std::function<bool()>& done, int timeoutMs = 10000);

} // namespace uitest
