// The main-thread loop on the Win32 message loop. Worker threads' calls to the main thread are
// served when the window receives the message the queue's wake-up hook posts to it; a flow's
// wait is a nested message loop, so that the window stays usable while a playlist entry is
// decoded. Main thread only, except the wake-up hook.
#pragma once

#include "app/MainThreadLoop.h"

#include <windows.h>

#include <functional>

// Makes the calling thread the main thread and has each queued call post message to window, whose
// handler calls ServeMainThreadQueue. A null window removes the hook.
void InstallMainThreadQueueHook(HWND window, UINT message);
void ServeMainThreadQueue();

// Runs the window messages waiting now, each through preTranslate first (the dialog keys),
// without waiting for more. A quit request met on the way is kept for the outer loop.
void ProcessPendingMessages(const std::function<bool(MSG&)>& preTranslate);

class TWin32MainThreadLoop : public IMainThreadLoop {
public:
    explicit TWin32MainThreadLoop(std::function<bool(MSG&)> preTranslate)
        : FPreTranslate(std::move(preTranslate))
    {}
    // Runs messages until done() holds, sleeping while none come.
    void RunUntil(const std::function<bool()>& done) override;
    void Wake() override;

private:
    std::function<bool(MSG&)> FPreTranslate;
};
