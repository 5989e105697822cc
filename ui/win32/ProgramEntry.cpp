#include "ui/win32/ProgramEntry.h"

#include "app/KbMD_Common.h"
#include "app/KbMPath.h"
#include "app/MainWndTexts.h"
#include "app/ProgramFiles.h"
#include "app/ProgramSession.h"
#include "app/SettingsStore.h"
#include "ui/win32/MainWnd.h"
#include "ui/win32/Win32Controls.h"
#include "ui/win32/Win32UserDialogs.h"

#include <ole2.h>

#include <cstdio>
#include <exception>
#include <string>

int RunPellanDecode(std::unique_ptr<ISettingsStore> store,
                    const std::function<void(TfrmMain&)>& afterStart)
{
    // The shell's folder browser needs OLE on this thread.
    const HRESULT ole = OleInitialize(nullptr);
    TProgramSession session(std::move(store));
    int result = 0;
    bool ended = false;
    const auto showError = [](const std::string& text) {
        MessageBoxW(nullptr, Wide(text).c_str(), Wide(wndtext::kApplicationTitle).c_str(),
                    MB_OK | MB_ICONERROR);
    };
    // Once the main window is gone: the registry is closed and the run log written. When that
    // fails, the reason and what the shutdown logged (in no file now) are shown.
    const auto end = [&] {
        if (ended)
            return;
        ended = true;
        const auto unsaved = session.End(RunLogPath());
        if (unsaved.empty())
            return;
        std::string text;
        for (const std::string& line : unsaved)
            text += line + "\r\n";
        showError(text);
    };
    try {
        TWin32UserDialogs dialogs;
        // The main window shows itself at the end of its creation step, once the plug-ins and
        // the settings are loaded; nothing else shows it.
        TfrmMain window(dialogs);
        dialogs.SetOwner(window.Handle());
        window.OnClosed = [] { PostQuitMessage(0); };
        if (window.ClosePending())
            PostMessageW(window.Handle(), WM_CLOSE, 0, 0);
        // The system ends the program soon after the session's end: everything is written now,
        // as at every exit.
        window.OnEndSession = [&] {
            session.ShutdownBegins();
            DestroyWindow(window.Handle());
            end();
            PostQuitMessage(0);
        };
        if (afterStart)
            afterStart(window);
        if (!EndRequested()) {
            MSG message;
            while (GetMessageW(&message, nullptr, 0, 0) > 0) {
                if (!window.PreTranslateMessage(message)) {
                    TranslateMessage(&message);
                    DispatchMessageW(&message);
                }
            }
            result = static_cast<int>(message.wParam);
        }
        if (!ended)
            session.ShutdownBegins();
        // Leaving the block destroys the window: the driver goes (the plug-in cache is
        // written), then the decode settings are stored.
    } catch (const std::exception& error) {
        // Logged for the run log; shown where a window can still be shown, and written to the
        // standard error for whoever started the program from a console.
        RunLog->Add(error.what());
        std::fprintf(stderr, "%s: %s\n", wndtext::kApplicationTitle, error.what());
        showError(error.what());
        result = 1;
    }
    end();
    if (SUCCEEDED(ole))
        OleUninitialize();
    return result;
}
