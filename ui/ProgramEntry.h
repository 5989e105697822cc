// The program's run from start to exit, in the order that start-up and shutdown require.
#pragma once

#include <functional>

class TfrmMain;

// Runs the window program. afterStart, when given, is called once the main window has been
// created (tests close the window from it).
int RunPellanDecode(int& argc, char** argv,
                    const std::function<void(TfrmMain&)>& afterStart = nullptr);
