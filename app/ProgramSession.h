// What a window program does around its main window, in the order that start-up and shutdown
// require: the version text is read, the program's key in the settings store is opened and the
// run log is created before the main window; once the main window is gone, the key is closed
// (the store written to permanent storage) and the run log is written beside the program.
#pragma once

#include <memory>
#include <string>
#include <vector>

class ISettingsStore;
class TAppRegistry;
class TRunLog;

class TProgramSession {
public:
    // Reads the version text and opens AppRegistry on store and an empty RunLog.
    explicit TProgramSession(std::unique_ptr<ISettingsStore> store);
    // Ends the session if End has not.
    ~TProgramSession();
    TProgramSession(const TProgramSession&) = delete;
    TProgramSession& operator=(const TProgramSession&) = delete;

    // The main window is about to be destroyed: lines logged from now on belong to its end.
    void ShutdownBegins();
    // Closes AppRegistry and its store and writes the run log to runLogPath, replacing the
    // file. When that fails, returns the reason followed by the lines logged since
    // ShutdownBegins, which the program shows where it can (they are in no log file); an empty
    // list otherwise.
    std::vector<std::string> End(const std::string& runLogPath);

private:
    std::unique_ptr<ISettingsStore> FStore;
    std::unique_ptr<TAppRegistry> FRegistry;
    std::unique_ptr<TRunLog> FRunLog;
    size_t FLinesBeforeShutdown = 0;
    bool FEnded = false;
};
