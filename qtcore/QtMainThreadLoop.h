// The main-thread loop on Qt's event loop: worker threads' calls to the main thread are served
// by the event loop (through the queue's wake-up hook), and a flow's wait is a nested event loop,
// so that the window stays responsive while a playlist entry is decoded.
#pragma once

#include "app/MainThreadLoop.h"

#include <vector>

class QEventLoop;

// Makes the calling thread the main thread and lets Qt's event loop serve the calls that
// worker threads queue. Call once after the QCoreApplication exists.
void InstallMainThreadQueueHook();

class TQtMainThreadLoop : public IMainThreadLoop {
public:
    void RunUntil(const std::function<bool()>& done) override;
    // Main thread.
    void Wake() override;

private:
    std::vector<QEventLoop*> FLoops; // the waits in progress, innermost last
};
