// The window program's answer to SIGTERM, SIGINT and SIGHUP (a desktop session that ends, kill,
// Ctrl+C in the terminal it was started from): the main window is closed as if by the user, so
// that a running decode is stopped and the settings, the plug-in cache and the run log are
// written as at every exit. A second signal ends the program at once.
//
// The handlers only write a byte into a pipe; the main thread reads it through Qt's event loop
// and runs OnQuit there. Signals that arrive before the event loop runs wait in the pipe.
#pragma once

#include <functional>
#include <memory>

class QSocketNotifier;

class TQuitSignals {
public:
    // Installs the handlers; the earlier ones come back when the object goes.
    TQuitSignals();
    ~TQuitSignals();
    TQuitSignals(const TQuitSignals&) = delete;
    TQuitSignals& operator=(const TQuitSignals&) = delete;

    // Starts reading the pipe on the main thread's event loop (the application must exist);
    // onQuit runs there once for each signal.
    void Watch(std::function<void()> onQuit);

private:
    struct Saved;
    std::unique_ptr<Saved> FSaved;
    std::unique_ptr<QSocketNotifier> FNotifier;
    std::function<void()> FOnQuit;
};
