// Ctrl+C and termination requests for a console program. The first request reaches the main
// thread as a posted call, so that a decode can stop in order and delete its file; then, on the
// thread that received it, it runs the action that must not wait for the main thread (ending
// the plug-in hosts whose calls the stop would otherwise wait for). A second request of either
// kind ends the process at once, from the handler itself, after deleting the files in progress:
// a plug-in blocked inside a call cannot hold it up, and the plug-in hosts go with the process.
#pragma once

#include <functional>

namespace platform {

class StopRequests {
public:
    // Main thread. From now on a first request posts onFirst to the main thread, and once that
    // has run (or a second has passed) runs atOnce on the thread that received the request (the
    // signal watcher, the console's control thread).
    static bool Install(std::function<void()> onFirst, std::function<void()> atOnce = nullptr);
    // Main thread. Requests take their default effect again.
    static void Uninstall();
    // The status a program stopped by the first request exits with: 128 + the signal's number
    // (130 for Ctrl+C, 143 for SIGTERM).
    static int ExitStatus();
};

} // namespace platform
