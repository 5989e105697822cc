// The program's run from start to exit, in the order that start-up and shutdown require.
#pragma once

#include <functional>

class TfrmMain;

// Runs the window program. Its arguments go nowhere, not even to Qt. afterStart, when given, is
// called once the main window has been created (tests close the window from it). SIGTERM,
// SIGINT and SIGHUP close the window as the user would.
int RunPellanDecode(int& argc, char** argv,
                    const std::function<void(TfrmMain&)>& afterStart = nullptr);
