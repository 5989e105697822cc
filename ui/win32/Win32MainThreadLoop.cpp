#include "ui/win32/Win32MainThreadLoop.h"

#include "platform/MainThreadQueue.h"

#include <atomic>

namespace {

// The window the wake-up hook posts to; written on the main thread, read by any.
std::atomic<HWND> gQueueWindow{nullptr};
std::atomic<UINT> gQueueMessage{0};
DWORD gMainThread = 0;

// One message, as the program's loop would handle it; false for WM_QUIT.
bool Dispatch(MSG& message, const std::function<bool(MSG&)>& preTranslate)
{
    if (message.message == WM_QUIT)
        return false;
    if (!preTranslate || !preTranslate(message)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return true;
}

} // namespace

void InstallMainThreadQueueHook(HWND window, UINT message)
{
    gQueueWindow = window;
    gQueueMessage = message;
    if (window == nullptr) {
        platform::MainThreadQueue::SetWakeUpHook(nullptr);
        return;
    }
    gMainThread = GetCurrentThreadId();
    platform::MainThreadQueue::SetCurrentThreadAsMain();
    // A message posted to a window, not to the thread: modal loops (message boxes, menus, the
    // common dialogs) dispatch it too.
    platform::MainThreadQueue::SetWakeUpHook([] {
        if (HWND target = gQueueWindow.load())
            PostMessageW(target, gQueueMessage.load(), 0, 0);
    });
}

void ServeMainThreadQueue()
{
    platform::MainThreadQueue::Serve();
}

void ProcessPendingMessages(const std::function<bool(MSG&)>& preTranslate)
{
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (!Dispatch(message, preTranslate)) {
            PostQuitMessage(static_cast<int>(message.wParam));
            return;
        }
    }
}

void TWin32MainThreadLoop::RunUntil(const std::function<bool()>& done)
{
    bool quit = false;
    int quitCode = 0;
    while (!done()) {
        MSG message;
        if (!PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            // Nothing waiting: sleep until a message or a queued call's wake-up arrives.
            MsgWaitForMultipleObjectsEx(0, nullptr, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
            continue;
        }
        if (!Dispatch(message, FPreTranslate)) {
            // The program is to end, but the wait goes on until what it waits for is over.
            quit = true;
            quitCode = static_cast<int>(message.wParam);
        }
    }
    if (quit)
        PostQuitMessage(quitCode);
}

void TWin32MainThreadLoop::Wake()
{
    // Every wait checks its condition after each message.
    if (HWND target = gQueueWindow.load())
        PostMessageW(target, WM_NULL, 0, 0);
    else if (gMainThread != 0)
        PostThreadMessageW(gMainThread, WM_NULL, 0, 0);
}
