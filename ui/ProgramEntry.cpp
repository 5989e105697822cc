#include "ui/ProgramEntry.h"

#include "app/KbMD_Common.h"
#include "app/KbMPath.h"
#include "app/MainWndTexts.h"
#include "app/ProgramFiles.h"
#include "app/ProgramSession.h"
#include "qtcore/QtMainThreadLoop.h"
#include "qtcore/QtSettingsStore.h"
#include "qtcore/QtText.h"
#include "ui/Fonts.h"
#include "ui/MainWnd.h"
#include "ui/QtUserDialogs.h"
#include "ui/QuitSignals.h"

#include <QApplication>

#include <cstdio>
#include <memory>
#include <optional>

int RunPellanDecode(int& argc, char** argv, const std::function<void(TfrmMain&)>& afterStart)
{
    // First, so that a signal during the start is kept for the event loop.
    TQuitSignals quitSignals;
    TProgramSession session(std::make_unique<TQtSettingsStore>());

    // The program reads no command line, and neither may Qt: options such as -style or
    // -platform would change the program behind the user's back. Qt keeps references to these.
    static char defaultName[] = "PellanDecode";
    int qtArgc = 1;
    char* qtArgv[] = {argc > 0 && argv[0] != nullptr ? argv[0] : defaultName, nullptr};

    int result = 0;
    {
        // One application per process: a test that runs the program brings its own.
        std::optional<QApplication> ownApp;
        if (QCoreApplication::instance() == nullptr)
            ownApp.emplace(qtArgc, qtArgv);
        QGuiApplication::setApplicationDisplayName(ToQString(wndtext::kApplicationTitle));
        QGuiApplication::setDesktopFileName(QStringLiteral(PELLAN_DESKTOP_ID));
        RegisterFontSubstitutes();
        InstallMainThreadQueueHook();

        TfrmMain* shown = nullptr;
        bool quitRequested = false;
        TQtUserDialogs dialogs(nullptr);
        quitSignals.Watch([&] {
            quitRequested = true;
            // Nothing is asked any more: a question on screen, or one still to come during the
            // start, is answered as cancelled. The start runs to its end; then the program ends.
            dialogs.CancelAll();
            if (shown != nullptr && shown->isVisible())
                shown->close();
        });

        // The main window shows itself at the end of its creation step, once the plug-ins and
        // the settings are loaded; nothing else shows it.
        auto window = std::make_unique<TfrmMain>(dialogs);
        dialogs.SetOwner(window.get());
        shown = window.get();
        if (afterStart)
            afterStart(*window);
        if (!EndRequested() && !quitRequested)
            result = QApplication::exec();
        shown = nullptr;
        session.ShutdownBegins();
        window.reset(); // frees the driver (plug-in cache), then stores the decode settings
    }

    // Nobody is left to show a failure to but a terminal; what the shutdown logged would be
    // lost with the log, so it goes there too.
    for (const std::string& line : session.End(RunLogPath()))
        std::fprintf(stderr, "%s\n", line.c_str());
    return result;
}
