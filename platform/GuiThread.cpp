#include "platform/GuiThread.h"

#ifdef _WIN32
#include "platform/WindowsText.h"

#include <ole2.h>
#include <windows.h>

#include <atomic>
#endif

namespace platform {

#ifdef _WIN32

namespace {

std::atomic<void (*)(const std::string&, const std::string&)> gDialogReport{nullptr};

std::string WindowText(HWND window)
{
    const int length = GetWindowTextLengthW(window);
    if (length <= 0)
        return std::string();
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    text.resize(static_cast<size_t>(GetWindowTextW(window, text.data(), length + 1)));
    return WideToUtf8(text);
}

// The texts of a dialog's static controls, for a dialog that is no message box.
BOOL CALLBACK CollectStaticText(HWND child, LPARAM into)
{
    wchar_t kind[16] = {};
    GetClassNameW(child, kind, 16);
    auto& text = *reinterpret_cast<std::string*>(into);
    if (lstrcmpiW(kind, L"Static") == 0) {
        const std::string line = WindowText(child);
        if (!line.empty())
            text += (text.empty() ? "" : " ") + line;
    }
    return TRUE;
}

// After a dialog's own initialisation, when its caption and texts are in place.
LRESULT CALLBACK DialogOpened(int code, WPARAM wParam, LPARAM lParam)
{
    const auto* call = reinterpret_cast<const CWPRETSTRUCT*>(lParam);
    if (code == HC_ACTION && call->message == WM_INITDIALOG) {
        if (auto report = gDialogReport.load()) {
            // A message box keeps its text in the control of this id.
            constexpr int kMessageBoxText = 0xFFFF;
            std::string text;
            if (HWND item = GetDlgItem(call->hwnd, kMessageBoxText))
                text = WindowText(item);
            if (text.empty())
                EnumChildWindows(call->hwnd, CollectStaticText, reinterpret_cast<LPARAM>(&text));
            report(WindowText(call->hwnd), text);
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

} // namespace

GuiThreadCom::GuiThreadCom()
{
    FInitialised = SUCCEEDED(OleInitialize(nullptr));
}

GuiThreadCom::~GuiThreadCom()
{
    if (FInitialised)
        OleUninitialize();
}

static_assert(sizeof(SRWLOCK) == sizeof(void*) && sizeof(CONDITION_VARIABLE) == sizeof(void*));

WakeSignal::WakeSignal(Waiter waiter)
{
    if (waiter == Waiter::WindowThread)
        FEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
}

WakeSignal::~WakeSignal()
{
    if (FEvent != nullptr)
        CloseHandle(FEvent);
}

void WakeSignal::Raise()
{
    if (FEvent != nullptr) {
        SetEvent(FEvent);
        return;
    }
    auto* lock = reinterpret_cast<PSRWLOCK>(&FLock);
    AcquireSRWLockExclusive(lock);
    FUp = true;
    ReleaseSRWLockExclusive(lock);
    WakeConditionVariable(reinterpret_cast<PCONDITION_VARIABLE>(&FRaised));
}

void WakeSignal::Wait()
{
    if (FEvent == nullptr) {
        auto* lock = reinterpret_cast<PSRWLOCK>(&FLock);
        AcquireSRWLockExclusive(lock);
        while (!FUp)
            SleepConditionVariableSRW(reinterpret_cast<PCONDITION_VARIABLE>(&FRaised), lock,
                                      INFINITE, 0);
        FUp = false;
        ReleaseSRWLockExclusive(lock);
        return;
    }
    HANDLE event = FEvent;
    for (;;) {
        // Input already waiting counts too, not only what came since the last look.
        const DWORD woke =
            MsgWaitForMultipleObjectsEx(1, &event, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        if (woke == WAIT_OBJECT_0)
            return;
        if (woke != WAIT_OBJECT_0 + 1) {
            // The wait itself failed: wait without the messages rather than spin.
            WaitForSingleObject(event, INFINITE);
            return;
        }
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT)
                continue;
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
}

void WatchDialogBoxes(void (*report)(const std::string& caption, const std::string& text))
{
    gDialogReport = report;
    SetWindowsHookExW(WH_CALLWNDPROCRET, DialogOpened, nullptr, GetCurrentThreadId());
}

#else

GuiThreadCom::GuiThreadCom() = default;
GuiThreadCom::~GuiThreadCom() = default;

WakeSignal::WakeSignal(Waiter) {}
WakeSignal::~WakeSignal() = default;

void WakeSignal::Raise()
{
    {
        std::lock_guard lock(FLock);
        FUp = true;
    }
    FRaised.notify_one();
}

void WakeSignal::Wait()
{
    std::unique_lock lock(FLock);
    FRaised.wait(lock, [this] { return FUp; });
    FUp = false;
}

void WatchDialogBoxes(void (*)(const std::string&, const std::string&)) {}

#endif

} // namespace platform
