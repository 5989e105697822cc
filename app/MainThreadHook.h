// Lets the Qt event loop serve the calls that worker threads hand to the main thread.
#pragma once

// Call once after the QCoreApplication exists.
void InstallMainThreadQueueHook();
